// JACK MIDI through RtMidi and our own output, and the built-in synthesizer, on
// real JACK servers the test starts and stops itself: a server that goes away
// under an open port makes one Error, no call hangs, and a new server works.
#include <rtmidi/RtMidi.h>

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>
#include <algorithm>
#include <future>
#include <thread>

#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"
#include "midi/backends/JackEnvironment.h"
#include "midi/backends/SystemDevices.h"

using namespace vantor;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<unsigned char>;

// Another program on a real JACK server: "<name>Sound:in" records what it is
// sent, "<name>Keys:out" is an input to open.
class JackPeer
{
public:
    explicit JackPeer(const std::string& name)
        : in_(RtMidi::UNIX_JACK, name + "Sound"), out_(RtMidi::UNIX_JACK, name + "Keys")
    {
        for (RtMidi* port : std::initializer_list<RtMidi*>{&in_, &out_})
            port->setErrorCallback([](RtMidiError::Type, const std::string&, void*) {});
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

private:
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

    // The server dies, or hangs (stopped) and then dies: one Error, every call bounded.
    // Chosen again on a new server, the port works, and the bytes pass unchanged.
    void serverGoesAway_data()
    {
        QTest::addColumn<QString>("device");  // a listed name, or "" for the built-in synthesizer
        QTest::addColumn<bool>("queued");
        QTest::addColumn<bool>("hangs");
        const QString peer = QStringLiteral("JACK: VantorModuleSound:in");
        QTest::newRow("MIDI output, sends") << peer << false << false;
        QTest::newRow("MIDI output, playback") << peer << true << false;
        QTest::newRow("MIDI output, server hangs") << peer << false << true;
        QTest::newRow("synthesizer, sends") << "" << false << false;
        QTest::newRow("synthesizer, playback") << "" << true << false;
    }
    void serverGoesAway()
    {
        QFETCH(QString, device);
        QFETCH(bool, queued);
        QFETCH(bool, hangs);
        const QString stopped = QStringLiteral("JACK server stopped");
        auto peer = std::make_unique<JackPeer>("VantorModule");  // not ours, though named like ours
        const auto devices = CreateSystemDevices();
        auto port = std::make_unique<MIDIOutput>(devices);
        MIDIInput input(devices);
        QSignalSpy inputErrors(&input, &MIDIInput::Error);
        QSignalSpy errors(port.get(), &MIDIOutput::Error);
        const auto open = [&] {
            port->RetryDevice();
            port->SetDeviceID(device.isEmpty() ? -1 : FindDevice(*port, device));
            port->SetAction(ActionOpen);
            input.RetryDevice();
            input.SetDeviceID(FindDevice(input, QStringLiteral("JACK: VantorModuleKeys:out")));
            input.SetAction(ActionOpen);
            input.SetAction(ActionStart);
        };
        open();
        QCOMPARE(port->OpenState() + input.OpenState(), 2);
        for (int i = 0; queued && i < 4000; ++i) {
            port->SetTimeStamp(i * 0.5);
            SendBytes(*port, {Bytes::value_type(0x90 - i % 2 * 0x10), Bytes::value_type(40 + i % 40), 90},
                      ActionQueueMessage);
        }
        if (queued) port->SetAction(ActionStartQueue);
        QTest::qWait(1000);  // the synthesizer opens on a thread of its own; playback gets going

        const QString jackd = "$(cat " + qEnvironmentVariable("XDG_RUNTIME_DIR") + "/jackd-" +
                              qEnvironmentVariable("JACK_DEFAULT_SERVER") + ".pid)";
        if (hangs) {  // resumed even if this test never returns
            QCOMPARE(QProcess::execute("sh", {"-c", "kill -STOP " + jackd}), 0);
            QProcess::startDetached("sh", {"-c", "pid=" + jackd + "; sleep 15; kill -CONT $pid"});
        } else {
            peer.reset();
            QVERIFY(Server("stop"));
        }
        Watchdog("sends after the server went", [&] {
            for (int i = 0; i < 20000 && errors.isEmpty() && !queued; ++i)
                SendBytes(*port, {0x90, 60, Bytes::value_type(i % 2 * 100)});
        });
        if (hangs) {
            QProcess::execute("sh", {"-c", "kill -CONT " + jackd});
            peer.reset();
            QVERIFY(Server("stop"));
        }
        for (auto [spy, text] : {std::pair{&errors, hangs ? QStringLiteral("does not respond") : stopped},
                                 {&inputErrors, stopped}}) {
            QTRY_COMPARE(spy->count(), 1);
            QVERIFY2(spy->at(0).at(1).toString().contains(text), qPrintable(spy->at(0).at(1).toString()));
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

        // Gone, the server is found gone by its socket alone.
        QVERIFY(!JackServerRunning());
        QVERIFY(Server("start"));
        peer = std::make_unique<JackPeer>("VantorModule");
        Watchdog("opening on a new server", open);
        QCOMPARE(port->OpenState() + input.OpenState(), 2);
        QCOMPARE(errors.count() + inputErrors.count(), 2);
        // Ours are never offered (echo loops) while open.
        for (const auto& names : {devices->OutputNames(), devices->InputNames()})
            for (const QString& name : names)
                QVERIFY2(!name.startsWith("JACK: Vantor") || name.startsWith("JACK: VantorModule"),
                         qPrintable(name));
        // A System Reset never goes out; program change and channel pressure have one data byte.
        SendBytes(*port, {0xFF, 0, 0});
        const std::vector<Bytes> messages = {{0x93, 64, 37}, {0xC5, 127}, {0xD2, 9}, {0xEF, 0, 127}};
        for (const Bytes& bytes : messages)
            SendBytes(*port, bytes);
        if (!device.isEmpty()) QTRY_COMPARE(peer->Received(), messages);
        Watchdog("closing", [&] { port.reset(); });
    }

    // Replaced between two lists, the new server's ports are listed, though no other
    // client of ours has met it (libjack would clean up after the gone one then).
    void serverReplacedBetweenLists()
    {
        const QString peerPort = QStringLiteral("JACK: midi-monitor:input");
        const auto lists = [&](const std::vector<QString>& names) {
            return std::ranges::find(names, peerPort) != names.end();
        };
        const auto devices = CreateSystemDevices();
        QVERIFY(!lists(devices->OutputNames()));
        QVERIFY(Server("stop"));
        QVERIFY(Server("start"));
        QProcess peer;
        peer.start(QStringLiteral("jack_midi_dump"), {});
        QVERIFY(peer.waitForStarted());
        std::vector<QString> names;
        for (int i = 0; i < 100 && !lists(names); ++i, QTest::qWait(50))
            Watchdog("listing on the new server", [&] { names = devices->OutputNames(); });
        peer.terminate();
        peer.waitForFinished();
        QVERIFY(lists(names));
    }
};

QTEST_MAIN(JackFaultsTest)
#include "test_jack_faults.moc"
