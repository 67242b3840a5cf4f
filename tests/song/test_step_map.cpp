#include <QRandomGenerator>
#include <QStringList>
#include <QTest>

#include "ComponentError.h"
#include "song/Midifile.h"
#include "song/StepMap.h"
#include "support/SmfWriter.h"

using vantor::BuildStepMap;
using vantor::Midifile;
using vantor::test::SmfTrack;
using vantor::test::SmfWriter;

namespace {

// One event per word: on<note>, z<note> (note-on with velocity 0), off<note>, cc,
// pc, name; an optional "@<channel>" suffix picks the channel (default 0).
void AddEvents(SmfTrack& track, const QString& events)
{
    const QStringList words = events.split(' ', Qt::SkipEmptyParts);
    for (const QString& word : words) {
        const QStringList parts = word.split('@');
        const QString what = parts[0];
        const int channel = parts.size() > 1 ? parts[1].toInt() : 0;
        if (what.startsWith("on")) {
            track.NoteOn(10, channel, what.mid(2).toInt(), 90);
        } else if (what.startsWith("z")) {
            track.NoteOn(10, channel, what.mid(1).toInt(), 0);
        } else if (what.startsWith("off")) {
            track.NoteOff(10, channel, what.mid(3).toInt());
        } else if (what == "cc") {
            track.Control(0, channel, 64, 127);
        } else if (what == "pc") {
            track.Program(0, channel, 5);
        } else if (what == "name") {
            track.Name(0, "Melody");
        } else {
            qFatal("unknown event word %s", qPrintable(what));
        }
    }
}

std::vector<std::int16_t> MapOf(const QByteArray& bytes)
{
    Midifile reader;
    reader.LoadFromMemory(
        {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())});
    reader.SetCurrentTrack(1);
    return BuildStepMap(reader);
}

// The table the marking pass must reproduce, written from the definition.
std::vector<std::int16_t> Expected(const std::vector<std::pair<int, int>>& events)
{
    std::vector<std::int16_t> map(events.size() + 2, 0);
    if (events.size() < 2) return map;
    int previousNote = 0;  // 0 none, 1 note-on, 2 note-off
    for (std::size_t k = 0; k < events.size(); ++k) {
        const auto [status, velocity] = events[k];
        const bool on = (status & 0xF0) == 0x90 && velocity != 0;
        const bool off = (status & 0xF0) == 0x80 || ((status & 0xF0) == 0x90 && velocity == 0);
        if (on) {
            map[k + 1] = 2;
            previousNote = 1;
        } else if (off) {
            if (previousNote == 1) map[k + 1] = 1;
            previousNote = 2;
        }
    }
    return map;
}

}  // namespace

class TestStepMap : public QObject
{
    Q_OBJECT
private slots:
    void marks_data();
    void marks();
    void shortTracks();
    void agreesWithTheTableOnRandomTracks();
    void readsThroughTheCurrentTrack();
    void lookupIsBoundsChecked();
    void msPerTick_data();
    void msPerTick();
};

void TestStepMap::marks_data()
{
    QTest::addColumn<QString>("events");
    QTest::addColumn<QList<int>>("expected");  // one per event; End of Track is added after them

    QTest::newRow("chord struck and released in order")
        << "on60 on64 on67 off60 off64 off67" << QList<int>{2, 2, 2, 1, 0, 0};
    QTest::newRow("legato") << "on60 on62 off60 on64 off62 off64" << QList<int>{2, 2, 1, 2, 1, 0};
    QTest::newRow("velocity 0 releases") << "on60 z60" << QList<int>{2, 1};
    QTest::newRow("events between a note and its release") << "on60 cc off60" << QList<int>{2, 0, 1};
    QTest::newRow("note-off before any note-on") << "off60 on60 off60" << QList<int>{0, 2, 1};
    QTest::newRow("channels alike") << "on60@0 on64@9 off60@3 on67@15 z64@9" << QList<int>{2, 2, 1, 2, 1};
    QTest::newRow("meta and program changes are never marked")
        << "name pc@1 on60 pc@2 name off60 cc" << QList<int>{0, 0, 2, 0, 0, 1, 0};
    QTest::newRow("two chords") << "on60 on64 off60 off64 on62 on65 off62 off65"
                                << QList<int>{2, 2, 1, 0, 2, 2, 1, 0};
    QTest::newRow("note-on as the last event") << "cc cc on60" << QList<int>{0, 0, 2};
    QTest::newRow("only controllers") << "cc cc cc" << QList<int>{0, 0, 0};
}

void TestStepMap::marks()
{
    QFETCH(QString, events);
    QFETCH(QList<int>, expected);
    SmfWriter writer(0, 96);
    AddEvents(writer.AddTrack(), events);
    const auto map = MapOf(writer.Bytes());

    QList<int> got;
    for (std::size_t k = 1; k + 1 < map.size(); ++k)
        got << map[k];
    expected << 0;  // End of Track
    QCOMPARE(got, expected);
    QCOMPARE(map.front(), 0);
    QCOMPARE(map.back(), 0);
}

void TestStepMap::shortTracks()
{
    {  // no events at all
        SmfWriter writer(0, 96);
        writer.AddTrack().WithoutEndOfTrack();
        const auto map = MapOf(writer.Bytes());
        QCOMPARE(map, (std::vector<std::int16_t>{0, 0}));
    }
    {  // one event, a note-on: still all 0
        SmfWriter writer(0, 96);
        writer.AddTrack().NoteOn(0, 0, 60, 100).WithoutEndOfTrack();
        const auto map = MapOf(writer.Bytes());
        QCOMPARE(map, (std::vector<std::int16_t>{0, 0, 0}));
    }
    {  // two events: the release is marked
        SmfWriter writer(0, 96);
        writer.AddTrack().NoteOn(0, 0, 60, 100).NoteOff(10, 0, 60).WithoutEndOfTrack();
        const auto map = MapOf(writer.Bytes());
        QCOMPARE(map, (std::vector<std::int16_t>{0, 2, 1, 0}));
    }
}

void TestStepMap::agreesWithTheTableOnRandomTracks()
{
    QRandomGenerator random(20261206);
    for (int round = 0; round < 200; ++round) {
        SmfWriter writer(0, 96);
        SmfTrack& track = writer.AddTrack().WithoutEndOfTrack();
        std::vector<std::pair<int, int>> events;
        const int length = random.bounded(0, 40);
        for (int i = 0; i < length; ++i) {
            const int channel = random.bounded(16);
            switch (random.bounded(5)) {
                case 0:
                case 1: {
                    const int velocity = random.bounded(4) == 0 ? 0 : 80;
                    track.NoteOn(1, channel, 60, velocity);
                    events.emplace_back(0x90 | channel, velocity);
                    break;
                }
                case 2:
                    track.NoteOff(1, channel, 60);
                    events.emplace_back(0x80 | channel, 64);
                    break;
                case 3:
                    track.Control(1, channel, 7, 100);
                    events.emplace_back(0xB0 | channel, 100);
                    break;
                default:
                    track.Meta(1, 1, "text");
                    events.emplace_back(0xFF, 0);
                    break;
            }
        }
        track.EndOfTrack(0);
        events.emplace_back(0xFF, 0);
        const auto map = MapOf(writer.Bytes());
        if (map != Expected(events)) {
            QList<int> got(map.begin(), map.end());
            const auto want = Expected(events);
            QFAIL(qPrintable(QString("round %1: got %2, want %3")
                                 .arg(round)
                                 .arg(QTest::toString(got))
                                 .arg(QTest::toString(QList<int>(want.begin(), want.end())))));
        }
    }
}

void TestStepMap::readsThroughTheCurrentTrack()
{
    SmfWriter writer(1, 96);
    writer.AddTrack().Name(0, "Conductor").Tempo(0, 500000);
    writer.AddTrack().NoteOn(0, 0, 60, 90).NoteOn(0, 0, 64, 90).NoteOff(10, 0, 60).NoteOff(0, 0, 64);
    const QByteArray bytes = writer.Bytes();
    Midifile reader;
    reader.LoadFromMemory(
        {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())});
    reader.SetCurrentTrack(2);
    QCOMPARE(BuildStepMap(reader), (std::vector<std::int16_t>{0, 2, 2, 1, 0, 0, 0}));
    reader.SetCurrentTrack(1);
    QCOMPARE(BuildStepMap(reader), (std::vector<std::int16_t>{0, 0, 0, 0, 0}));

    std::vector<std::int16_t> wrongSize(3, 0);
    QVERIFY_THROWS_EXCEPTION(vantor::ComponentError, vantor::MarkStepMap(reader, wrongSize));
}

void TestStepMap::lookupIsBoundsChecked()
{
    const std::vector<std::int16_t> map{0, 2, 1, 0};
    QCOMPARE(vantor::StepMapAt(map, 1), 2);
    QCOMPARE(vantor::StepMapAt(map, 3), 0);
    QVERIFY_THROWS_EXCEPTION(vantor::ComponentError, vantor::StepMapAt(map, 4));
    QVERIFY_THROWS_EXCEPTION(vantor::ComponentError, vantor::StepMapAt(map, -1));
    QVERIFY_THROWS_EXCEPTION(vantor::ComponentError, vantor::StepMapAt({}, 0));
}

void TestStepMap::msPerTick_data()
{
    QTest::addColumn<int>("tempo");
    QTest::addColumn<int>("division");
    QTest::addColumn<float>("expected");
    QTest::newRow("120 bpm, 96 ticks") << 500000 << 96 << 5.2083335f;
    QTest::newRow("120 bpm, 480 ticks") << 500000 << 480 << static_cast<float>(500.0 / 480.0);
    QTest::newRow("60 bpm, 1000 ticks") << 1000000 << 1000 << 1.0f;
    QTest::newRow("slowest tempo") << 0xFFFFFF << 1 << static_cast<float>(16777.215);
}

void TestStepMap::msPerTick()
{
    QFETCH(int, tempo);
    QFETCH(int, division);
    QFETCH(float, expected);
    // Exact: the single-precision nearest to the double result.
    QCOMPARE(vantor::ComputeMsPerTick(tempo, division), expected);
    QVERIFY_THROWS_EXCEPTION(vantor::ComponentError, vantor::ComputeMsPerTick(tempo, 0));
}

QTEST_GUILESS_MAIN(TestStepMap)
#include "test_step_map.moc"
