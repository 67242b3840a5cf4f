// The output and input ports and the timed queue against memory devices.
#include <QSignalSpy>
#include <QtTest>
#include <chrono>
#include <thread>

#include "common/ComponentError.h"
#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"
#include "support/MemoryDevices.h"

using namespace vantor;
using namespace std::chrono_literals;
using test::MemoryDevices;

namespace {

std::shared_ptr<MemoryDevices> Devices()
{
    auto devices = MemoryDevices::Create();
    MemoryDevices::OutputSpec busy{QStringLiteral("Busy")};
    busy.failCode = PortErrorCode::DeviceBusy;
    devices->SetOutputs({busy, {QStringLiteral("Fine")}});
    devices->SetInputs({{QStringLiteral("Busy"), PortErrorCode::DeviceBusy}, {QStringLiteral("Fine")}});
    return devices;
}

template <class Port>
void Open(Port& port, int id)
{
    port.SetDeviceID(id);
    port.SetAction(ActionOpen);
}

void Send(MIDIOutput& port, int status, int data1, int data2, int action = ActionSendMessage)
{
    port.SetStatus(status);
    port.SetData1(data1);
    port.SetData2(data2);
    port.SetAction(action);
}

// A failed open reports once, however often it is retried, and again once another
// device was opened in between.
template <class Port>
void CheckFailedOpen(int device, int code, bool vanished)
{
    auto devices = Devices();
    Port port(devices);
    QSignalSpy errors(&port, &Port::Error);
    QCOMPARE(port.DeviceCount(), 2);
    if (vanished) {
        devices->SetOutputs({{QStringLiteral("Other")}, {QStringLiteral("Fine")}});
        devices->SetInputs({{QStringLiteral("Other")}, {QStringLiteral("Fine")}});
    }
    for (int attempt = 0; attempt < 3; ++attempt)
        Open(port, device);
    QCOMPARE(port.OpenState(), 0);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toInt(), code);
    Open(port, 1);
    QCOMPARE(port.OpenState(), 1);
    port.SetAction(ActionClose);
    Open(port, device);
    QCOMPARE(errors.count(), 2);
}

void Queue(MIDIOutput& port, int data1, double due, std::int32_t tag = 0, int status = 0x90)
{
    if (tag != 0) port.SetTag(tag);
    port.SetTimeStamp(due);
    Send(port, status, data1, 1, ActionQueueMessage);
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

class PortsTest : public QObject
{
    Q_OBJECT

    std::shared_ptr<MemoryDevices> devices_;
    std::unique_ptr<MIDIOutput> port_;
    std::unique_ptr<Reports> reports_;

private slots:
    void listIsASnapshotUntilCountedAgain()
    {
        auto devices = Devices();
        MIDIOutput port(devices);
        QCOMPARE(port.ProductName(), QStringLiteral("Memory Default Output"));
        QCOMPARE(port.DeviceCount(), 2);
        devices->SetOutputs({{QStringLiteral("Newcomer")}});
        port.SetDeviceID(1);
        QCOMPARE(port.ProductName(), QStringLiteral("Fine"));
        QCOMPARE(port.DeviceCount(), 1);
        port.SetDeviceID(0);
        QCOMPARE(port.ProductName(), QStringLiteral("Newcomer"));
        port.SetDeviceID(1);
        QCOMPARE(port.ProductName(), QString());
    }

    void openTwiceCloseTwiceAndBusyWhileOpen()
    {
        auto devices = Devices();
        MIDIOutput port(devices);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        QCOMPARE(port.DeviceCount(), 2);
        Open(port, 1);
        port.SetAction(ActionOpen);
        QCOMPARE(devices->OutputOpenCount(1), 1);
        Open(port, -1);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), PortErrorCode::DeviceBusy);
        port.SetAction(ActionClose);
        port.SetAction(ActionClose);
        QCOMPARE(port.OpenState(), 0);
        QCOMPARE(devices->OutputsOpen(), 0);
        QCOMPARE(errors.count(), 1);
    }

    void failedOpenIsReportedOnce_data()
    {
        QTest::addColumn<int>("device");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("vanished");
        QTest::newRow("out of range") << 2 << PortErrorCode::BadDeviceId << false;
        QTest::newRow("below range") << -2 << PortErrorCode::BadDeviceId << false;
        QTest::newRow("refusing") << 0 << PortErrorCode::DeviceBusy << false;
        QTest::newRow("vanished after listing") << 0 << PortErrorCode::BadDeviceId << true;
    }
    void failedOpenIsReportedOnce()
    {
        QFETCH(int, device);
        QFETCH(int, code);
        QFETCH(bool, vanished);
        CheckFailedOpen<MIDIOutput>(device, code, vanished);
        CheckFailedOpen<MIDIInput>(device, code, vanished);
    }

    void nothingHappensOnAClosedPort()
    {
        auto devices = Devices();
        MIDIOutput port(devices);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        QSignalSpy empty(&port, &MIDIOutput::QueueEmpty);
        Send(port, 0x90, 60, 100);
        port.SetTag(1234);
        for (const int command : {ActionClearQueue, ActionQueueMessage, ActionStartQueue, ActionStopQueue})
            port.SetAction(command);
        QTest::qWait(30);
        QVERIFY(devices->SentLog().empty());
        QCOMPARE(errors.count() + empty.count(), 0);
        QVERIFY_THROWS_EXCEPTION(ComponentError, port.SetAction(8));
        QVERIFY_THROWS_EXCEPTION(ComponentError, MIDIInput(devices).SetAction(3));
    }

    void sendsChannelMessagesOnly_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("data1");
        QTest::addColumn<int>("sentData1");
        QTest::newRow("note off channel 16") << 0x8F << 127 << 127;
        QTest::newRow("data byte above 127 keeps 7 bits") << 0x90 << 0xBC << 0x3C;
        QTest::newRow("meta event") << 0xFF << 0x51 << -1;
        QTest::newRow("no status byte") << 0x40 << 1 << -1;
        QTest::newRow("beyond a byte") << 0x190 << 1 << -1;
    }
    void sendsChannelMessagesOnly()
    {
        QFETCH(int, status);
        QFETCH(int, data1);
        QFETCH(int, sentData1);
        auto devices = Devices();
        MIDIOutput port(devices);
        port.SetAction(ActionOpen);
        Send(port, status, data1, 0x85);
        const auto sent = devices->SentTo(-1);
        QCOMPARE(sent.size(), std::size_t{sentData1 >= 0});
        if (!sent.empty())
            QCOMPARE(sent[0], (ShortMessage{std::uint8_t(status), std::uint8_t(sentData1), 5}));
    }

    void deviceFailingOnSendClosesAndReportsOnce()
    {
        auto devices = Devices();
        MIDIOutput port(devices);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        int openStateInHandler = -1;
        connect(&port, &MIDIOutput::Error, &port, [&] {
            openStateInHandler = port.OpenState();
            for (int note = 0; note < 128; ++note)  // the error handler silences: no feedback
                Send(port, 0x90, note, 0);
        });
        port.SetAction(ActionOpen);
        MemoryDevices::OutputSpec unplugged = devices->Output(-1);
        unplugged.sendFailCode = PortErrorCode::NoDriver;
        devices->SetDefaultOutput(unplugged);
        Send(port, 0x90, 60, 100);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(openStateInHandler, 0);
    }

    void inputBuffersInOrderReportsOnTheUiThreadAndStops()
    {
        auto devices = Devices();
        MIDIInput port(devices);
        int reports = 0;
        connect(&port, &MIDIInput::MessageReceived, &port, [&] {
            QCOMPARE(QThread::currentThread(), qApp->thread());
            ++reports;
        });
        port.DeviceCount();
        Open(port, 1);
        port.SetAction(ActionStart);
        std::thread([&] {
            for (int note = 0; note < 100; ++note)
                devices->Inject({0x90, static_cast<std::uint8_t>(note), 64});
        }).join();
        port.SetAction(ActionStop);  // reports already on their way are dropped
        QVERIFY(!devices->Inject({0x90, 61, 1}));
        QTest::qWait(30);
        QCOMPARE(reports, 0);
        QCOMPARE(port.PendingCount(), 100);
        for (int note = 0; note < 100; ++note) {
            QCOMPARE((std::array{port.Status(), port.Data1(), port.Data2()}), (std::array{0x90, note, 64}));
            port.SetAction(ActionRemoveMessage);
        }
        port.SetAction(ActionRemoveMessage);  // nothing waits: nothing happens
        port.SetAction(ActionStart);
        std::thread([&] { devices->Inject({0x80, 62, 1}); }).join();
        QTRY_COMPARE(reports, 1);
        port.SetAction(ActionClose);
        QCOMPARE(port.PendingCount(), 0);
        QCOMPARE(devices->OpenInputDevice(), -1);
    }

    // The timed queue
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

    // Rounds are due from the first round on, never by adding up: the last round is as
    // punctual as the first. A rate set before the start shortens every wait.
    void loopsRoundAfterRoundAtItsRate_data()
    {
        QTest::addColumn<double>("rate");
        QTest::newRow("as queued") << 1.0;
        QTest::newRow("twice as fast") << 2.0;
    }
    void loopsRoundAfterRoundAtItsRate()
    {
        QFETCH(double, rate);
        for (int i = 0; i < 3; ++i)
            Queue(*port_, i, i * 10.0);
        port_->SetQueueLoop(1, 40);
        port_->SetQueueRate(rate);
        const auto start = std::chrono::steady_clock::now();
        port_->SetAction(ActionStartQueue);
        QVERIFY(WaitForSends(*devices_, 41));
        port_->SetAction(ActionStopQueue);
        const auto log = devices_->SentLog();
        for (std::size_t k = 0; k < 41; ++k) {
            const std::size_t round = k == 0 ? 0 : (k - 1) / 2;
            const int message = k == 0 ? 0 : 1 + static_cast<int>((k - 1) % 2);
            const auto due = start + std::chrono::microseconds(static_cast<std::int64_t>(
                                         (message * 10.0 + round * 40.0) * 1000 / rate));
            QCOMPARE(log[k].message.data1, message);
            QVERIFY2(log[k].time >= due && log[k].time < due + 25ms, qPrintable(QString::number(k)));
        }
        QVERIFY(!reports_->Ended());
    }

    // A rate change counts from where the queue has got to, however often it
    // changes; a cleared queue starts again at its own pace.
    void rateChangesKeepThePlace()
    {
        using Ms = std::chrono::duration<double, std::milli>;
        Queue(*port_, 0, 0);
        Queue(*port_, 1, 600);
        const auto start = std::chrono::steady_clock::now();
        port_->SetAction(ActionStartQueue);
        std::this_thread::sleep_for(100ms);
        const auto faster = std::chrono::steady_clock::now();
        port_->SetQueueRate(2);
        std::this_thread::sleep_for(40ms);
        const auto slower = std::chrono::steady_clock::now();
        port_->SetQueueRate(1);
        const double place = Ms(faster - start).count() + 2 * Ms(slower - faster).count();
        const auto due = slower + std::chrono::microseconds(static_cast<std::int64_t>((600 - place) * 1000));
        QTRY_VERIFY(reports_->Ended());
        QVERIFY(devices_->SentLog().back().time >= due && devices_->SentLog().back().time < due + 25ms);
        port_->SetQueueRate(3);
        port_->SetAction(ActionClearQueue);
        Queue(*port_, 2, 100);
        const auto restart = std::chrono::steady_clock::now();
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(devices_->SentLog().size() == 3);
        QVERIFY(devices_->SentLog().back().time >= restart + 100ms);
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
        // What is queued next plays from its own start.
        port_->SetAction(ActionOpen);
        Queue(*port_, 99, 0, 99 * 256 + 99);
        port_->SetAction(ActionStartQueue);
        QTRY_VERIFY(reports_->Ended());
        QCOMPARE(devices_->SentLog().back().message.data1, 99);
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
};

QTEST_MAIN(PortsTest)
#include "test_ports.moc"
