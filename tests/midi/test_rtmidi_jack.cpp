// The real RtMidi backend and the built-in synthesizer under CTest's private JACK server.
#include <rtmidi/RtMidi.h>

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"
#include "midi/backends/BuiltInSynth.h"
#include "midi/backends/JackEnvironment.h"
#include "midi/backends/RtMidiPorts.h"
#include "midi/backends/SystemDevices.h"

using namespace vantor;

namespace {

using Bytes = std::vector<unsigned char>;

void Quiet(RtMidiError::Type, const std::string&, void*) {}

// Another program's MIDI ports: a sound module we send to and a keyboard that sends to us.
class Probe
{
public:
    explicit Probe(const std::string& client)
        : in_(RtMidi::UNIX_JACK, client + "Sound"), out_(RtMidi::UNIX_JACK, client + "Keys")
    {
        in_.setErrorCallback(&Quiet);
        out_.setErrorCallback(&Quiet);
        in_.openVirtualPort("in");
        out_.openVirtualPort("out");
    }
    // One port after the other, each given time to settle: libjack can crash in its
    // notification thread when a port goes while another change is still being announced.
    ~Probe()
    {
        in_.closePort();
        QTest::qSleep(50);
        out_.closePort();
        QTest::qSleep(50);
    }
    std::vector<Bytes> Received()
    {
        for (Bytes message; (in_.getMessage(&message), !message.empty());)
            received_.push_back(message);
        return received_;
    }
    void Play(const Bytes& bytes) { out_.sendMessage(&bytes); }

private:
    std::vector<Bytes> received_;
    RtMidiIn in_;
    RtMidiOut out_;
};

template <class Port>
QStringList Listed(Port& port)
{
    QStringList names;
    for (int id = 0, count = port.DeviceCount(); id < count; ++id) {
        port.SetDeviceID(id);
        names << port.ProductName();
    }
    return names;
}

void Send(MIDIOutput& port, const Bytes& bytes)
{
    port.SetStatus(bytes[0]);
    port.SetData1(bytes.size() > 1 ? bytes[1] : 0);
    port.SetData2(bytes.size() > 2 ? bytes[2] : 0);
    port.SetAction(ActionSendMessage);
}

}  // namespace

class RtMidiJackTest : public QObject
{
    Q_OBJECT

    std::shared_ptr<DeviceProvider> devices_;
    template <class Port>
    static int Find(Port& port, const QString& name)
    {
        return static_cast<int>(Listed(port).indexOf(name));
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("JACK_DEFAULT_SERVER"))
            QSKIP("needs the private JACK server that CTest's jack fixture starts");
        devices_ = CreateSystemDevices();
    }

    void bytesPassUnchangedBothWaysAndOwnPortsAreNotListed()
    {
        Probe probe("Module");
        MIDIOutput output(devices_);
        MIDIInput input(devices_);
        QSignalSpy errors(&output, &MIDIOutput::Error);
        output.SetDeviceID(Find(output, QStringLiteral("JACK: ModuleSound:in")));
        output.SetAction(ActionOpen);
        input.SetDeviceID(Find(input, QStringLiteral("JACK: ModuleKeys:out")));
        input.SetAction(ActionOpen);
        input.SetAction(ActionStart);
        QCOMPARE(output.OpenState() + input.OpenState(), 2);

        const std::vector<Bytes> messages = {{0x93, 64, 37}, {0xC5, 127}, {0xEF, 0, 127}, {0xB0, 64, 127}};
        for (const Bytes& bytes : messages)
            Send(output, bytes);
        Send(output, {0xFF, 0, 0});  // a System Reset never goes out
        QTRY_COMPARE_WITH_TIMEOUT(probe.Received().size(), messages.size(), 5000);
        QTest::qWait(50);
        QCOMPARE(probe.Received(), messages);

        probe.Play({0x91, 21, 1});
        probe.Play({0xC0, 5});
        QTRY_COMPARE_WITH_TIMEOUT(input.PendingCount(), 2, 5000);
        QCOMPARE((std::array{input.Status(), input.Data1(), input.Data2()}), (std::array{0x91, 21, 1}));
        input.SetAction(ActionRemoveMessage);
        QCOMPARE((std::array{input.Status(), input.Data1(), input.Data2()}), (std::array{0xC0, 5, 0}));

        // With our own ports open, they must still not be offered (echo loops).
        for (const QString& name : Listed(output) + Listed(input))
            QVERIFY2(!name.startsWith("JACK: Vantor"), qPrintable(name));
        QVERIFY(rtmidi_ports::IsOwnPort(QStringLiteral("Vantor-01:Vantor Input")));
        QVERIFY(!rtmidi_ports::IsOwnPort(QStringLiteral("VantorProbe:in")));
        QCOMPARE(errors.count(), 0);
    }

    void portThatVanishedAfterListingRaisesOneError()
    {
        auto probe = std::make_unique<Probe>("Gone");
        MIDIOutput output(devices_);
        MIDIInput input(devices_);
        QSignalSpy outErrors(&output, &MIDIOutput::Error);
        QSignalSpy inErrors(&input, &MIDIInput::Error);
        const int out = Find(output, QStringLiteral("JACK: GoneSound:in"));
        const int in = Find(input, QStringLiteral("JACK: GoneKeys:out"));
        QVERIFY(out >= 0 && in >= 0);
        probe.reset();
        for (int attempt = 0; attempt < 3; ++attempt) {
            output.SetDeviceID(out);
            output.SetAction(ActionOpen);
            input.SetDeviceID(in);
            input.SetAction(ActionOpen);
        }
        QCOMPARE(output.OpenState() + input.OpenState(), 0);
        QCOMPARE(outErrors.count() + inErrors.count(), 2);
        QCOMPARE(outErrors.at(0).at(0).toInt(), PortErrorCode::BadDeviceId);
        QVERIFY(outErrors.at(0).at(1).toString().contains("GoneSound:in"));
    }

    // The server is found by its socket alone, for the name libjack would use.
    void serverIsFoundByName()
    {
        Probe probe("Named");
        const QByteArray fixture = qgetenv("JACK_DEFAULT_SERVER");
        for (const auto& [server, running] : {std::pair{fixture, true}, {fixture + "_absent", false}}) {
            qputenv("JACK_DEFAULT_SERVER", server);
            const auto devices = CreateSystemDevices();
            QCOMPARE(JackServerRunning(), running);
            const auto outputs = devices->OutputNames();
            QCOMPARE(std::count(outputs.begin(), outputs.end(), QStringLiteral("JACK: NamedSound:in")),
                     running ? 1 : 0);
        }
        qputenv("JACK_DEFAULT_SERVER", fixture);
    }

    void builtInSynthesizerPlaysIntoJack()
    {
        MIDIOutput port(devices_);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        QCOMPARE(port.ProductName(), QStringLiteral("Built-in Synthesizer"));
        port.SetAction(ActionOpen);
        Send(port, {0x90, 60, 100});
        const auto synth = BuiltInSynth::Open();
        QVERIFY(synth->WaitUntilLoaded());
        QCOMPARE(synth->AudioDriver(), QStringLiteral("jack"));
        QCoreApplication::processEvents();  // a failure of the port's own would be reported by now
        QVERIFY2(errors.isEmpty(), errors.isEmpty() ? "" : qPrintable(errors.at(0).at(1).toString()));
        QCOMPARE(port.OpenState(), 1);
    }

    // Silent when idle: the audio output (FluidSynth's JACK client) goes after a
    // silence and comes back with the next message.
    void synthesizerOutputStopsWhenSilentAndStartsAgain()
    {
        const auto clientListed = [] {
            QProcess lsp;
            lsp.start(QStringLiteral("jack_lsp"));
            return lsp.waitForFinished() && lsp.readAllStandardOutput().contains("Vantor Synthesizer:");
        };
        const auto synth =
            BuiltInSynth::Open(BuiltInSynth::SoundFontFolders(), {128, 3, std::chrono::milliseconds(300)});
        QVERIFY(synth->WaitUntilLoaded());
        synth->Send({0x90, 72, 100});
        QVERIFY(synth->AudioRunning() && clientListed());
        synth->Send({0x80, 72, 0});
        QTRY_VERIFY_WITH_TIMEOUT(!synth->AudioRunning(), 10000);  // once the note's release has ended
        QTRY_VERIFY(!clientListed());
        synth->Send({0x90, 72, 100});
        QVERIFY(synth->AudioRunning());
        QTRY_VERIFY(clientListed());
    }
};

QTEST_MAIN(RtMidiJackTest)
#include "test_rtmidi_jack.moc"
