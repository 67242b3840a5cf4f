// The output port's timed queue against a memory device.
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

void Queue(MIDIOutput& port, int data1, double due, std::int32_t tag = 0, int status = 0x90)
{
    port.SetStatus(status);
    port.SetData1(data1);
    port.SetData2(1);
    if (tag != 0) port.SetTag(tag);
    port.SetTimeStamp(due);
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
    for (int ms = 0; devices.SentLog().size() < count; ++ms) {
        if (ms > 10'000) return false;
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
    std::unique_ptr<Reports> reports_;

private slots:
    void init()
    {
        devices_ = MemoryDevices::Create();
        port_ = std::make_unique<MIDIOutput>(devices_);
        port_->SetAction(ActionOpen);
        QCOMPARE(port_->OpenState(), 1);
        reports_ = std::make_unique<Reports>(*port_);
    }

    void sendsInOrderNeverBeforeTheirDueTime()
    {
        for (int i = 0; i < 20; ++i)
            Queue(*port_, i, i * 7.5);
        const auto start = std::chrono::steady_clock::now();
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports_->Ended());
        const auto log = devices_->SentLog();
        QCOMPARE(log.size(), std::size_t{20});
        for (std::size_t i = 0; i < log.size(); ++i) {
            QCOMPARE(std::size_t{log[i].message.data1}, i);
            QVERIFY2(log[i].time >= start + std::chrono::microseconds(i * 7500),
                     qPrintable(QString::number(i)));
        }
    }

    void reportsEachTagOnceInOrderThenEmpty()
    {
        port_->SetAction(ActionStartQueue);  // an empty queue reports its end at once
        QTRY_COMPARE(reports_->events, std::vector<std::int32_t>{-1});
        reports_->events.clear();
        Queue(*port_, 1, 0, 77);
        port_->SetAction(ActionClearQueue);
        Queue(*port_, 60, 0, 10 * 256 + 60 + 128);
        Queue(*port_, 64, 0);            // no new tag: reports nothing
        Queue(*port_, 1, 3, 999, 0xF0);  // never sent, so never reported
        Queue(*port_, 60, 10, 12 * 256 + 60);
        Queue(*port_, 64, 10, 0, 0xB0);
        Queue(*port_, 64, 15, 14 * 256 + 64, 0x80);
        Queue(*port_, 0x2F, 20, 0, 0xFF);  // end of track: keeps its place, sent never
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports_->Ended());
        QTest::qWait(20);
        QCOMPARE(reports_->events, (std::vector<std::int32_t>{2748, 3132, 3648, -1}));
        QCOMPARE(devices_->SentLog().size(), std::size_t{5});
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
        for (int i = 0; i < 50; ++i)
            Queue(*port_, i, 0, 256 + i);
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, 50));
        std::this_thread::sleep_for(20ms);  // the worker has posted every report and its end
        port_->SetAction(command);
        QTest::qWait(50);
        QVERIFY(reports_->events.empty());
    }

    void stopSendsNothingMoreAndStartResumesWithANewTimeBase()
    {
        Queue(*port_, 1, 0);
        Queue(*port_, 2, 400);
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, 1));
        port_->SetAction(ActionStopQueue);
        QTest::qWait(500);
        QCOMPARE(devices_->SentLog().size(), std::size_t{1});
        QVERIFY(reports_->events.empty());

        const auto restart = std::chrono::steady_clock::now();
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports_->Ended());
        const auto log = devices_->SentLog();
        QCOMPARE(log.size(), std::size_t{2});
        QCOMPARE(int{log[1].message.data1}, 2);
        QVERIFY(log[1].time >= restart + 400ms);
    }

    void immediateSendsGoOutBesideARunningQueue()
    {
        for (int i = 0; i < 40; ++i)
            Queue(*port_, i, i * 5.0);
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, 10));
        port_->SetStatus(0xC0);
        port_->SetData1(5);
        port_->SetData2(0);
        port_->SetAction(ActionSendMessage);
        QTRY_VERIFY(reports_->Ended());
        const auto sent = devices_->SentMessages();
        QCOMPARE(sent.size(), std::size_t{41});
        const auto at = std::find(sent.begin(), sent.end(), ShortMessage{0xC0, 5, 0});
        QVERIFY(at > sent.begin() && at < sent.end() - 1);
    }

    void closingOrDestroyingWhileRunningStopsTheWorker()
    {
        for (int i = 0; i < 1000; ++i)
            Queue(*port_, i % 128, i * 2.0, 1 + i);
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, 3));
        port_->SetAction(ActionClose);
        const auto sentAtClose = devices_->SentLog().size();
        QTest::qWait(50);
        QCOMPARE(devices_->SentLog().size(), sentAtClose);
        QVERIFY(reports_->events.empty());

        port_->SetAction(ActionOpen);
        for (int i = 0; i < 1000; ++i)
            Queue(*port_, i % 128, i * 2.0, 1 + i);
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, sentAtClose + 3));
        port_.reset();
        QCOMPARE(devices_->OutputsOpen(), 0);
    }

    void aMillionMessages()
    {
        constexpr int kCount = 1'000'000;
        for (int i = 0; i < kCount; ++i)
            Queue(*port_, i % 128, i / 1000, i % 100'000 == 0 ? i + 1 : 0);
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY_WITH_TIMEOUT(reports_->Ended(), 120'000);
        QCOMPARE(devices_->SentLog().size(), std::size_t{kCount});
        QCOMPARE(reports_->events.size(), std::size_t{11});
        QCOMPARE(reports_->events[9], 900'001);
    }
};

QTEST_MAIN(PortQueueTest)
#include "test_port_queue.moc"
