// Stepping and waiting: the step map, the targets of the next step, and the
// judging of the notes played against them.
#include <QTest>

#include "song/Midifile.h"
#include "song/StepMap.h"
#include "song/WaitJudge.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::test;

namespace {

// A one-track file written as words, loaded with its step map: on<note>,
// z<note> (note-on, velocity 0), off<note>, cc; "@<channel>" picks the channel.
struct Song
{
    Midifile reader;
    std::vector<std::int16_t> map;

    explicit Song(const QString& words)
    {
        SmfWriter w(0, 96);
        SmfTrack& track = w.AddTrack().WithoutEndOfTrack();
        for (const QString& word : words.split(' ', Qt::SkipEmptyParts)) {
            const QString what = word.section('@', 0, 0);
            const int ch = word.section('@', 1).toInt();
            const int note = what.right(2).toInt();
            if (what.startsWith("on")) track.NoteOn(10, ch, note, 90);
            if (what.startsWith("z")) track.NoteOn(10, ch, note, 0);
            if (what.startsWith("off")) track.NoteOff(10, ch, note);
            if (what == "cc") track.Control(0, ch, 64, 127);
        }
        reader.LoadFromMemory(SmfWriter::Span(w.Bytes()));  // the reader keeps a copy
        map = BuildStepMap(reader);
    }
};

// Plays a script against a song's steps ("60 64 67 | 62": the targets of each step)
// as the window does: each message updates the held keys and is judged; a step
// moves the boundary to the latest press and goes on to the next targets.
// Words: +n press, -n release, zn velocity-0 note-on, S a step key, P/p the pedal
// down/up. Returns the steps taken and the wrong notes at the end ("2 w61").
QString Play(const QString& song, const QString& script)
{
    const QStringList steps = song.split('|');
    qsizetype at = 0;
    HeldKeys held;
    PedalWatch pedal;
    std::uint64_t boundary = 0;
    WaitVerdict verdict;
    const auto step = [&] { boundary = held.LastPress(), ++at; };
    for (const QString& word : script.split(' ')) {
        const char kind = word[0].toLatin1();
        const int status = kind == 'P' || kind == 'p' ? 0xB3 : kind == '-' ? 0x83 : 0x93;
        const int data1 = status == 0xB3 ? 64 : word.mid(1).toInt();
        const int data2 = kind == 'P' ? 100 : kind == '+' ? 80 : 0;
        if (kind == 'S' || pedal.PressedBy(status, data1, data2)) step();
        if (kind == 'S') continue;
        held.Apply(status, data1, data2);
        std::vector<int> targets;
        for (const QString& note : steps.value(at).split(' ', Qt::SkipEmptyParts))
            targets.push_back(note.toInt());
        verdict = JudgeWait(targets, held.Keys(), boundary);
        if (verdict.takeStep) step();
    }
    QString result = QString::number(at);
    for (const int note : verdict.wrongNotes)
        result += " w" + QString::number(note);
    return result;
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
        QTest::newRow("legato") << "on60 on62 off60 on64 off62 off64" << QList<int>{0, 2, 2, 1, 2, 1, 0, 0};
        QTest::newRow("velocity 0 releases") << "on60 z60" << QList<int>{0, 2, 1, 0};
        QTest::newRow("events between") << "on60 cc cc off60" << QList<int>{0, 2, 0, 0, 1, 0};
        QTest::newRow("note-off first") << "off60 on60 off60" << QList<int>{0, 0, 2, 1, 0};
        QTest::newRow("channels alike")
            << "on60@0 on64@9 off60@3 on67@15 z64@9" << QList<int>{0, 2, 2, 1, 2, 1, 0};
        QTest::newRow("0 events") << "" << QList<int>{0, 0};
        QTest::newRow("1 event") << "on60" << QList<int>{0, 0, 0};
    }
    void stepMap()
    {
        QFETCH(QString, words);
        const Song song(words);
        QTEST(QList<int>(song.map.begin(), song.map.end()), "map");
    }

    // The notes the next Step Forward sounds, from a position, in either mode.
    void targets_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("chordMode");
        QTest::addColumn<QList<int>>("targets");
        QTest::newRow("note: skips the current event") << 1 << false << QList<int>{60};
        QTest::newRow("note: over releases and a controller") << 3 << false << QList<int>{62};
        QTest::newRow("chord: from the start, sorted") << 1 << true << QList<int>{60, 64, 67};
        QTest::newRow("chord: from its release") << 5 << true << QList<int>{62, 65};
        QTest::newRow("chord: a lone note") << 11 << true << QList<int>{62};
        QTest::newRow("chord: at the end") << 13 << true << QList<int>{};
        QTest::newRow("note: at the end") << 13 << false << QList<int>{};
    }
    void targets()
    {
        QFETCH(int, position);
        QFETCH(bool, chordMode);
        Song song("on64 on60 on67 cc off60 z64 off67 on62 on65 off62 off65 on62 off62");
        song.reader.SetCurrentEvent(position);
        const std::vector<int> targets = StepTargets(song.reader, song.map, chordMode);
        QTEST(QList<int>(targets.begin(), targets.end()), "targets");
        QCOMPARE(song.reader.CurrentEvent(), position);
    }

    void judges_data()
    {
        QTest::addColumn<QString>("song");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("result");  // steps taken, then the wrong notes
        const auto row = [](const char* name, const char* song, const char* script, const char* result) {
            QTest::newRow(name) << QString(song) << QString(script) << QString(result);
        };
        row("single note", "60 | 62", "+60", "1");
        row("another note is wrong", "60 | 62", "+61", "0 w61");
        row("chord in any order", "60 64 67 | 62", "+67 +60 +64", "1");
        row("a note let go before the chord is whole", "60 64 | 62", "+60 -60 +64", "0");
        row("extra wrong note holds the chord", "60 64 | 62", "+60 +61 +64", "0 w61");
        row("released, the step follows", "60 64 | 62", "+60 +61 +64 -61", "1");
        row("wrong notes in order", "60 | 62", "+64 +61", "0 w61 w64");
        row("legato: held notes are not wrong", "60 | 62 | 64", "+60 +62 -60 +64", "3");
        row("repeated note: holding is not playing", "60 | 60", "+60", "1");
        row("repeated note pressed again", "60 | 60 | 60", "+60 -60 +60", "2");
        row("velocity 0 releases", "60 | 60", "+60 z60 +60", "2");
        row("end of the track: nothing waits", "60", "+60 +62", "1");
        row("step key mid-chord: new targets", "60 64 67 | 62 | 65", "+60 +64 S +67", "1 w67");
        row("pedal mid-chord", "60 64 | 62 | 65", "+60 P +64 +62", "1 w64");
        row("pedal: one step per press", "60 | 62 | 64 | 65", "P P p P", "2");
    }
    void judges()
    {
        QFETCH(QString, song);
        QFETCH(QString, script);
        QTEST(Play(song, script), "result");
    }
};

QTEST_GUILESS_MAIN(TestWaitJudge)
#include "test_wait_judge.moc"
