// The live echo through the real RtMidi backend, under the private JACK server
// (dummy driver) that the test fixture starts.
#include <rtmidi/RtMidi.h>
#include <QComboBox>
#include <QtTest>
#include <algorithm>
#include <mutex>
#include <vector>

#include "app/Form1.h"
#include "midi/backends/SystemDevices.h"

using namespace vantor;

using Bytes = std::vector<unsigned char>;

namespace {
struct Received
{
    std::mutex mutex;
    std::vector<Bytes> messages;
    std::vector<Bytes> Copy()
    {
        const std::lock_guard lock(mutex);
        return messages;
    }
};
bool Choose(QComboBox& combo, const QString& text)
{
    combo.setCurrentIndex(combo.findText(text, Qt::MatchContains));
    return combo.currentIndex() >= 0;
}
}  // namespace

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
        RtMidiIn sound(RtMidi::UNIX_JACK, "VantorProbeSound");
        Received received;  // filled on JACK's thread
        sound.setCallback(
            [](double, Bytes* message, void* user) {
                auto* to = static_cast<Received*>(user);
                const std::lock_guard lock(to->mutex);
                to->messages.push_back(*message);
            },
            &received);
        sound.openVirtualPort("sound");
        QStringList shown;
        Form1 form(CreateSystemDevices(),
                   {.ChooseMidiFile = [](QWidget*) { return QString(); },
                    .ShowMessage = [&](QWidget*, const QString& text) { shown << text; },
                    .Quit = [] {}});
        form.Form_Load();
        QVERIFY(Choose(*form.InputDevCombo, "VantorProbeKeys") &&
                Choose(*form.OutputDevCombo, "VantorProbeSound"));
        form.InputDevCombo_Click();
        form.OutputDevCombo_Click();
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join(QLatin1Char('\n'))));

        // Channel 4 and an odd velocity: the echo carries both unchanged.
        for (const Bytes& message : {Bytes{0x93, 64, 37}, Bytes{0x83, 64, 0}}) {
            keyboard.sendMessage(&message);
            QTRY_VERIFY_WITH_TIMEOUT(std::ranges::count(received.Copy(), message) == 1, 5000);
        }
    }
};

QTEST_MAIN(LiveInputJackTest)
#include "test_live_input_jack.moc"
