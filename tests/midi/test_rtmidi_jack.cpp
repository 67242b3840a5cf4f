// The real RtMidi backend and the built-in synthesizer under the private JACK
// server (dummy driver) that CTest's jack fixture starts.
#include <rtmidi/RtMidi.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>
#include <mutex>

#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"
#include "midi/backends/BuiltInSynth.h"
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
        in_.ignoreTypes(false, false, false);
        in_.setCallback(&Probe::Collect, this);
        in_.openVirtualPort("in");
        out_.openVirtualPort("out");
    }
    // One port after the other, each given time to settle: libjack can crash in its
    // notification thread when a port goes while another change is still being announced.
    ~Probe()
    {
        in_.cancelCallback();
        in_.closePort();
        QTest::qSleep(50);
        out_.closePort();
        QTest::qSleep(50);
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;
    std::vector<Bytes> Received()
    {
        const std::lock_guard lock(mutex_);
        return received_;
    }
    void Play(const Bytes& bytes) { out_.sendMessage(&bytes); }

private:
    static void Collect(double, Bytes* message, void* data)
    {
        auto* self = static_cast<Probe*>(data);
        const std::lock_guard lock(self->mutex_);
        self->received_.push_back(*message);
    }
    std::mutex mutex_;
    std::vector<Bytes> received_;
    RtMidiIn in_;
    RtMidiOut out_;
};

template <class Port>
int Find(Port& port, const QString& name)
{
    const int count = port.DeviceCount();
    for (int id = 0; id < count; ++id) {
        port.SetDeviceID(id);
        if (port.ProductName() == name) return id;
    }
    return -1;
}

template <class Port>
QStringList Listed(Port& port)
{
    QStringList names;
    const int count = port.DeviceCount();
    for (int id = 0; id < count; ++id) {
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

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("JACK_DEFAULT_SERVER"))
            QSKIP("needs the private JACK server that CTest's jack fixture starts");
        devices_ = CreateSystemDevices();
    }

    void bytesSentThroughTheOutputArriveUnchanged()
    {
        Probe probe("Module");
        MIDIOutput port(devices_);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        const int id = Find(port, QStringLiteral("JACK: ModuleSound:in"));
        QVERIFY2(id >= 0, qPrintable(Listed(port).join(", ")));
        port.SetDeviceID(id);
        port.SetAction(ActionOpen);
        QCOMPARE(port.OpenState(), 1);
        QCOMPARE(port.Capabilities(), 0u);
        QVERIFY(!port.HasVolume());

        const std::vector<Bytes> messages = {{0x93, 64, 37}, {0x83, 64, 0},  {0xC5, 127},
                                             {0xD2, 99},     {0xEF, 0, 127}, {0xB0, 64, 127}};
        for (const Bytes& bytes : messages)
            Send(port, bytes);
        Send(port, {0xFF, 0, 0});  // a System Reset never goes out
        QTRY_COMPARE_WITH_TIMEOUT(probe.Received().size(), messages.size(), 5000);
        QTest::qWait(50);
        QCOMPARE(probe.Received(), messages);
        QCOMPARE(errors.count(), 0);
    }

    void timedQueueThroughJack()
    {
        Probe probe("Timed");
        MIDIOutput port(devices_);
        QSignalSpy played(&port, &MIDIOutput::MessagePlayed);
        QSignalSpy empty(&port, &MIDIOutput::QueueEmpty);
        port.SetDeviceID(Find(port, QStringLiteral("JACK: TimedSound:in")));
        port.SetAction(ActionOpen);
        QCOMPARE(port.OpenState(), 1);
        port.SetAction(ActionClearQueue);
        for (int i = 0; i < 20; ++i) {
            port.SetStatus(i % 2 == 0 ? 0x90 : 0x80);
            port.SetData1(60 + i / 2);
            port.SetData2(i % 2 == 0 ? 90 : 0);
            port.SetTag(i + 1);
            port.SetTimeStamp(i * 10);
            port.SetAction(ActionQueueMessage);
        }
        port.SetAction(ActionStartQueue);
        QTRY_COMPARE_WITH_TIMEOUT(empty.count(), 1, 5000);
        QCOMPARE(played.count(), 20);
        QTRY_COMPARE_WITH_TIMEOUT(probe.Received().size(), std::size_t{20}, 5000);
        QCOMPARE(probe.Received()[19], (Bytes{0x80, 69, 0}));
    }

    void inputDeliversWhatTheKeyboardPlays()
    {
        Probe probe("Piano");
        MIDIInput port(devices_);
        QSignalSpy received(&port, &MIDIInput::MessageReceived);
        const int id = Find(port, QStringLiteral("JACK: PianoKeys:out"));
        QVERIFY2(id >= 0, qPrintable(Listed(port).join(", ")));
        port.SetDeviceID(id);
        port.SetAction(ActionOpen);
        port.SetAction(ActionStart);
        QCOMPARE(port.OpenState(), 1);

        probe.Play({0x91, 21, 1});
        probe.Play({0xC0, 5});
        probe.Play({0x81, 21, 64});
        QTRY_COMPARE_WITH_TIMEOUT(port.PendingCount(), 3, 5000);
        QTRY_VERIFY(received.count() >= 1);
        const std::vector<std::array<int, 3>> expected = {{0x91, 21, 1}, {0xC0, 5, 0}, {0x81, 21, 64}};
        for (const auto& message : expected) {
            QCOMPARE((std::array<int, 3>{port.Status(), port.Data1(), port.Data2()}), message);
            port.SetAction(ActionRemoveMessage);
        }

        port.SetAction(ActionStop);
        probe.Play({0x90, 22, 1});
        QTest::qWait(100);
        QCOMPARE(port.PendingCount(), 0);
        port.SetAction(ActionClose);
        QCOMPARE(port.OpenState(), 0);
    }

    void ownPortsNeverAppearInTheLists()
    {
        Probe probe("Other");
        MIDIOutput output(devices_);
        MIDIInput input(devices_);
        output.SetDeviceID(Find(output, QStringLiteral("JACK: OtherSound:in")));
        output.SetAction(ActionOpen);
        input.SetDeviceID(Find(input, QStringLiteral("JACK: OtherKeys:out")));
        input.SetAction(ActionOpen);
        QCOMPARE(output.OpenState(), 1);
        QCOMPARE(input.OpenState(), 1);

        const QStringList all = Listed(output) + Listed(input);
        QVERIFY(all.contains(QStringLiteral("JACK: OtherKeys:out")));
        for (const QString& name : all)
            QVERIFY2(!name.startsWith("JACK: Vantor"), qPrintable(name));
        QVERIFY(rtmidi_ports::IsOwnPort(QStringLiteral("Vantor:Vantor Output")));
        QVERIFY(rtmidi_ports::IsOwnPort(QStringLiteral("Vantor-01:Vantor Input")));
        QVERIFY(rtmidi_ports::IsOwnPort(QStringLiteral("Vantor:Vantor Output 129:0")));
        QVERIFY(!rtmidi_ports::IsOwnPort(QStringLiteral("VantorProbe:in")));
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
        QCOMPARE(output.OpenState(), 0);
        QCOMPARE(input.OpenState(), 0);
        QCOMPARE(outErrors.count(), 1);
        QCOMPARE(inErrors.count(), 1);
        QCOMPARE(outErrors.at(0).at(0).toInt(), PortErrorCode::BadDeviceId);
        QVERIFY(outErrors.at(0).at(1).toString().contains("GoneSound:in"));
    }

    void builtInSynthesizerPlaysIntoJack()
    {
        MIDIOutput port(devices_);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        port.SetDeviceID(-1);
        QCOMPARE(port.ProductName(), QStringLiteral("Built-in Synthesizer"));
        QElapsedTimer timer;
        timer.start();
        port.SetAction(ActionOpen);
        qDebug("built-in synthesizer opened in %lld ms", static_cast<long long>(timer.elapsed()));
        QVERIFY2(errors.isEmpty(), errors.isEmpty() ? "" : qPrintable(errors.at(0).at(1).toString()));
        QCOMPARE(port.OpenState(), 1);
        QVERIFY(port.HasVolume());
        const std::int32_t volume = port.Volume();
        Send(port, {0x90, 60, 100});
        QTest::qWait(50);
        Send(port, {0x80, 60, 0});
        port.SetVolume(volume);
        port.SetAction(ActionClose);
        QCOMPARE(port.OpenState(), 0);
        QCOMPARE(errors.count(), 0);

        auto synth = BuiltInSynth::Open();
        QCOMPARE(synth->AudioDriver(), QStringLiteral("jack"));
    }
};

QTEST_MAIN(RtMidiJackTest)
#include "test_rtmidi_jack.moc"
