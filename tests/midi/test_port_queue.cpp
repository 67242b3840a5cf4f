// The output port's timed queue against a memory device: order, due times, tags,
// meta events, stop and clear (including reports already on their way), closing
// while it runs, immediate sends beside it, and a million messages.
#include <QSignalSpy>
#include <QtTest>
#include <chrono>
#include <thread>

#include "midi/MIDIOutput.h"
#include "support/MemoryDevices.h"

using namespace vantor;
using namespace std::chrono_literals;
using test::MemoryDevices;

namespace {

struct Queued
{
    int status;
    int data1;
    int data2;
    double due;
    std::int32_t tag = 0;
};

void Queue(MIDIOutput& port, const Queued& message)
{
    port.SetStatus(message.status);
    port.SetData1(message.data1);
    port.SetData2(message.data2);
    if (message.tag != 0) port.SetTag(message.tag);
    port.SetTimeStamp(message.due);
    port.SetAction(ActionQueueMessage);
}

// What the port reported, in order: a tag for MessagePlayed, -1 for QueueEmpty.
struct Reports
{
    std::vector<std::int32_t> events;
    explicit Reports(MIDIOutput& port)
    {
        QObject::connect(&port, &MIDIOutput::MessagePlayed, &port, [this](qint32 tag) {
            QCOMPARE(QThread::currentThread(), qApp->thread());
            events.push_back(tag);
        });
        QObject::connect(&port, &MIDIOutput::QueueEmpty, &port, [this] { events.push_back(-1); });
    }
    bool Ended() const { return !events.empty() && events.back() == -1; }
};

// Waits without running the event loop, so reports stay posted and unhandled.
bool WaitForSends(const MemoryDevices& devices, std::size_t count)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (devices.SentLog().size() < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

}  // namespace

class PortQueueTest : public QObject
{
    Q_OBJECT

    std::shared_ptr<MemoryDevices> devices_;
    std::unique_ptr<MIDIOutput> port_;

private slots:
    void init()
    {
        devices_ = MemoryDevices::Create();
        port_ = std::make_unique<MIDIOutput>(devices_);
        port_->SetAction(ActionOpen);
        QCOMPARE(port_->OpenState(), 1);
    }
    void cleanup()
    {
        port_.reset();
        devices_.reset();
    }

    void sendsInOrderNeverBeforeTheirDueTime()
    {
        Reports reports(*port_);
        std::vector<Queued> messages;
        for (int i = 0; i < 20; ++i)
            messages.push_back({0x90, 40 + i, 100, i * 7.0});
        messages.push_back({0x80, 40, 0, 140.0});
        port_->SetAction(ActionClearQueue);
        for (const Queued& message : messages)
            Queue(*port_, message);
        const auto start = std::chrono::steady_clock::now();
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports.Ended());

        const auto log = devices_->SentLog();
        QCOMPARE(log.size(), messages.size());
        for (std::size_t i = 0; i < log.size(); ++i) {
            QCOMPARE(int{log[i].message.data1}, messages[i].data1);
            QCOMPARE(int{log[i].message.status}, messages[i].status);
            const auto due = start + std::chrono::microseconds(static_cast<long>(messages[i].due * 1000));
            QVERIFY2(log[i].time >= due, qPrintable(QStringLiteral("message %1 went out early").arg(i)));
        }
    }

    void reportsEachTagOnceInOrderThenEmpty()
    {
        Reports reports(*port_);
        Queue(*port_, {0x90, 60, 100, 0, 10 * 256 + 60 + 128});
        Queue(*port_, {0x90, 64, 100, 0});  // no new tag: reports nothing
        Queue(*port_, {0xFF, 0x51, 3, 5, 0});
        Queue(*port_, {0x90, 60, 0, 10, 12 * 256 + 60});
        Queue(*port_, {0xB0, 64, 0, 10});
        Queue(*port_, {0x80, 64, 0, 15, 14 * 256 + 64});
        Queue(*port_, {0xFF, 0x2F, 0, 20});  // end of track: keeps its place, sent never
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports.Ended());
        QTest::qWait(20);
        QCOMPARE(reports.events, (std::vector<std::int32_t>{2748, 3132, 3648, -1}));
        const auto sent = devices_->SentMessages();
        QCOMPARE(sent.size(), std::size_t{5});
        for (const ShortMessage& message : sent)
            QVERIFY(message.status < 0xF0);
    }

    void tagOnAMessageThatIsNeverSentIsNotReported()
    {
        Reports reports(*port_);
        Queue(*port_, {0xF0, 1, 2, 0, 999});
        Queue(*port_, {0x90, 1, 2, 0, 0});
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports.Ended());
        QCOMPARE(reports.events, std::vector<std::int32_t>{-1});
    }

    void startingAnEmptyQueueReportsEmpty()
    {
        Reports reports(*port_);
        port_->SetAction(ActionClearQueue);
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports.Ended());
        QCOMPARE(reports.events.size(), std::size_t{1});
        QVERIFY(devices_->SentLog().empty());
    }

    void stopAndClearDropReportsAlreadyPosted_data()
    {
        QTest::addColumn<int>("command");
        QTest::newRow("stop") << int{ActionStopQueue};
        QTest::newRow("clear") << int{ActionClearQueue};
        QTest::newRow("close") << int{ActionClose};
    }
    void stopAndClearDropReportsAlreadyPosted()
    {
        QFETCH(int, command);
        Reports reports(*port_);
        for (int i = 0; i < 50; ++i)
            Queue(*port_, {0x90, i, 1, 0, 256 + i});
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, 50));
        std::this_thread::sleep_for(20ms);  // the worker has posted every report and its end
        port_->SetAction(command);
        QTest::qWait(50);
        QVERIFY(reports.events.empty());
    }

    void stopSendsNothingMoreAndStartResumesWithANewTimeBase()
    {
        Reports reports(*port_);
        Queue(*port_, {0x90, 1, 1, 0, 0});
        Queue(*port_, {0x90, 2, 1, 400, 0});
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, 1));
        port_->SetAction(ActionStopQueue);
        QTest::qWait(500);
        QCOMPARE(devices_->SentLog().size(), std::size_t{1});
        QVERIFY(reports.events.empty());

        const auto restart = std::chrono::steady_clock::now();
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports.Ended());
        const auto log = devices_->SentLog();
        QCOMPARE(log.size(), std::size_t{2});
        QCOMPARE(int{log[1].message.data1}, 2);
        QVERIFY(log[1].time >= restart + 400ms);
    }

    void clearEmptiesTheQueue()
    {
        Reports reports(*port_);
        Queue(*port_, {0x90, 1, 1, 0, 7});
        port_->SetAction(ActionClearQueue);
        Queue(*port_, {0x90, 2, 1, 0, 8});
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports.Ended());
        QCOMPARE(reports.events, (std::vector<std::int32_t>{8, -1}));
        QCOMPARE(devices_->SentMessages(), (std::vector<ShortMessage>{{0x90, 2, 1}}));
    }

    void immediateSendsGoOutBesideARunningQueue()
    {
        Reports reports(*port_);
        for (int i = 0; i < 40; ++i)
            Queue(*port_, {0x90, i, 1, i * 5.0, 0});
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, 10));
        port_->SetStatus(0xC0);
        port_->SetData1(5);
        port_->SetData2(0);
        port_->SetAction(ActionSendMessage);
        QTRY_VERIFY(reports.Ended());
        const auto sent = devices_->SentMessages();
        QCOMPARE(sent.size(), std::size_t{41});
        const auto at = std::find(sent.begin(), sent.end(), ShortMessage{0xC0, 5, 0});
        QVERIFY(at != sent.end());
        QVERIFY(at != sent.begin() && at != sent.end() - 1);
        // The queue's own order is untouched.
        std::vector<ShortMessage> queued;
        std::copy_if(sent.begin(), sent.end(), std::back_inserter(queued),
                     [](const ShortMessage& m) { return m.status == 0x90; });
        for (int i = 0; i < 40; ++i)
            QCOMPARE(int{queued[static_cast<std::size_t>(i)].data1}, i);
    }

    void closingOrDestroyingWhileRunningStopsTheWorker()
    {
        Reports reports(*port_);
        for (int i = 0; i < 1000; ++i)
            Queue(*port_, {0x90, i % 128, 1, i * 2.0, 1 + i});
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, 3));
        port_->SetAction(ActionClose);
        const auto sentAtClose = devices_->SentLog().size();
        QTest::qWait(50);
        QCOMPARE(devices_->SentLog().size(), sentAtClose);
        QVERIFY(reports.events.empty());
        QCOMPARE(devices_->OutputsOpen(), 0);

        // Reopened, the old queue is gone.
        port_->SetAction(ActionOpen);
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports.Ended());
        QCOMPARE(devices_->SentLog().size(), sentAtClose);

        for (int i = 0; i < 1000; ++i)
            Queue(*port_, {0x90, i % 128, 1, i * 2.0, 1 + i});
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, sentAtClose + 3));
        port_.reset();
        QCOMPARE(devices_->OutputsOpen(), 0);
    }

    void handlerThatStopsTheQueueEndsTheReports()
    {
        Reports reports(*port_);
        connect(port_.get(), &MIDIOutput::MessagePlayed, port_.get(), [this](qint32 tag) {
            if (tag == 3) port_->SetAction(ActionStopQueue);
        });
        for (int i = 1; i <= 10; ++i)
            Queue(*port_, {0x90, i, 1, 0, i});
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, 10));
        std::this_thread::sleep_for(20ms);
        QTest::qWait(50);
        QCOMPARE(reports.events, (std::vector<std::int32_t>{1, 2, 3}));
    }

    void deviceFailingDuringTheQueueRaisesOneError()
    {
        Reports reports(*port_);
        QSignalSpy errors(port_.get(), &MIDIOutput::Error);
        for (int i = 0; i < 100; ++i)
            Queue(*port_, {0x90, i, 1, i * 2.0, 1 + i});
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, 5));
        MemoryDevices::OutputSpec unplugged = devices_->Output(-1);
        unplugged.sendFailCode = PortErrorCode::NoDriver;
        unplugged.sendFailText = QStringLiteral("gone");
        devices_->SetDefaultOutput(unplugged);
        QTRY_COMPARE(errors.count(), 1);
        QTest::qWait(50);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(port_->OpenState(), 0);
        QVERIFY(!reports.Ended());
    }

    void aMillionMessages()
    {
        Reports reports(*port_);
        constexpr int kCount = 1'000'000;
        for (int i = 0; i < kCount; ++i) {
            port_->SetStatus(0x90);
            port_->SetData1(i % 128);
            port_->SetData2(i % 2 == 0 ? 0 : 100);
            if (i % 100'000 == 0) port_->SetTag(i + 1);
            port_->SetTimeStamp(i / 1000);
            port_->SetAction(ActionQueueMessage);
        }
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY_WITH_TIMEOUT(reports.Ended(), 120'000);
        QCOMPARE(devices_->SentLog().size(), std::size_t{kCount});
        QCOMPARE(reports.events.size(), std::size_t{11});
        QCOMPARE(reports.events.front(), 1);
        QCOMPARE(reports.events[9], 900'001);
    }
};

QTEST_MAIN(PortQueueTest)
#include "test_port_queue.moc"
