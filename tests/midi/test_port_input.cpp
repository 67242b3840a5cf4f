// The input port against memory devices: buffering in arrival order, reports on
// the UI thread, start and stop, failures.
#include <QSignalSpy>
#include <QtTest>
#include <thread>

#include "ComponentError.h"
#include "midi/MIDIInput.h"
#include "support/MemoryDevices.h"

using namespace vantor;
using test::MemoryDevices;

class PortInputTest : public QObject
{
    Q_OBJECT

    static std::shared_ptr<MemoryDevices> TwoInputs()
    {
        auto devices = MemoryDevices::Create();
        devices->SetInputs({{QStringLiteral("Keys A")}, {QStringLiteral("Keys B")}});
        return devices;
    }

    static void OpenAndStart(MIDIInput& port, int id)
    {
        port.DeviceCount();
        port.SetDeviceID(id);
        port.SetAction(ActionOpen);
        port.SetAction(ActionStart);
    }

private slots:
    void enumeratesInputs()
    {
        MIDIInput port(TwoInputs());
        QCOMPARE(port.DeviceCount(), 2);
        port.SetDeviceID(1);
        QCOMPARE(port.ProductName(), QStringLiteral("Keys B"));
        port.SetDeviceID(-1);
        QCOMPARE(port.ProductName(), QString());
    }

    void buffersMessagesAndReportsOnTheUiThread()
    {
        auto devices = TwoInputs();
        MIDIInput port(devices);
        int reports = 0;
        connect(&port, &MIDIInput::MessageReceived, &port, [&] {
            QCOMPARE(QThread::currentThread(), qApp->thread());
            ++reports;
        });
        OpenAndStart(port, 1);
        QCOMPARE(devices->OpenInputDevice(), 1);
        QVERIFY(devices->InputRunning());

        std::thread keyboard([&] {
            for (int note = 0; note < 100; ++note)
                devices->Inject({0x90, static_cast<std::uint8_t>(note), 64});
        });
        keyboard.join();
        QCOMPARE(port.PendingCount(), 100);
        QTRY_VERIFY(reports > 0);
        for (int note = 0; note < 100; ++note) {
            QCOMPARE(port.Status(), 0x90);
            QCOMPARE(port.Data1(), note);
            QCOMPARE(port.Data2(), 64);
            port.SetAction(ActionRemoveMessage);
        }
        QCOMPARE(port.PendingCount(), 0);
        port.SetAction(ActionRemoveMessage);  // nothing waits: nothing happens
        QCOMPARE(port.PendingCount(), 0);
    }

    void reportsAgainForMessagesArrivingLater()
    {
        auto devices = TwoInputs();
        MIDIInput port(devices);
        QSignalSpy received(&port, &MIDIInput::MessageReceived);
        OpenAndStart(port, 0);
        devices->Inject({0x90, 60, 1});
        QTRY_COMPARE(received.count(), 1);
        port.SetAction(ActionRemoveMessage);
        devices->Inject({0x80, 60, 0});
        QTRY_COMPARE(received.count(), 2);
        QCOMPARE(port.Status(), 0x80);
    }

    void stopEndsReceivingAndDropsReportsOnTheirWay()
    {
        auto devices = TwoInputs();
        MIDIInput port(devices);
        QSignalSpy received(&port, &MIDIInput::MessageReceived);
        OpenAndStart(port, 0);
        QVERIFY(devices->Inject({0x90, 60, 1}));
        port.SetAction(ActionStop);
        QVERIFY(!devices->InputRunning());
        QVERIFY(!devices->Inject({0x90, 61, 1}));
        QTest::qWait(30);
        QCOMPARE(received.count(), 0);
        QCOMPARE(port.PendingCount(), 1);

        port.SetAction(ActionStart);
        QVERIFY(devices->Inject({0x90, 62, 1}));
        QTRY_COMPARE(received.count(), 1);
        QCOMPARE(port.PendingCount(), 2);
    }

    void closeForgetsWhatWaits()
    {
        auto devices = TwoInputs();
        MIDIInput port(devices);
        QSignalSpy received(&port, &MIDIInput::MessageReceived);
        OpenAndStart(port, 0);
        devices->Inject({0x90, 60, 1});
        port.SetAction(ActionClose);
        QCOMPARE(port.OpenState(), 0);
        QCOMPARE(port.PendingCount(), 0);
        QCOMPARE(devices->OpenInputDevice(), -1);
        port.SetAction(ActionClose);
        port.SetAction(ActionStart);  // on a closed port: nothing
        QVERIFY(!devices->InputRunning());
        QTest::qWait(30);
        QCOMPARE(received.count(), 0);
    }

    void failedOpenIsReportedOnce_data()
    {
        QTest::addColumn<int>("device");
        QTest::addColumn<int>("code");
        QTest::newRow("out of range") << 2 << PortErrorCode::BadDeviceId;
        QTest::newRow("negative") << -1 << PortErrorCode::BadDeviceId;
        QTest::newRow("refuses to open") << 0 << PortErrorCode::DeviceBusy;
    }
    void failedOpenIsReportedOnce()
    {
        QFETCH(int, device);
        QFETCH(int, code);
        auto devices = MemoryDevices::Create();
        MemoryDevices::InputSpec busy{QStringLiteral("Busy"), PortErrorCode::DeviceBusy,
                                      QStringLiteral("in use")};
        devices->SetInputs({busy, {QStringLiteral("Fine")}});
        MIDIInput port(devices);
        QSignalSpy errors(&port, &MIDIInput::Error);
        for (int attempt = 0; attempt < 3; ++attempt)
            OpenAndStart(port, device);
        QCOMPARE(port.OpenState(), 0);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), code);
        OpenAndStart(port, 1);
        QCOMPARE(port.OpenState(), 1);
        QCOMPARE(errors.count(), 1);
    }

    void inputThatVanishedAfterListing()
    {
        auto devices = TwoInputs();
        MIDIInput port(devices);
        QSignalSpy errors(&port, &MIDIInput::Error);
        QCOMPARE(port.DeviceCount(), 2);
        devices->SetInputs({{QStringLiteral("Keys B")}});
        port.SetDeviceID(0);
        port.SetAction(ActionOpen);
        QCOMPARE(port.OpenState(), 0);
        QCOMPARE(errors.count(), 1);
    }

    void destroyingWhileMessagesArriveIsSafe()
    {
        auto devices = TwoInputs();
        auto port = std::make_unique<MIDIInput>(devices);
        OpenAndStart(*port, 0);
        for (int i = 0; i < 10; ++i)
            devices->Inject({0x90, 1, 1});
        port.reset();
        QTest::qWait(20);
        QVERIFY(!devices->InputRunning());
    }

    void unknownCommandIsAContractViolation()
    {
        MIDIInput port(TwoInputs());
        QVERIFY_THROWS_EXCEPTION(ComponentError, port.SetAction(3));
        QVERIFY_THROWS_EXCEPTION(ComponentError, port.SetAction(7));
    }
};

QTEST_MAIN(PortInputTest)
#include "test_port_input.moc"
