// The output and input ports against memory devices.
#include <QSignalSpy>
#include <QtTest>
#include <thread>

#include "ComponentError.h"
#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"
#include "support/MemoryDevices.h"

using namespace vantor;
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

void Send(MIDIOutput& port, int status, int data1, int data2)
{
    port.SetStatus(status);
    port.SetData1(data1);
    port.SetData2(data2);
    port.SetAction(ActionSendMessage);
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

}  // namespace

class PortsTest : public QObject
{
    Q_OBJECT

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
};

QTEST_MAIN(PortsTest)
#include "test_ports.moc"
