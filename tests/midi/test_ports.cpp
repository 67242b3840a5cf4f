// The output and input ports, their timed queue and note tags, against memory devices.
#include <QSignalSpy>
#include <QtTest>
#include <chrono>
#include <thread>

#include "common/ComponentError.h"
#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"
#include "midi/NoteTag.h"
#include "support/MemoryDevices.h"

using namespace vantor;
using namespace std::chrono_literals;
using test::MemoryDevices;
using Clock = std::chrono::steady_clock;

namespace {

// Data byte 2 goes out as its 7 bits, 5.
void Send(MIDIOutput& port, int status, int data1, int action = ActionSendMessage)
{
    port.SetStatus(status);
    port.SetData1(data1);
    port.SetData2(0x85);
    port.SetAction(action);
}

void Queue(MIDIOutput& port, int data1, double due, std::int32_t tag = 0, int status = 0x90)
{
    if (tag != 0) port.SetTag(tag);
    port.SetTimeStamp(due);
    Send(port, status, data1, ActionQueueMessage);
}

// Each step opens the device of that number, or: c closes, n counts again, and
// device 0 becomes: v another device, f a fine one, b a busy one again.
template <class Port>
void CheckChoice(const QString& steps, const QList<int>& expectedErrors, int openState)
{
    auto devices = MemoryDevices::Create();
    const auto setUp = [&](const QString& first, int failCode) {
        devices->SetOutputs({{first, failCode}, {QStringLiteral("Fine")}});
        devices->SetInputs({{first, failCode}, {QStringLiteral("Fine")}});
    };
    setUp(QStringLiteral("Busy"), PortErrorCode::DeviceBusy);
    Port port(devices);
    QSignalSpy errors(&port, &Port::Error);
    port.DeviceCount();
    for (const QString& step : steps.split(' ')) {
        if (step == "c") {
            port.SetAction(ActionClose);
        } else if (step == "n") {
            port.DeviceCount();
        } else if (step == "v") {
            setUp(QStringLiteral("Other"), 0);
        } else if (step == "f" || step == "b") {
            setUp(QStringLiteral("Busy"), step == "b" ? PortErrorCode::DeviceBusy : 0);
        } else {
            port.SetDeviceID(step.toInt());
            port.SetAction(ActionOpen);
        }
    }
    QList<int> codes;
    for (const QList<QVariant>& error : errors)
        codes << error.at(0).toInt();
    QCOMPARE(codes, expectedErrors);
    QCOMPARE(port.OpenState(), openState);
}

// What the port reported, in order: a tag for MessagePlayed, -1 for QueueEmpty.
struct Reports
{
    QList<int> events;
    explicit Reports(MIDIOutput& port)
    {
        QObject::connect(&port, &MIDIOutput::MessagePlayed, &port, [this](qint32 tag) {
            QCOMPARE(QThread::currentThread(), qApp->thread());
            events << tag;
        });
        QObject::connect(&port, &MIDIOutput::QueueEmpty, &port, [this] { events << -1; });
    }
    bool Ended() const { return !events.empty() && events.back() == -1; }
};

}  // namespace

class PortsTest : public QObject
{
    Q_OBJECT

    std::shared_ptr<MemoryDevices> devices_;
    std::unique_ptr<MIDIOutput> port_;
    std::unique_ptr<Reports> reports_;

    // Waits without running the event loop, so reports stay posted and unhandled.
    bool WaitForSends(std::size_t count) const
    {
        for (int ms = 0; devices_->SentLog().size() < count; ++ms) {
            if (ms > 10'000) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }
    QList<int> SentData1() const
    {
        QList<int> data;
        for (const MemoryDevices::Sent& sent : devices_->SentLog())
            data << sent.message.data1;
        return data;
    }

private slots:
    void init()
    {
        devices_ = MemoryDevices::Create();
        port_ = std::make_unique<MIDIOutput>(devices_);
        port_->SetAction(ActionOpen);
        reports_ = std::make_unique<Reports>(*port_);
    }

    // A failed open reports once however often it is retried, and again once
    // another device was open in between.
    void choosesDevices_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QList<int>>("errors");
        QTest::addColumn<int>("openState");
        const int bad = PortErrorCode::BadDeviceId, busy = PortErrorCode::DeviceBusy;
        QTest::newRow("out of range, retried") << "2 2 2 1 c 2" << QList{bad, bad} << 0;
        QTest::newRow("below range") << "-2 -2" << QList{bad} << 0;
        QTest::newRow("refusing, quiet until it opened") << "0 0 f 0 c b 0" << QList{busy, busy} << 0;
        QTest::newRow("vanished since counted") << "v 0 0" << QList{bad} << 0;
        QTest::newRow("counted again: the number names the newcomer") << "v n 0" << QList<int>{} << 1;
        QTest::newRow("busy while open, closed twice") << "1 1 -1 c c" << QList{busy} << 0;
    }
    void choosesDevices()
    {
        QFETCH(QString, steps);
        QFETCH(QList<int>, errors);
        QFETCH(int, openState);
        CheckChoice<MIDIOutput>(steps, errors, openState);
        CheckChoice<MIDIInput>(steps, errors, openState);
    }

    // The error handler silences the output: it must find the port closed already.
    // Once closed, nothing is sent or reported until it opens again.
    void deviceFailingOnSendClosesAndReportsOnce()
    {
        QSignalSpy errors(port_.get(), &MIDIOutput::Error);
        int openStateInHandler = -1;
        connect(port_.get(), &MIDIOutput::Error, port_.get(), [&] {
            openStateInHandler = port_->OpenState();
            for (int note = 0; note < 128; ++note)
                Send(*port_, 0x80, note);
        });
        MemoryDevices::OutputSpec unplugged = devices_->Output(-1);
        unplugged.sendFailCode = PortErrorCode::NoDriver;
        devices_->SetDefaultOutput(unplugged);
        Send(*port_, 0x90, 60);
        QCOMPARE(openStateInHandler, 0);
        port_->SetTag(1234);
        for (const int command : {ActionClearQueue, ActionQueueMessage, ActionStartQueue, ActionStopQueue})
            Send(*port_, 0x90, 60, command);
        QTest::qWait(30);
        QVERIFY(devices_->SentLog().empty() && reports_->events.empty());
        QCOMPARE(errors.count(), 1);
        QVERIFY_THROWS_EXCEPTION(ComponentError, port_->SetAction(8));
        QVERIFY_THROWS_EXCEPTION(ComponentError, MIDIInput(devices_).SetAction(3));
    }

    // Messages wait in order for the UI thread; a stop drops the notices on their way.
    void inputKeepsOrderAndStops()
    {
        devices_->SetInputs({{QStringLiteral("Keys")}});
        MIDIInput port(devices_);
        int notices = 0;
        connect(&port, &MIDIInput::MessageReceived, &port, [&] {
            QCOMPARE(QThread::currentThread(), qApp->thread());
            ++notices;
        });
        port.SetAction(ActionOpen);
        port.SetAction(ActionStart);
        std::thread([&] {
            for (std::uint8_t note = 60; note < 63; ++note)
                devices_->Inject({0x90, note, 64});
        }).join();
        port.SetAction(ActionStop);
        QVERIFY(!devices_->Inject({0x90, 1, 1}));
        QTest::qWait(30);
        QCOMPARE(notices, 0);
        QList<int> read;
        for (int i = 0; i < 4; ++i) {  // one more than wait: removing nothing does nothing
            read << port.Status() << port.Data1() << port.Data2();
            port.SetAction(ActionRemoveMessage);
        }
        QCOMPARE(read, (QList{0x90, 60, 64, 0x90, 61, 64, 0x90, 62, 64, 0, 0, 0}));
        port.SetAction(ActionStart);
        std::thread([&] { devices_->Inject({0x80, 62, 1}); }).join();
        QTRY_COMPARE(notices, 1);
        port.SetAction(ActionClose);
        QCOMPARE(port.PendingCount(), 0);
        QCOMPARE(devices_->OpenInputDevice(), -1);
    }

    // Only channel messages are sent (data bytes as 7 bits); only a new tag is
    // reported, once, after the send; an empty queue reports its end at once.
    void queueReportsEachTagOnceThenEmpty()
    {
        port_->SetAction(ActionStartQueue);
        QTRY_COMPARE(reports_->events, QList{-1});
        reports_->events.clear();
        Queue(*port_, 1, 0, 77);
        port_->SetAction(ActionClearQueue);
        Queue(*port_, 60, 0, PackNoteTag(10, 60, true));
        Queue(*port_, 0xBC, 0);
        Queue(*port_, 1, 3, 999, 0xF0);
        Queue(*port_, 2, 4, 998, 0x40);
        Queue(*port_, 3, 5, 997, 0x190);
        Queue(*port_, 60, 10, PackNoteTag(12, 60, false));
        Queue(*port_, 64, 15, PackNoteTag(14, 64, false), 0x8F);
        Queue(*port_, 0x2F, 20, 0, 0xFF);  // end of track: keeps its place, sent never
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports_->Ended());
        QCOMPARE(reports_->events, (QList{2748, 3132, 3648, -1}));
        QCOMPARE(SentData1(), (QList{60, 0x3C, 60, 64}));
    }

    // Rounds are due from the first round on, never by adding up: the last is as
    // punctual as the first. A rate set before the start shortens every wait.
    void loopsRoundAfterRoundAtItsRate()
    {
        for (int i = 0; i < 3; ++i)
            Queue(*port_, i, i * 20.0);
        port_->SetQueueLoop(1, 80);
        port_->SetQueueRate(2);
        const auto start = Clock::now();
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(41));
        port_->SetAction(ActionStopQueue);
        const auto log = devices_->SentLog();
        for (int k = 0; k < 41; ++k) {
            const int message = k == 0 ? 0 : 2 - k % 2, round = k == 0 ? 0 : (k - 1) / 2;
            const auto due = start + std::chrono::milliseconds(message * 10 + round * 40);
            QCOMPARE(log.at(k).message.data1, message);
            QVERIFY2(log.at(k).time >= due && log.at(k).time < due + 25ms, qPrintable(QString::number(k)));
        }
        QVERIFY(!reports_->Ended());
    }

    // A rate change counts from where the queue has got to, however often it
    // changes; a cleared queue starts again at its own pace. Immediate sends go
    // out beside a running queue.
    void rateChangesKeepThePlace()
    {
        using Ms = std::chrono::duration<double, std::milli>;
        Queue(*port_, 0, 0);
        Queue(*port_, 1, 600);
        const auto start = Clock::now();
        port_->SetAction(ActionStartQueue);
        std::this_thread::sleep_for(100ms);
        Send(*port_, 0xC0, 5);
        const auto faster = Clock::now();
        port_->SetQueueRate(2);
        std::this_thread::sleep_for(40ms);
        const auto slower = Clock::now();
        port_->SetQueueRate(1);
        const double place = Ms(faster - start).count() + 2 * Ms(slower - faster).count();
        const auto due = slower + std::chrono::microseconds(static_cast<std::int64_t>((600 - place) * 1000));
        QTRY_VERIFY(reports_->Ended());
        QVERIFY(devices_->SentLog().back().time >= due && devices_->SentLog().back().time < due + 25ms);
        port_->SetQueueRate(3);
        port_->SetAction(ActionClearQueue);
        Queue(*port_, 2, 100);
        const auto restart = Clock::now();
        port_->SetAction(ActionStartQueue);
        QTRY_COMPARE(SentData1(), (QList{0, 5, 1, 2}));
        QVERIFY(devices_->SentLog().back().time >= restart + 100ms);
    }

    // Reports already posted are dropped and nothing more is sent; what is left
    // plays from a new start.
    void stopClearAndCloseDropPostedReports_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QList<int>>("resumed");
        QTest::newRow("stop keeps what is left") << int{ActionStopQueue} << QList{98, 99};
        QTest::newRow("clear") << int{ActionClearQueue} << QList{99};
        QTest::newRow("close") << int{ActionClose} << QList{99};
    }
    void stopClearAndCloseDropPostedReports()
    {
        QFETCH(int, command);
        QFETCH(QList<int>, resumed);
        for (int i = 0; i < 50; ++i)
            Queue(*port_, i, 0, 256 + i);
        Queue(*port_, 98, 150, 98 * 256 + 98);
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(50));
        std::this_thread::sleep_for(20ms);  // the worker has posted every report
        port_->SetAction(command);
        QTest::qWait(200);
        QVERIFY(reports_->events.empty());
        QCOMPARE(devices_->SentLog().size(), std::size_t{50});
        devices_->ClearSent();
        port_->SetAction(ActionOpen);
        Queue(*port_, 99, 0, 99 * 256 + 99);
        const auto restart = Clock::now();
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports_->Ended());
        QCOMPARE(SentData1(), resumed);
        QVERIFY(devices_->SentLog().front().time >= restart + (resumed.size() > 1 ? 150ms : 0ms));
    }

    // A track longer than the tags can carry is refused, never wrapped (tag -1).
    void noteTags_data()
    {
        QTest::addColumn<int>("event");
        QTest::addColumn<int>("note");
        QTest::addColumn<bool>("on");
        QTest::addColumn<int>("tag");
        QTest::newRow("note-off") << 12 << 60 << false << 3132;
        QTest::newRow("last event, top note") << MaxTaggedEvent << 127 << true << 0x7FFFFFFF;
        QTest::newRow("event beyond the last") << MaxTaggedEvent + 1 << 60 << true << -1;
        QTest::newRow("note 128") << 5 << 128 << false << -1;
    }
    void noteTags()
    {
        QFETCH(int, event);
        QFETCH(int, note);
        QFETCH(bool, on);
        QFETCH(int, tag);
        if (tag < 0) {
            QVERIFY_THROWS_EXCEPTION(ComponentError, PackNoteTag(event, note, on));
            return;
        }
        QCOMPARE(PackNoteTag(event, note, on), tag);
        QCOMPARE((std::tuple{NoteTagStep(tag), NoteTagNote(tag), NoteTagIsOn(tag)}),
                 (std::tuple{event, note, on}));
        QCOMPARE(NoteTagStep(tag | static_cast<qint32>(0x80000000u)), event);  // a foreign bit 31
    }
};

QTEST_MAIN(PortsTest)
#include "test_ports.moc"
