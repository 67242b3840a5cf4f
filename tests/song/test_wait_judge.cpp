// The step map and the wrong notes of a wait. The window's practice rows judge
// whole passages played against the targets.
#include <QTest>

#include "song/Midifile.h"
#include "song/StepMap.h"
#include "song/WaitJudge.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::test;

namespace {

// The step map of a one-track file written as words: on<note>, z<note> (note-on,
// velocity 0), off<note>; "@<channel>" picks the channel.
QList<int> StepMapOf(const QString& words)
{
    SmfWriter w(0, 96);
    SmfTrack& track = w.AddTrack().WithoutEndOfTrack();
    for (const QString& word : words.split(' ', Qt::SkipEmptyParts)) {
        const int ch = word.section('@', 1).toInt();
        const int note = word.section('@', 0, 0).right(2).toInt();
        if (word.startsWith("on")) track.NoteOn(10, ch, note, 90);
        if (word.startsWith("z")) track.NoteOn(10, ch, note, 0);
        if (word.startsWith("off")) track.NoteOff(10, ch, note);
    }
    Midifile reader;
    reader.LoadFromMemory(SmfWriter::Span(w.Bytes()));
    const std::vector<std::int16_t> map = BuildStepMap(reader);
    return {map.begin(), map.end()};
}

}  // namespace

class TestWaitJudge : public QObject
{
    Q_OBJECT
private slots:
    void stepMap_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QList<int>>("map");  // entries 0..EventCount+1
        QTest::newRow("chord") << "on60 on64 on67 off60 off64 off67" << QList<int>{0, 2, 2, 2, 1, 0, 0, 0};
        QTest::newRow("every channel alike, velocity 0 releases")
            << "on60@0 on64@9 off60@3 on67@15 z64@9" << QList<int>{0, 2, 2, 1, 2, 1, 0};
        QTest::newRow("0 events") << "" << QList<int>{0, 0};
    }
    void stepMap()
    {
        QFETCH(QString, words);
        QTEST(StepMapOf(words), "map");
    }

    // Ascending, as the window marks them; a key held from before the step is not wrong.
    void wrongNotes()
    {
        HeldKeys held;
        for (const int note : {60, 64, 61, 62})
            held.Apply(0x90, note, 80);
        const std::vector<int> targets{62};
        const WaitVerdict verdict = JudgeWait(targets, held.Keys(), held.Keys()[0].press);
        QCOMPARE(QList<int>(verdict.wrongNotes.begin(), verdict.wrongNotes.end()), QList<int>({61, 64}));
        QVERIFY(!verdict.takeStep);
    }

    // A release, by note-off or velocity 0, forgets the key; a second press replaces it.
    // The pedal steps once each time it crosses to 64 from below, per channel.
    void heldKeysAndPedal()
    {
        HeldKeys held;
        for (const auto& [status, note, velocity] : {std::tuple{0x90, 60, 80},
                                                     {0x91, 64, 80},
                                                     {0x90, 60, 90},
                                                     {0x90, 67, 80},
                                                     {0x80, 67, 64},
                                                     {0x90, 60, 0}})
            held.Apply(status, note, velocity);
        QCOMPARE(held.Keys().size(), std::size_t(1));
        QCOMPARE(held.Keys()[0].note, 64);
        PedalWatch pedal;
        QList<bool> steps;
        for (const auto& [status, value] :
             {std::pair{0xB0, 127}, {0xB0, 100}, {0xB1, 70}, {0xB0, 63}, {0xB0, 64}})
            steps << pedal.PressedBy(status, 64, value);
        QCOMPARE(steps, (QList<bool>{true, false, true, false, true}));
    }
};

QTEST_GUILESS_MAIN(TestWaitJudge)
#include "test_wait_judge.moc"
