// The output port against memory devices: enumeration, opening and closing,
// failures, volume and immediate sends.
#include <QSignalSpy>
#include <QtTest>

#include "ComponentError.h"
#include "midi/MIDIOutput.h"
#include "support/MemoryDevices.h"

using namespace vantor;
using test::MemoryDevices;

class PortOutputTest : public QObject
{
    Q_OBJECT

private:
    static std::shared_ptr<MemoryDevices> TwoOutputs()
    {
        auto devices = MemoryDevices::Create();
        MemoryDevices::OutputSpec a;
        a.name = QStringLiteral("Out A");
        MemoryDevices::OutputSpec b;
        b.name = QStringLiteral("Out B");
        b.capabilities = 3;
        b.hasVolume = true;
        b.hasStereoVolume = true;
        b.volume = 0x1234;
        b.rightVolume = 0x5678;
        devices->SetOutputs({a, b});
        return devices;
    }

    static void Send(MIDIOutput& port, int status, int data1, int data2)
    {
        port.SetStatus(status);
        port.SetData1(data1);
        port.SetData2(data2);
        port.SetAction(ActionSendMessage);
    }

private slots:
    void enumeratesTheDefaultAndEveryDevice()
    {
        auto devices = TwoOutputs();
        MIDIOutput port(devices);
        QCOMPARE(port.DeviceCount(), 2);
        QCOMPARE(port.DeviceID(), -1);
        QCOMPARE(port.ProductName(), QStringLiteral("Memory Default Output"));
        port.SetDeviceID(1);
        QCOMPARE(port.ProductName(), QStringLiteral("Out B"));
        port.SetDeviceID(2);
        QCOMPARE(port.ProductName(), QString());
        QCOMPARE(port.OpenState(), 0);
    }

    void listIsASnapshotUntilCountedAgain()
    {
        auto devices = TwoOutputs();
        MIDIOutput port(devices);
        QCOMPARE(port.DeviceCount(), 2);
        devices->SetOutputs({{QStringLiteral("Newcomer")}});
        port.SetDeviceID(1);
        QCOMPARE(port.ProductName(), QStringLiteral("Out B"));
        QCOMPARE(port.DeviceCount(), 1);
        port.SetDeviceID(0);
        QCOMPARE(port.ProductName(), QStringLiteral("Newcomer"));
    }

    void opensAndClosesTheChosenDevice()
    {
        auto devices = TwoOutputs();
        MIDIOutput port(devices);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        port.DeviceCount();
        port.SetDeviceID(1);
        port.SetAction(ActionOpen);
        QCOMPARE(port.OpenState(), 1);
        QCOMPARE(devices->OutputOpenCount(1), 1);
        // Opening the open device again changes nothing.
        port.SetAction(ActionOpen);
        QCOMPARE(devices->OutputOpenCount(1), 1);
        QCOMPARE(devices->OutputsOpen(), 1);
        port.SetAction(ActionClose);
        QCOMPARE(port.OpenState(), 0);
        QCOMPARE(devices->OutputsOpen(), 0);
        port.SetAction(ActionClose);
        QCOMPARE(port.OpenState(), 0);
        QCOMPARE(errors.count(), 0);
    }

    void openingAnotherDeviceWhileOpenIsRefused()
    {
        auto devices = TwoOutputs();
        MIDIOutput port(devices);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        port.DeviceCount();
        port.SetAction(ActionOpen);
        port.SetDeviceID(0);
        port.SetAction(ActionOpen);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), PortErrorCode::DeviceBusy);
        QCOMPARE(devices->OutputOpenCount(0), 0);
        Send(port, 0x90, 60, 1);
        QCOMPARE(devices->SentTo(-1).size(), std::size_t{1});
    }

    void failedOpenIsReportedOncePerDevice_data()
    {
        QTest::addColumn<int>("device");
        QTest::addColumn<int>("code");
        QTest::newRow("device out of range") << 7 << PortErrorCode::BadDeviceId;
        QTest::newRow("device below the default") << -2 << PortErrorCode::BadDeviceId;
        QTest::newRow("device that fails to open") << 1 << PortErrorCode::DeviceBusy;
    }
    void failedOpenIsReportedOncePerDevice()
    {
        QFETCH(int, device);
        QFETCH(int, code);
        auto devices = TwoOutputs();
        MemoryDevices::OutputSpec busy;
        busy.name = QStringLiteral("Busy");
        busy.failCode = PortErrorCode::DeviceBusy;
        busy.failText = QStringLiteral("in use");
        devices->SetOutputs({{QStringLiteral("Fine")}, busy});
        MIDIOutput port(devices);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        port.DeviceCount();
        port.SetDeviceID(device);
        for (int attempt = 0; attempt < 5; ++attempt) {
            port.SetDeviceID(device);  // as the open before every step does
            port.SetAction(ActionOpen);
        }
        QCOMPARE(port.OpenState(), 0);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), code);
        QVERIFY(!errors.at(0).at(1).toString().isEmpty());

        // Choosing another device and coming back reports again.
        port.SetDeviceID(-1);
        port.SetDeviceID(device);
        port.SetAction(ActionOpen);
        QCOMPARE(errors.count(), 2);
    }

    void failureIsReportedAgainAfterASuccessfulOpen()
    {
        auto devices = TwoOutputs();
        MIDIOutput port(devices);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        port.DeviceCount();
        port.SetDeviceID(0);
        auto outputs =
            std::vector<MemoryDevices::OutputSpec>{{QStringLiteral("Out A")}, {QStringLiteral("Out B")}};
        outputs[0].failCode = PortErrorCode::NoDriver;
        devices->SetOutputs(outputs);
        port.SetAction(ActionOpen);
        port.SetAction(ActionOpen);
        QCOMPARE(errors.count(), 1);
        outputs[0].failCode = 0;
        devices->SetOutputs(outputs);
        port.SetAction(ActionOpen);
        QCOMPARE(port.OpenState(), 1);
        port.SetAction(ActionClose);
        outputs[0].failCode = PortErrorCode::NoDriver;
        devices->SetOutputs(outputs);
        port.SetAction(ActionOpen);
        QCOMPARE(errors.count(), 2);
    }

    void deviceThatVanishedAfterListingRaisesError()
    {
        auto devices = TwoOutputs();
        MIDIOutput port(devices);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        QCOMPARE(port.DeviceCount(), 2);
        // Out A is unplugged: Out B moves to number 0.
        devices->SetOutputs({{QStringLiteral("Out B")}});
        port.SetDeviceID(0);
        QCOMPARE(port.ProductName(), QStringLiteral("Out A"));
        port.SetAction(ActionOpen);
        QCOMPARE(port.OpenState(), 0);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), PortErrorCode::BadDeviceId);
        QCOMPARE(devices->OutputOpenCount(0), 0);
    }

    void nothingHappensOnAClosedPort()
    {
        auto devices = TwoOutputs();
        MIDIOutput port(devices);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        QSignalSpy played(&port, &MIDIOutput::MessagePlayed);
        QSignalSpy empty(&port, &MIDIOutput::QueueEmpty);
        Send(port, 0x90, 60, 100);
        port.SetTag(1234);
        port.SetTimeStamp(0);
        port.SetAction(ActionClearQueue);
        port.SetAction(ActionQueueMessage);
        port.SetAction(ActionStartQueue);
        port.SetAction(ActionStopQueue);
        QTest::qWait(30);
        QVERIFY(devices->SentLog().empty());
        QCOMPARE(errors.count() + played.count() + empty.count(), 0);
        QCOMPARE(port.Capabilities(), 0u);
        QVERIFY(!port.HasVolume());
        QCOMPARE(port.Volume(), 0);
    }

    void sendsChannelMessagesOnly_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("data1");
        QTest::addColumn<int>("data2");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<int>("sentData1");
        QTest::newRow("note on") << 0x90 << 60 << 100 << true << 60;
        QTest::newRow("note off channel 16") << 0x8F << 127 << 0 << true << 127;
        QTest::newRow("program change") << 0xC0 << 127 << 0 << true << 127;
        QTest::newRow("pitch bend") << 0xE3 << 0 << 64 << true << 0;
        QTest::newRow("data byte above 127 keeps 7 bits") << 0x90 << 0xBC << 1 << true << 0x3C;
        QTest::newRow("meta event") << 0xFF << 0x51 << 3 << false << 0;
        QTest::newRow("system exclusive") << 0xF0 << 1 << 2 << false << 0;
        QTest::newRow("system reset") << 0xFF << 0 << 0 << false << 0;
        QTest::newRow("no status byte") << 0x40 << 1 << 2 << false << 0;
        QTest::newRow("beyond a byte") << 0x190 << 1 << 2 << false << 0;
    }
    void sendsChannelMessagesOnly()
    {
        QFETCH(int, status);
        QFETCH(int, data1);
        QFETCH(int, data2);
        QFETCH(bool, sent);
        QFETCH(int, sentData1);
        auto devices = TwoOutputs();
        MIDIOutput port(devices);
        port.SetAction(ActionOpen);
        Send(port, status, data1, data2);
        const auto messages = devices->SentTo(-1);
        QCOMPARE(messages.size(), std::size_t{sent ? 1u : 0u});
        if (sent) {
            QCOMPARE(int{messages[0].status}, status);
            QCOMPARE(int{messages[0].data1}, sentData1);
            QCOMPARE(int{messages[0].data2}, data2 & 0x7F);
        }
    }

    void reportsTheVolumeOfTheOpenDevice()
    {
        auto devices = TwoOutputs();
        MIDIOutput port(devices);
        port.DeviceCount();
        port.SetDeviceID(1);
        port.SetAction(ActionOpen);
        QCOMPARE(port.Capabilities(), 3u);
        QVERIFY(port.HasVolume());
        QVERIFY(port.HasStereoVolume());
        QCOMPARE(port.Volume(), 0x1234);
        QCOMPARE(port.RightVolume(), 0x5678);
        port.SetVolume(7);
        port.SetRightVolume(9);
        QCOMPARE(devices->Output(1).volume, 7);
        QCOMPARE(devices->Output(1).rightVolume, 9);
        port.SetAction(ActionClose);
        port.SetVolume(100);
        QCOMPARE(devices->Output(1).volume, 7);
    }

    void deviceFailingOnSendClosesThePortAndReportsOnce()
    {
        auto devices = TwoOutputs();
        MIDIOutput port(devices);
        QSignalSpy errors(&port, &MIDIOutput::Error);
        int openStateSeenByHandler = -1;
        connect(&port, &MIDIOutput::Error, &port, [&] {
            openStateSeenByHandler = port.OpenState();
            // What the error handler does: silence the output, which must not feed back.
            for (int note = 0; note < 128; ++note)
                Send(port, 0x90, note, 0);
        });
        port.SetAction(ActionOpen);
        MemoryDevices::OutputSpec unplugged = devices->Output(-1);
        unplugged.sendFailCode = PortErrorCode::NoDriver;
        unplugged.sendFailText = QStringLiteral("unplugged");
        devices->SetDefaultOutput(unplugged);
        Send(port, 0x90, 60, 100);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(1).toString(), QStringLiteral("unplugged"));
        QCOMPARE(openStateSeenByHandler, 0);
        QCOMPARE(port.OpenState(), 0);
    }

    void unknownCommandIsAContractViolation()
    {
        MIDIOutput port(TwoOutputs());
        QVERIFY_THROWS_EXCEPTION(ComponentError, port.SetAction(0));
        QVERIFY_THROWS_EXCEPTION(ComponentError, port.SetAction(8));
    }
};

QTEST_MAIN(PortOutputTest)
#include "test_port_output.moc"
