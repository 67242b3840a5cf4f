// The live echo through the real RtMidi backend, under the private JACK server
// (dummy driver) that the test fixture starts.
#include <rtmidi/RtMidi.h>
#include <QComboBox>
#include <QtTest>
#include <mutex>
#include <string>
#include <vector>

#include "app/Form1.h"
#include "midi/backends/SystemDevices.h"

using namespace vantor;

namespace {

int EntryContaining(const QComboBox& combo, const QString& text)
{
    for (int i = 0; i < combo.count(); ++i) {
        if (combo.itemText(i).contains(text)) return i;
    }
    return -1;
}

// What the probe's input port has received, filled on JACK's thread.
struct Received
{
    std::mutex mutex;
    std::vector<std::vector<unsigned char>> messages;

    bool Contains(const std::vector<unsigned char>& wanted)
    {
        const std::lock_guard lock(mutex);
        for (const auto& message : messages) {
            if (message == wanted) return true;
        }
        return false;
    }
};

void Collect(double, std::vector<unsigned char>* message, void* user)
{
    auto* received = static_cast<Received*>(user);
    const std::lock_guard lock(received->mutex);
    received->messages.push_back(*message);
}

void Quiet(RtMidiError::Type, const std::string&, void*) {}

}  // namespace

class LiveInputJackTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void a_note_played_into_the_input_comes_out_of_the_output();
};

void LiveInputJackTest::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("JACK_DEFAULT_SERVER")) {
        QSKIP("needs the private JACK server that CTest's jack fixture starts");
    }
}

void LiveInputJackTest::a_note_played_into_the_input_comes_out_of_the_output()
{
    // The player's keyboard and the sound source: two ports of a client of our own.
    RtMidiOut keyboard(RtMidi::UNIX_JACK, "VantorProbeKeys");
    keyboard.setErrorCallback(&Quiet);
    keyboard.openVirtualPort("keys");
    RtMidiIn sound(RtMidi::UNIX_JACK, "VantorProbeSound");
    sound.setErrorCallback(&Quiet);
    Received received;
    sound.setCallback(&Collect, &received);
    sound.openVirtualPort("sound");

    QStringList shown;
    Form1Hooks hooks;
    hooks.ChooseMidiFile = [](QWidget*) { return QString(); };
    hooks.ShowMessage = [&shown](QWidget*, const QString& text) { shown << text; };
    hooks.Quit = [] {};
    Form1 form(CreateSystemDevices(), hooks);
    form.Form_Load();

    const int input = EntryContaining(*form.InputDevCombo, QStringLiteral("VantorProbeKeys"));
    const int output = EntryContaining(*form.OutputDevCombo, QStringLiteral("VantorProbeSound"));
    QVERIFY2(input >= 0, "the probe's keyboard port is not in the input list");
    QVERIFY2(output >= 0, "the probe's sound port is not in the output list");
    form.InputDevCombo->setCurrentIndex(input);
    form.InputDevCombo_Click();
    form.OutputDevCombo->setCurrentIndex(output);
    form.OutputDevCombo_Click();
    QVERIFY2(shown.isEmpty(), qPrintable(shown.join(QLatin1Char('\n'))));

    // Channel 4, an odd velocity: the echo must carry both unchanged.
    const std::vector<unsigned char> press{0x93, 64, 37};
    const std::vector<unsigned char> release{0x83, 64, 0};
    keyboard.sendMessage(&press);
    QTRY_VERIFY_WITH_TIMEOUT(received.Contains(press), 5000);
    keyboard.sendMessage(&release);
    QTRY_VERIFY_WITH_TIMEOUT(received.Contains(release), 5000);
}

QTEST_MAIN(LiveInputJackTest)
#include "test_live_input_jack.moc"
