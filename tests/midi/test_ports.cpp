// The output and input ports, their timed queue and note tags, against memory devices.
#include <QRegularExpression>
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
    QList<int> codes;
    QObject::connect(&port, &Port::Error, [&codes](int code) { codes << code; });
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
    QCOMPARE(codes, expectedErrors);
    QCOMPARE(port.OpenState(), openState);
}

}  // namespace

class PortsTest : public QObject
{
    Q_OBJECT

    std::shared_ptr<MemoryDevices> devices_;
    std::unique_ptr<MIDIOutput> port_;
    QList<int> reports_;  // in order: a tag for MessagePlayed, -1 for QueueEmpty

private slots:
    void init()
    {
        devices_ = MemoryDevices::Create();
        port_ = std::make_unique<MIDIOutput>(devices_);
        port_->SetAction(ActionOpen);
        reports_.clear();
        connect(port_.get(), &MIDIOutput::MessagePlayed, port_.get(), [this](qint32 tag) {
            QCOMPARE(QThread::currentThread(), qApp->thread());
            reports_ << tag;
        });
        connect(port_.get(), &MIDIOutput::QueueEmpty, port_.get(), [this] { reports_ << -1; });
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
    // Unknown commands are refused.
    void deviceFailingOnSendClosesAndReportsOnce()
    {
        QSignalSpy errors(port_.get(), &MIDIOutput::Error);
        int openStateInHandler = -1;
        connect(port_.get(), &MIDIOutput::Error, port_.get(), [&] {
            openStateInHandler = port_->OpenState();
            for (int note = 0; note < 128; ++note)
                Send(*port_, 0x80, note);
        });
        MemoryDevices::DeviceSetup unplugged = devices_->Output(-1);
        unplugged.sendFailCode = PortErrorCode::NoDriver;
        devices_->SetDefaultOutput(unplugged);
        Send(*port_, 0x90, 60);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(openStateInHandler, 0);
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

    // Steps: [status in hex:]data1@due[#tag] queues (status 90 unless given); now<n>
    // sends program change n at once; start, stop, clear, close, open, destroy; rate<r>;
    // loop<first>/<period>; sent<n> waits for n sends and sleep<ms> sleeps, both
    // without the event loop (reports stay posted); wait<ms> runs it, and end runs it
    // until the queue reports its end.
    // Sent: data1 in order, @ms: due ms after the latest start, and sent at most 25 ms late.
    void queue_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QList<int>>("reported");
        QTest::newRow("an empty queue ends at once; clear forgets its read position")
            << "start end 1@0#1 start end clear 2@0#2 start end"
            << "1 2" << QList{-1, 1, -1, 2, -1};
        QTest::newRow("channel messages only, as 7 bits; a tag reported once, after its send")
            << "60@0#2748 188@0 F0:1@3#999 40:2@4#998 190:3@5#997 60@10#3132 8F:64@15#3648 FF:47@20 start end"
            << "60@0 60@0 60@10 64@15" << QList{2748, 3132, 3648, -1};
        QTest::newRow("loop rounds due from the first, at the rate set before the start")
            << "0@0 1@20 2@40 loop1/80 rate2 start sent7 stop"
            << "0@0 1@10 2@20 1@50 2@60 1@90 2@100" << QList<int>{};
        QTest::newRow("a rate change keeps the place; clear puts the rate back; a send beside the queue")
            << "0@0 1@600 start sleep100 now5 rate0.5 sleep40 rate1 end rate3 clear 2@100 start end"
            << "0@0 5 1@620 2@100" << QList{-1, -1};
        QTest::newRow("stop drops posted reports and keeps the rest for a new start")
            << "1@0#1 2@0#2 98@300#98 start sent2 sleep20 stop wait100 99@0#99 start end"
            << "1 2 98@300 99" << QList{98, 99, -1};
        QTest::newRow("clear drops posted reports and the rest")
            << "1@0#1 2@0#2 98@300#98 start sent2 sleep20 clear wait100 99@0#99 start end"
            << "1 2 99" << QList{99, -1};
        QTest::newRow("close drops posted reports and the rest")
            << "1@0#1 2@0#2 98@300#98 start sent2 sleep20 close wait100 open 99@0#99 start end"
            << "1 2 99" << QList{99, -1};
        QTest::newRow("destroyed while playing: the worker stops first")
            << "1@0 2@100 start sent1 destroy wait150"
            << "1" << QList<int>{};
        QTest::newRow("a closed port sends and reports nothing")
            << "close 60@0#1 now5 start stop clear wait30"
            << "" << QList<int>{};
    }
    void queue()
    {
        QFETCH(QString, steps);
        QFETCH(QString, sent);
        QFETCH(QList<int>, reported);
        const QHash<QString, int> commands{{"start", ActionStartQueue},
                                           {"stop", ActionStopQueue},
                                           {"clear", ActionClearQueue},
                                           {"close", ActionClose},
                                           {"open", ActionOpen}};
        const QRegularExpression queued("^(?:([0-9A-F]+):)?(\\d+)@(\\d+)(?:#(\\d+))?$");
        std::vector<Clock::time_point> starts;
        for (const QString& step : steps.split(' ')) {
            const QRegularExpressionMatch message = queued.match(step);
            if (commands.contains(step)) {
                if (step == "start") starts.push_back(Clock::now());
                port_->SetAction(commands[step]);
            } else if (step == "end") {
                const auto ends = reports_.count(-1) + 1;
                QTRY_COMPARE(reports_.count(-1), ends);
            } else if (message.hasMatch()) {
                if (!message.captured(4).isEmpty()) port_->SetTag(message.captured(4).toInt());
                port_->SetTimeStamp(message.captured(3).toDouble());
                const int status =
                    !message.captured(1).isEmpty() ? message.captured(1).toInt(nullptr, 16) : 0x90;
                Send(*port_, status, message.captured(2).toInt(), ActionQueueMessage);
            } else if (step == "destroy") {
                port_.reset();
            } else if (step.startsWith("now")) {
                Send(*port_, 0xC0, step.mid(3).toInt());
            } else if (step.startsWith("rate")) {
                port_->SetQueueRate(step.mid(4).toDouble());
            } else if (step.startsWith("loop")) {
                port_->SetQueueLoop(step.section('/', 0, 0).mid(4).toUInt(), step.section('/', 1).toDouble());
            } else if (step.startsWith("sent")) {
                const auto giveUp = Clock::now() + 10s;
                while (devices_->SentLog().size() < step.mid(4).toUInt() && Clock::now() < giveUp)
                    std::this_thread::sleep_for(1ms);
            } else if (step.startsWith("sleep")) {
                std::this_thread::sleep_for(std::chrono::milliseconds(step.mid(5).toInt()));
            } else {
                QVERIFY2(step.startsWith("wait"), qPrintable(step));
                QTest::qWait(step.mid(4).toInt());
            }
        }
        const auto log = devices_->SentLog();
        const QStringList expected = sent.split(' ', Qt::SkipEmptyParts);
        QCOMPARE(log.size(), std::size_t(expected.size()));
        for (std::size_t i = 0; i < log.size(); ++i) {
            const QString& what = expected[qsizetype(i)];
            QCOMPARE(QString::number(log[i].message.data1), what.section('@', 0, 0));
            if (!what.contains('@')) continue;
            const auto start = *std::prev(std::upper_bound(starts.begin(), starts.end(), log[i].time));
            const auto due = start + std::chrono::milliseconds(what.section('@', 1).toInt());
            QVERIFY2(log[i].time >= due && log[i].time < due + 25ms, qPrintable(what));
        }
        QCOMPARE(reports_, reported);
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
