// The live echo through the real RtMidi backend, under the private JACK server
// (dummy driver) that the test fixture starts.
#include <rtmidi/RtMidi.h>
#include <QComboBox>
#include <QtTest>
#include <algorithm>
#include <vector>

#include "app/Form1.h"
#include "midi/backends/SystemDevices.h"

using namespace vantor;

using Bytes = std::vector<unsigned char>;

class LiveInputJackTest : public QObject
{
    Q_OBJECT
private slots:
    void a_note_played_into_the_input_comes_out_of_the_output()
    {
        if (qEnvironmentVariableIsEmpty("JACK_DEFAULT_SERVER"))
            QSKIP("needs the CTest jack fixture's server");
        RtMidiOut keyboard(RtMidi::UNIX_JACK, "VantorProbeKeys");
        keyboard.openVirtualPort("keys");
        std::vector<Bytes> received;
        QObject inbox;  // deliveries still pending are dropped with it
        std::pair<QObject*, std::vector<Bytes>*> target{&inbox, &received};
        RtMidiIn sound(RtMidi::UNIX_JACK, "VantorProbeSound");
        sound.setCallback(  // on JACK's thread: hand the message to this one
            [](double, Bytes* message, void* user) {
                auto* to = static_cast<std::pair<QObject*, std::vector<Bytes>*>*>(user);
                QMetaObject::invokeMethod(to->first,
                                          [to = to->second, copy = *message] { to->push_back(copy); });
            },
            &target);
        sound.openVirtualPort("sound");
        QStringList shown;
        Form1 form(CreateSystemDevices(),
                   {.ChooseMidiFile = [](QWidget*) { return QString(); },
                    .ShowMessage = [&](QWidget*, const QString& text) { shown << text; },
                    .Quit = [] {}});
        form.Form_Load();
        form.InputDevCombo->setCurrentIndex(
            form.InputDevCombo->findText("VantorProbeKeys", Qt::MatchContains));
        form.OutputDevCombo->setCurrentIndex(
            form.OutputDevCombo->findText("VantorProbeSound", Qt::MatchContains));
        QVERIFY(form.InputDevCombo->currentIndex() >= 0 && form.OutputDevCombo->currentIndex() >= 0);
        form.InputDevCombo_Click();
        form.OutputDevCombo_Click();
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join(QLatin1Char('\n'))));

        // Channel 4 and an odd velocity: the echo carries both unchanged.
        for (const Bytes& message : {Bytes{0x93, 64, 37}, Bytes{0x83, 64, 0}}) {
            keyboard.sendMessage(&message);
            QTRY_VERIFY_WITH_TIMEOUT(std::ranges::count(received, message) == 1, 5000);
        }
    }
};

QTEST_MAIN(LiveInputJackTest)
#include "test_live_input_jack.moc"
