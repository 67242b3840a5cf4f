// The output and input ports, their timed queue and note tags, against memory devices.
#include <QRegularExpression>
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

void Row(const char* name, const char* steps, const char* sent, const char* reported)
{
    QTest::newRow(name) << QString(steps) << QString(sent) << QString(reported);
}

}  // namespace

class PortsTest : public QObject
{
    Q_OBJECT

private slots:
    // Steps: [status in hex:]data1@due[#tag] queues (status 90 unless given); now<n>
    // sends program change n at once; open, close, start, stop, clear; open<n> opens
    // output n; busy, fine and unplug make output 0 a device that refuses to open,
    // another one that opens, or one whose sends fail, and count the outputs again;
    // rate<r>; loop<first>/<period>; sent<n> waits for n sends without the event loop
    // (reports stay posted); wait<ms> runs it, and end runs it until the queue reports
    // its end.
    // Sent: data1 in order, @ms: due ms after the latest start, and sent at most 25 ms late.
    // Reported: tags played, end, and E<code> for an error ("open": the port was not closed first).
    void output_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("reported");
        Row("an empty queue ends at once; clear forgets its read position",
            "open start end 1@0#1 start end clear 2@0#2 start end", "1 2", "end 1 end 2 end");
        Row("channel messages only, as 7 bits; a tag reported once, after its send",
            "open 60@0#2748 188@0 F0:1@3#999 40:2@4#998 190:3@5#997 60@10#3132 8F:64@15#3648 start end",
            "60@0 60@0 60@10 64@15", "2748 3132 3648 end");
        Row("loop rounds due from the first, at the rate set before the start",
            "open 0@0 1@20 2@40 loop1/80 rate2 start sent7 stop", "0@0 1@10 2@20 1@50 2@60 1@90 2@100", "");
        Row("a rate change keeps the place; clear puts the rate back; a send beside the queue",
            "open 0@0 1@600 start wait100 now5 rate0.5 wait40 rate1 end rate3 clear 2@100 start end",
            "0@0 5 1@620 2@100", "end end");
        Row("clear drops posted reports and the rest",
            "open 1@0#1 2@0#2 98@300#98 start sent2 clear wait100 99@0#99 start end", "1 2 99", "99 end");
        // Stepping opens the output before every event: a failure is reported once.
        Row("refusing: quiet until it opened", "busy open0 open0 fine open0 close busy open0", "", "E4 E4");
        Row("counted again: the number names the newcomer", "busy fine open0 now5", "5", "");
        // The error handler silences the output: it must find the port closed already.
        Row("failing on send: closed, reported once", "fine open0 unplug now5 now6", "", "E6");
    }
    void output()
    {
        QFETCH(QString, steps);
        QFETCH(QString, sent);
        QFETCH(QString, reported);
        auto devices = MemoryDevices::Create();
        MIDIOutput port(devices);
        QStringList reports;
        connect(&port, &MIDIOutput::MessagePlayed, &port,
                [&](qint32 tag) { reports << QString::number(tag); });
        connect(&port, &MIDIOutput::QueueEmpty, &port, [&] { reports << "end"; });
        connect(&port, &MIDIOutput::Error, &port, [&](int code) {
            reports << QStringLiteral("E%1").arg(code) + (port.OpenState() ? " open" : "");
        });
        const auto send = [&port](int status, int data1, int action) {
            port.SetStatus(status);
            port.SetData1(data1);
            port.SetAction(action);
        };
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
                port.SetAction(commands[step]);
            } else if (step == "end") {
                const auto ends = reports.count("end") + 1;
                QTRY_COMPARE(reports.count("end"), ends);
            } else if (message.hasMatch()) {
                if (!message.captured(4).isEmpty()) port.SetTag(message.captured(4).toInt());
                port.SetTimeStamp(message.captured(3).toDouble());
                const int status =
                    message.captured(1).isEmpty() ? 0x90 : message.captured(1).toInt(nullptr, 16);
                send(status, message.captured(2).toInt(), ActionQueueMessage);
            } else if (step.startsWith("open")) {
                port.SetDeviceID(step.mid(4).toInt());
                port.SetAction(ActionOpen);
            } else if (step == "busy" || step == "fine" || step == "unplug") {
                MemoryDevices::DeviceSetup setup(step == "busy" ? "Busy" : "Other");
                setup.failCode = step == "busy" ? PortErrorCode::DeviceBusy : 0;
                setup.sendFailCode = step == "unplug" ? PortErrorCode::NoDriver : 0;
                devices->SetOutputs({setup});
                port.DeviceCount();
            } else if (step.startsWith("now")) {
                send(0xC0, step.mid(3).toInt(), ActionSendMessage);
            } else if (step.startsWith("rate")) {
                port.SetQueueRate(step.mid(4).toDouble());
            } else if (step.startsWith("loop")) {
                port.SetQueueLoop(step.section('/', 0, 0).mid(4).toUInt(), step.section('/', 1).toDouble());
            } else if (step.startsWith("sent")) {
                const auto giveUp = Clock::now() + 10s;
                while (devices->SentLog().size() < step.mid(4).toUInt() && Clock::now() < giveUp)
                    std::this_thread::sleep_for(1ms);
            } else {
                QVERIFY2(step.startsWith("wait"), qPrintable(step));
                QTest::qWait(step.mid(4).toInt());
            }
        }
        const auto log = devices->SentLog();
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
        QCOMPARE(reports.join(' '), reported);
    }

    // Messages wait in order for the UI thread; a stop drops the notice on its way,
    // and a close what still waits.
    void input()
    {
        auto devices = MemoryDevices::Create();
        devices->SetInputs({{QStringLiteral("Keys")}});
        MIDIInput port(devices);
        int notices = 0;
        connect(&port, &MIDIInput::MessageReceived, &port, [&] { ++notices; });
        port.SetAction(ActionOpen);
        port.SetAction(ActionStart);
        for (std::uint8_t note = 60; note < 63; ++note)
            devices->Inject({0x90, note, 64});
        port.SetAction(ActionStop);
        QTest::qWait(30);
        QCOMPARE(notices, 0);
        port.SetAction(ActionRemoveMessage);
        QCOMPARE((QList{port.Status(), port.Data1(), port.Data2()}), (QList{0x90, 61, 64}));
        port.SetAction(ActionClose);
        QCOMPARE(port.PendingCount(), 0);
    }

    // A track longer than the tags can carry is refused, never wrapped.
    void noteTags()
    {
        QCOMPARE(NoteTagNote(PackNoteTag(MaxTaggedEvent, 127, true)), 127);
        QVERIFY_THROWS_EXCEPTION(ComponentError, PackNoteTag(MaxTaggedEvent + 1, 60, false));
    }
};

QTEST_MAIN(PortsTest)
#include "test_ports.moc"
