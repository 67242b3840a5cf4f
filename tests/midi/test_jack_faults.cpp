// JACK MIDI through RtMidi and our own output, and the built-in synthesizer, on
// real JACK servers the test starts and stops itself: a server that goes away
// under an open port makes one Error, no call hangs, and a new server works.
#include <rtmidi/RtMidi.h>

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>
#include <future>
#include <thread>

#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"
#include "midi/backends/BuiltInSynth.h"
#include "midi/backends/JackEnvironment.h"
#include "midi/backends/SystemDevices.h"

using namespace vantor;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<unsigned char>;

// Another program on a real JACK server: "<name>Sound:in" records what it is
// sent, "<name>Keys:out" plays into our input.
class JackPeer
{
public:
    explicit JackPeer(const std::string& name)
        : in_(RtMidi::UNIX_JACK, name + "Sound"), out_(RtMidi::UNIX_JACK, name + "Keys")
    {
        in_.setErrorCallback(&Quiet);
        out_.setErrorCallback(&Quiet);
        in_.openVirtualPort("in");
        out_.openVirtualPort("out");
    }
    // One port after the other, each given time to settle: libjack can crash in its
    // notification thread when a port goes while another change is still being announced.
    ~JackPeer()
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
    static void Quiet(RtMidiError::Type, const std::string&, void*) {}
    std::vector<Bytes> received_;
    RtMidiIn in_;
    RtMidiOut out_;
};

// The id a port lists the device under, or -2 (an id no port accepts).
template <class Port>
int FindDevice(Port& port, const QString& name)
{
    for (int id = 0, count = port.DeviceCount(); id < count; ++id) {
        port.SetDeviceID(id);
        if (port.ProductName() == name) return id;
    }
    return -2;
}

void SendBytes(MIDIOutput& port, const Bytes& bytes, PortAction action = ActionSendMessage)
{
    port.SetStatus(bytes[0]);
    port.SetData1(bytes.size() > 1 ? bytes[1] : 0);
    port.SetData2(bytes.size() > 2 ? bytes[2] : 0);
    port.SetAction(action);
}

// Ends the run when the guarded calls do not return: a hang is the fault under
// test, and a timed assertion would only flake on a busy machine.
template <class Calls>
void Watchdog(const char* what, Calls&& calls)
{
    std::promise<void> done;
    std::thread dog([what, returned = done.get_future()] {
        if (returned.wait_for(10s) == std::future_status::timeout) qFatal("%s never returned", what);
    });
    std::forward<Calls>(calls)();
    done.set_value();
    dog.join();
}

}  // namespace

class JackFaultsTest : public QObject
{
    Q_OBJECT
    int started_ = 0;

    // Each server under a name of its own that every client made after it finds (a
    // server of the same name, just gone, may still hold it on a busy machine).
    bool Server(const char* action)
    {
        if (std::string_view(action) == "start")
            qputenv("JACK_DEFAULT_SERVER", "vantor_faults_" + QByteArray::number(++started_) + '_' +
                                               QByteArray::number(QCoreApplication::applicationPid()));
        return QProcess::execute(qEnvironmentVariable("VANTOR_SOURCE_DIR") + "/tests/jack-server",
                                 {action, qEnvironmentVariable("JACK_DEFAULT_SERVER"),
                                  qEnvironmentVariable("XDG_RUNTIME_DIR")}) == 0;
    }

private slots:
    void init() { QVERIFY(Server("start")); }
    void cleanup() { Server("stop"); }

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
        QCOMPARE(synth->AudioDriver(), QStringLiteral("jack"));
        synth->Send({0x90, 72, 100});
        QVERIFY(synth->AudioRunning() && clientListed());
        synth->Send({0x80, 72, 0});
        QTRY_VERIFY_WITH_TIMEOUT(!synth->AudioRunning(), 10000);  // once the note's release has ended
        QTRY_VERIFY(!clientListed());
        synth->Send({0x90, 72, 100});
        QVERIFY(synth->AudioRunning());
        bool listed = false;  // once: on a loaded machine the output was seen to stop again soon
        QTRY_VERIFY(listed |= clientListed());
    }

    void bytesPassUnchangedBothWaysAndOwnPortsAreNotListed()
    {
        JackPeer peer("VantorModule");  // not ours, though its name starts like ours
        const auto devices = CreateSystemDevices();
        MIDIOutput output(devices);
        MIDIInput input(devices);
        output.SetDeviceID(FindDevice(output, QStringLiteral("JACK: VantorModuleSound:in")));
        output.SetAction(ActionOpen);
        input.SetDeviceID(FindDevice(input, QStringLiteral("JACK: VantorModuleKeys:out")));
        input.SetAction(ActionOpen);
        input.SetAction(ActionStart);
        QCOMPARE(output.OpenState() + input.OpenState(), 2);

        // Program change and channel pressure have one data byte; a System Reset never goes out.
        const std::vector<Bytes> messages = {{0x93, 64, 37}, {0xC5, 127}, {0xD2, 9}, {0xEF, 0, 127}};
        for (const Bytes& bytes : messages)
            SendBytes(output, bytes);
        SendBytes(output, {0xFF, 0, 0});
        QTRY_COMPARE_WITH_TIMEOUT(peer.Received().size(), messages.size(), 5000);
        QTest::qWait(50);
        QCOMPARE(peer.Received(), messages);

        for (const Bytes& bytes : messages)
            peer.Play(bytes);
        QTRY_COMPARE_WITH_TIMEOUT(input.PendingCount(), int(messages.size()), 5000);
        for (const Bytes& bytes : messages) {
            QCOMPARE((std::array{input.Status(), input.Data1(), input.Data2()}),
                     (std::array<int, 3>{bytes[0], bytes[1], bytes.size() > 2 ? bytes[2] : 0}));
            input.SetAction(ActionRemoveMessage);
        }
        // With our own ports open, they must still not be offered (echo loops).
        for (const auto& names : {devices->OutputNames(), devices->InputNames()})
            for (const QString& name : names)
                QVERIFY2(!name.startsWith("JACK: Vantor") || name.startsWith("JACK: VantorModule"),
                         qPrintable(name));
    }

    void portThatVanishedAfterListingRaisesOneError()
    {
        auto peer = std::make_unique<JackPeer>("Gone");
        MIDIOutput output(CreateSystemDevices());
        MIDIInput input(CreateSystemDevices());
        QSignalSpy outErrors(&output, &MIDIOutput::Error);
        QSignalSpy inErrors(&input, &MIDIInput::Error);
        const int out = FindDevice(output, QStringLiteral("JACK: GoneSound:in"));
        const int in = FindDevice(input, QStringLiteral("JACK: GoneKeys:out"));
        QVERIFY(out >= 0 && in >= 0);
        peer.reset();
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
        JackPeer peer("Named");
        const QByteArray server = qgetenv("JACK_DEFAULT_SERVER");
        for (const auto& [name, running] : {std::pair{server, true}, {server + "_absent", false}}) {
            qputenv("JACK_DEFAULT_SERVER", name);
            const auto outputs = CreateSystemDevices()->OutputNames();
            QCOMPARE(JackServerRunning(), running);
            QCOMPARE(std::ranges::count(outputs, QStringLiteral("JACK: NamedSound:in")), running ? 1 : 0);
        }
        qputenv("JACK_DEFAULT_SERVER", server);
    }

    // A server that hangs rather than dies: a send gives up, and the port closes without waiting.
    void sendsGiveUpOnAHungServer()
    {
        JackPeer peer("Hung");
        MIDIOutput port(CreateSystemDevices());
        QSignalSpy errors(&port, &MIDIOutput::Error);
        port.SetDeviceID(FindDevice(port, QStringLiteral("JACK: HungSound:in")));
        port.SetAction(ActionOpen);
        QFile pidFile(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/jackd-" +
                      qEnvironmentVariable("JACK_DEFAULT_SERVER") + ".pid");
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        const QString jackd = QString::fromLatin1(pidFile.readAll().trimmed());
        // Stopped as a hung server is, and resumed even if this test never returns.
        QCOMPARE(QProcess::execute("kill", {"-STOP", jackd}), 0);
        QProcess::startDetached("sh", {"-c", "sleep 15; kill -CONT " + jackd});
        Watchdog("sends to a hung server", [&] {
            for (int i = 0; i < 20000 && errors.isEmpty(); ++i)
                SendBytes(port, {0x90, 60, Bytes::value_type(i % 2 * 100)});
        });
        QProcess::execute("kill", {"-CONT", jackd});
        QCOMPARE(errors.count(), 1);
        QVERIFY(errors.at(0).at(1).toString().contains("does not respond"));
    }

    void serverGoesAway_data()
    {
        QTest::addColumn<QString>("device");  // a listed name, or "" for the built-in synthesizer
        QTest::addColumn<bool>("queued");
        QTest::newRow("MIDI output, sends") << "JACK: FaultsSound:in" << false;
        QTest::newRow("MIDI output, playback") << "JACK: FaultsSound:in" << true;
        QTest::newRow("synthesizer, sends") << "" << false;
        QTest::newRow("synthesizer, playback") << "" << true;
    }
    void serverGoesAway()
    {
        QFETCH(QString, device);
        QFETCH(bool, queued);
        auto peer = std::make_unique<JackPeer>("Faults");
        auto port = std::make_unique<MIDIOutput>(CreateSystemDevices());
        MIDIInput input(CreateSystemDevices());
        input.SetDeviceID(FindDevice(input, QStringLiteral("JACK: FaultsKeys:out")));
        input.SetAction(ActionOpen);
        input.SetAction(ActionStart);
        QSignalSpy inputErrors(&input, &MIDIInput::Error);
        QSignalSpy errors(port.get(), &MIDIOutput::Error);
        const auto open = [&] {
            port->RetryDevice();
            port->SetDeviceID(device.isEmpty() ? -1 : FindDevice(*port, device));
            port->SetAction(ActionOpen);
        };
        open();
        QCOMPARE(port->OpenState() + input.OpenState(), 2);
        if (device.isEmpty()) QTest::qWait(1000);  // the synthesizer opens on a thread of its own
        for (int i = 0; queued && i < 4000; ++i) {
            port->SetTimeStamp(i * 0.5);
            SendBytes(*port, {Bytes::value_type(0x90 - i % 2 * 0x10), Bytes::value_type(40 + i % 40), 90},
                      ActionQueueMessage);
        }
        if (queued) {
            port->SetAction(ActionStartQueue);
            QTest::qWait(300);
        }

        peer.reset();
        QVERIFY(Server("stop"));
        Watchdog("sends after the server stopped", [&] {
            for (int i = 0; i < 5000 && errors.isEmpty() && !queued; ++i)
                SendBytes(*port, {0x90, 60, Bytes::value_type(i % 2 * 100)});
        });
        for (QSignalSpy* spy : {&errors, &inputErrors}) {
            QTRY_COMPARE(spy->count(), 1);
            QVERIFY2(spy->at(0).at(1).toString().contains("JACK server stopped"),
                     qPrintable(spy->at(0).at(1).toString()));
        }
        QCOMPARE(port->OpenState() + input.OpenState(), 0);
        Watchdog("calls on the closed port", [&] {
            for (int i = 0; i < 3000; ++i)
                SendBytes(*port, {0x80, 60, 0});
            port->SetAction(ActionStopQueue);
            port->SetAction(ActionOpen);  // a retry of its own stays quiet
            port->SetAction(ActionClose);
            input.SetAction(ActionStop);
            input.SetAction(ActionClose);
        });
        QTest::qWait(100);
        QCOMPARE(errors.count(), 1);

        // Chosen again once a server runs: it works.
        QVERIFY(Server("start"));
        peer = std::make_unique<JackPeer>("Faults");
        Watchdog("opening on a new server", open);
        QCOMPARE(port->OpenState(), 1);
        SendBytes(*port, {0x90, 64, 100});
        if (!device.isEmpty()) QTRY_COMPARE(peer->Received(), (std::vector<Bytes>{{0x90, 64, 100}}));
        QCOMPARE(errors.count() + inputErrors.count(), 2);
        Watchdog("closing", [&] { port.reset(); });
    }
};

QTEST_MAIN(JackFaultsTest)
#include "test_jack_faults.moc"
