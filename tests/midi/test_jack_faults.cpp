// A JACK server that goes away under an open output: one Error, no call hangs,
// and a server started again can be used. The test runs JACK servers of its own.
#include <rtmidi/RtMidi.h>

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>
#include <future>
#include <thread>

#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"
#include "midi/backends/SystemDevices.h"

using namespace vantor;
using namespace std::chrono_literals;

namespace {

void Quiet(RtMidiError::Type, const std::string&, void*) {}

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

// A private server, under a name of its own that every client made after it finds
// (a server of the same name, just gone, may still hold it on a busy machine).
class JackServer
{
public:
    JackServer()
    {
        static int started = 0;
        qputenv("JACK_DEFAULT_SERVER", QStringLiteral("vantor_faults_%1_%2")
                                           .arg(QCoreApplication::applicationPid())
                                           .arg(++started)
                                           .toLatin1());
        jackd_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        jackd_.setStandardOutputFile(QProcess::nullDevice());
        jackd_.start(QStringLiteral("jackd"),
                     {"-n", qEnvironmentVariable("JACK_DEFAULT_SERVER"), "--no-realtime", "-S", "-d", "dummy",
                      "-r", "48000", "-p", "256"});
        QProcess wait;
        wait.start(QStringLiteral("jack_wait"), {"--wait", "--timeout", "20"});
        running_ = jackd_.waitForStarted() && wait.waitForFinished(25000) && wait.exitCode() == 0;
    }
    ~JackServer() { Stop(); }
    bool Running() const { return running_; }
    void Stop()  // as a user closing the JACK control panel does
    {
        jackd_.terminate();
        if (!jackd_.waitForFinished(5000)) jackd_.kill();
        jackd_.waitForFinished();
    }

private:
    QProcess jackd_;
    bool running_ = false;
};

// Another program's MIDI ports: an input the output sends to, and an output for our input.
class Sink
{
public:
    Sink() : in_(RtMidi::UNIX_JACK, "Sink"), out_(RtMidi::UNIX_JACK, "Keys")
    {
        in_.setErrorCallback(&Quiet);
        out_.setErrorCallback(&Quiet);
        in_.openVirtualPort("in");
        out_.openVirtualPort("out");
    }
    std::vector<unsigned char> First()
    {
        if (first_.empty()) in_.getMessage(&first_);
        return first_;
    }

private:
    RtMidiIn in_;
    RtMidiOut out_;
    std::vector<unsigned char> first_;
};

template <class Port>
int Find(Port& port, const QString& name)
{
    for (int id = 0, count = port.DeviceCount(); id < count; ++id) {
        port.SetDeviceID(id);
        if (port.ProductName() == name) return id;
    }
    return -2;
}

void Send(MIDIOutput& port, int status, int data1, int data2)
{
    port.SetStatus(status);
    port.SetData1(data1);
    port.SetData2(data2);
    port.SetAction(ActionSendMessage);
}

}  // namespace

class JackFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("jackd")).isEmpty())
            QSKIP("jackd is not installed (Debian package jackd2)");
    }

    void serverGoesAway_data()
    {
        QTest::addColumn<QString>("device");  // a listed name, or "" for the built-in synthesizer
        QTest::addColumn<bool>("queued");
        QTest::newRow("MIDI output, sends") << "JACK: Sink:in" << false;
        QTest::newRow("MIDI output, playback") << "JACK: Sink:in" << true;
        QTest::newRow("synthesizer, sends") << "" << false;
        QTest::newRow("synthesizer, playback") << "" << true;
    }
    void serverGoesAway()
    {
        QFETCH(QString, device);
        QFETCH(bool, queued);
        auto server = std::make_unique<JackServer>();
        QVERIFY(server->Running());
        auto sink = std::make_unique<Sink>();
        auto port = std::make_unique<MIDIOutput>(CreateSystemDevices());
        MIDIInput input(CreateSystemDevices());
        input.SetDeviceID(Find(input, QStringLiteral("JACK: Keys:out")));
        input.SetAction(ActionOpen);
        input.SetAction(ActionStart);
        QCOMPARE(input.OpenState(), 1);
        QSignalSpy inputErrors(&input, &MIDIInput::Error);
        QSignalSpy errors(port.get(), &MIDIOutput::Error);
        const auto open = [&] {
            port->RetryDevice();
            port->SetDeviceID(device.isEmpty() ? -1 : Find(*port, device));
            port->SetAction(ActionOpen);
        };
        open();
        QCOMPARE(port->OpenState(), 1);
        if (device.isEmpty()) QTest::qWait(1000);  // the synthesizer opens on a thread of its own
        if (queued) {
            for (int i = 0; i < 4000; ++i) {
                port->SetStatus(0x90 - i % 2 * 0x10);
                port->SetData1(40 + i % 40);
                port->SetData2(90);
                port->SetTimeStamp(i * 0.5);
                port->SetAction(ActionQueueMessage);
            }
            port->SetAction(ActionStartQueue);
            QTest::qWait(300);
        }

        sink.reset();
        server->Stop();
        Watchdog("sends after the server stopped", [&] {
            for (int i = 0; i < 5000 && errors.isEmpty() && !queued; ++i)
                Send(*port, 0x90, 60, i % 2 * 100);
        });
        QTRY_COMPARE(errors.count(), 1);
        QVERIFY2(errors.at(0).at(1).toString().contains("JACK server stopped"),
                 qPrintable(errors.at(0).at(1).toString()));
        QCOMPARE(port->OpenState(), 0);
        QTRY_COMPARE(inputErrors.count(), 1);
        QVERIFY(inputErrors.at(0).at(1).toString().contains("JACK server stopped"));
        QCOMPARE(input.OpenState(), 0);
        Watchdog("calls on the closed port", [&] {
            for (int i = 0; i < 3000; ++i)
                Send(*port, 0x80, 60, 0);
            port->SetAction(ActionStopQueue);
            port->SetAction(ActionOpen);  // a retry of its own stays quiet
            port->SetAction(ActionClose);
            input.SetAction(ActionStop);
            input.SetAction(ActionClose);
        });
        QTest::qWait(100);
        QCOMPARE(errors.count(), 1);

        // Chosen again once a server runs: it works.
        server = std::make_unique<JackServer>();
        QVERIFY(server->Running());
        sink = std::make_unique<Sink>();
        Watchdog("opening on a new server", open);
        QCOMPARE(port->OpenState(), 1);
        Send(*port, 0x90, 64, 100);
        if (!device.isEmpty()) QTRY_COMPARE(sink->First(), (std::vector<unsigned char>{0x90, 64, 100}));
        QCOMPARE(errors.count() + inputErrors.count(), 2);
        Watchdog("closing", [&] { port.reset(); });
    }
};

QTEST_MAIN(JackFaultsTest)
#include "test_jack_faults.moc"
