// The live echo through the real RtMidi backend, under the private JACK server
// (dummy driver) that the test fixture starts.
#include <QComboBox>
#include <QtTest>

#include "app/Form1.h"
#include "midi/backends/SystemDevices.h"
#include "support/JackPeer.h"

using namespace vantor;
using namespace vantor::test;

class LiveInputJackTest : public QObject
{
    Q_OBJECT
private slots:
    void a_note_played_into_the_input_comes_out_of_the_output()
    {
        if (qEnvironmentVariableIsEmpty("JACK_DEFAULT_SERVER"))
            QSKIP("needs the CTest jack fixture's server");
        JackPeer peer("VantorProbe");
        QStringList shown;
        Form1 form(CreateSystemDevices(),
                   {.ChooseMidiFile = [](QWidget*) { return QString(); },
                    .ShowMessage = [&](QWidget*, const QString& text) { shown << text; },
                    .Quit = [] {}});
        form.Form_Load();
        form.InputDevCombo->setCurrentIndex(form.InputDevCombo->findText("JACK: VantorProbeKeys:out"));
        form.OutputDevCombo->setCurrentIndex(form.OutputDevCombo->findText("JACK: VantorProbeSound:in"));
        form.InputDevCombo_Click();
        form.OutputDevCombo_Click();
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join('\n')));

        // Channel 4 and an odd velocity: the echo carries both unchanged.
        const std::vector<Bytes> played = {{0x93, 64, 37}, {0x83, 64, 0}};
        for (const Bytes& message : played)
            peer.Play(message);
        QTRY_COMPARE_WITH_TIMEOUT(peer.Received(), played, 5000);
    }
};

QTEST_MAIN(LiveInputJackTest)
#include "test_live_input_jack.moc"
