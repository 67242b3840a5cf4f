#include <QTest>

#include "song/Midifile.h"
#include "song/PlaybackPlan.h"
#include "song/StepMap.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::test;
Q_DECLARE_METATYPE(vantor::PlaybackRequest)

namespace {

// Time signatures: numerator, the denominator's power of two, clocks a click, 32nds a quarter.
const QByteArray kThreeFour = QByteArray::fromHex("03021808"), kSixEight = QByteArray::fromHex("06031808");

// A format 1 file at 96 ticks a quarter: the conductor (500,000 us a quarter,
// then `tempo` at tick 96 and `laterTempo` 144 ticks after it (or at 0) when given, `meter` at 0 when
// given, a note at 300 when it plays), the selected track: on 60 at 0, off 60 at
// 192, on 62 at 288, off 62 at 384; and a third track on channel 4.
QByteArray Piece(int tempo = 0, const QByteArray& meter = {}, int division = 96, bool conductorPlays = false,
                 int laterTempo = 0)
{
    SmfWriter writer(1, division);
    auto& conductor = writer.AddTrack().Tempo(0, 500'000);
    if (!meter.isEmpty()) conductor.Meta(0, 0x58, meter);
    if (tempo) conductor.Tempo(96, tempo);
    if (laterTempo) conductor.Tempo(tempo ? 144 : 0, laterTempo);
    if (conductorPlays) conductor.NoteOn(300, 5, 30, 50);
    writer.AddTrack().NoteOn(0, 0, 60, 90).NoteOff(192, 0, 60).NoteOn(96, 0, 62, 90).NoteOff(96, 0, 62);
    // A long text (its length takes two bytes) and channel pressure (one data byte) among them.
    SmfTrack& third = writer.AddTrack().NoteOn(48, 3, 40, 70).Meta(0, 0x01, QByteArray(200, 't'));
    third.Raw(0, {0xD3, 0x40}).NoteOff(48, 3, 40).NoteOn(288, 3, 41, 70);
    return writer.Bytes();
}

// "due event status note" for every planned message, then the loop's first
// message and period when there is one.
QString PlanOf(const QByteArray& bytes, PlaybackRequest request)
{
    Midifile reader;
    reader.LoadFromMemory(SmfWriter::Span(bytes));
    reader.SetCurrentTrack(2);
    request.msPerTick = ComputeMsPerTick(reader.Tempo(), reader.Division());
    reader.SetCurrentEvent(request.start);
    const PlaybackPlan plan = PlanPlayback(reader, request);
    if (reader.CurrentEvent() != request.start) return "moved the reader";
    QStringList words;
    for (const PlannedMessage& m : plan.messages)
        words << QStringLiteral("%1 %2 %3 %4").arg(m.due).arg(m.event).arg(m.status, 0, 16).arg(m.data1);
    // A count-in before the loop sounds once; the loop's messages come again every period.
    if (plan.loopPeriod > 0)
        words << QString::asprintf("loop %zu every %g, message 0 in round 1 at %g", plan.loopFirst,
                                   plan.loopPeriod, DueInRound(plan, 0, 1));
    return words.join(", ");
}

}  // namespace

class TestPlaybackPlan : public QObject
{
    Q_OBJECT
private slots:
    void due_times_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<PlaybackRequest>("request");
        QTest::addColumn<QString>("plan");
        const auto row = [](const char* name, const QByteArray& file, PlaybackRequest request, QString plan) {
            QTest::newRow(name) << file << request << plan;
        };
        // 500/96 ms a tick in single precision is 5.2083335: 192 ticks are 1000.00003 ms, floored.
        row("one tempo", Piece(), {}, "0 1 90 60, 1000 2 80 60, 1500 3 90 62, 2000 4 80 62, 2000 5 ff 47");
        row("three tempos, each over its own stretch", Piece(250'000, {}, 96, false, 1'000'000), {},
            "0 1 90 60, 750 2 80 60, 1375 3 90 62, 2375 4 80 62, 2375 5 ff 47");
        row("a second tempo at tick 0 wins; from the middle, the start's delta counts; no loop at the mark",
            Piece(0, {}, 96, false, 250'000), {.start = 3, .loopFrom = 3},
            "250 3 90 62, 500 4 80 62, 500 5 ff 47");
        row("SMPTE: 1 ms a tick, no tempo", Piece(250'000, {}, 0xE728), {},
            "0 1 90 60, 192 2 80 60, 288 3 90 62, 384 4 80 62, 384 5 ff 47");
        row("accompaniment: channel messages past a 200-byte text; the selected track first at a tie",
            Piece(), {.start = 2, .accompaniment = true},
            "250 0 93 40, 250 0 d3 64, 500 0 83 40, 1000 2 80 60, 1500 3 90 62, 2000 4 80 62, "
            "2000 5 ff 47, 2000 0 93 41");
        row("accompaniment: a first track with notes sounds too", Piece(0, {}, 96, true),
            {.start = 4, .accompaniment = true}, "62 0 95 30, 500 4 80 62, 500 5 ff 47, 500 0 93 41");
        row("count-in: one bar of 3/4 before the first note, at half speed", Piece(0, kThreeFour),
            {.start = 4, .speedPercent = 50, .countIn = true},
            "0 0 99 76, 500 0 89 76, 1000 0 99 77, 1500 0 89 77, 2000 0 99 77, 2500 0 89 77, "
            "4000 4 80 62, 4000 5 ff 47");
        row("loop: the passage before the position, its hanging note ended at the round's end", Piece(),
            {.start = 4, .loopFrom = 2, .accompaniment = true},
            "250 0 93 40, 250 0 d3 64, 500 0 83 40, 1000 2 80 60, 1500 3 90 62, 1500 3 80 62, loop 0 "
            "every 1500, message 0 in round 1 at 1750");
        row("loop at half speed: its period too; a click ends by the round's end", Piece(0, kSixEight),
            {.start = 3, .loopFrom = 1, .speedPercent = 50, .metronome = true},
            "0 1 90 60, 0 0 99 76, 750 0 89 76, 1500 0 99 77, 2000 2 80 60, 2000 0 89 77, loop 0 every "
            "2000, message 0 in round 1 at 2000");
        row("loop from the first event: the count-in once, a round under 100 ms stretched to 100",
            Piece(0, kSixEight), {.start = 2, .loopFrom = 1, .countIn = true},
            "0 0 99 76, 375 0 89 76, 750 0 99 77, 1125 0 89 77, 1500 1 90 60, 1500 1 80 60, loop 4 every "
            "100, message 0 in round 1 at 0");
    }
    void due_times()
    {
        QFETCH(QByteArray, file);
        QFETCH(PlaybackRequest, request);
        QFETCH(QString, plan);
        QCOMPARE(PlanOf(file, request), plan);
    }

    void beats_data()
    {
        QTest::addColumn<int>("numerator");
        QTest::addColumn<int>("power");      // of two, the denominator
        QTest::addColumn<QString>("beats");  // ticks up to 480, * on a bar's first beat
        QTest::newRow("3/8 in eighths") << 3 << 3 << "0* 48 96 144* 192 240 288* 336 384 432*";
        QTest::newRow("6/4 in quarters") << 6 << 2 << "0* 96 192 288 384";
        QTest::newRow("nonsense counts as 4/4") << 0 << 9 << "0* 96 192 288 384*";
    }
    void beats()
    {
        QFETCH(int, numerator);
        QFETCH(int, power);
        const std::vector<TimeSignature> signatures{{0, numerator, power}};
        QStringList words;
        for (const Beat& beat : BeatsBetween(signatures, 96, 0, 480))
            words << QString::number(beat.tick) + (beat.barStart ? "*" : "");
        QTEST(words.join(' '), "beats");
    }
};

QTEST_GUILESS_MAIN(TestPlaybackPlan)
#include "test_playback_plan.moc"
