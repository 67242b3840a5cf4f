#include <QTest>

#include "song/WaitJudge.h"

using namespace vantor;

namespace {

// Plays a script against a song's steps ("60 64 67 | 62": the targets of each step)
// as the window does: each message updates the held keys and is judged; a step
// moves the boundary to the latest press and goes on to the next targets.
// Words: +n press, -n release, zn velocity-0 note-on, S a step key, P/p the pedal
// down/up. Returns the steps taken and the wrong notes at the end ("2 w61").
QString Play(const QString& song, const QString& script)
{
    const QStringList steps = song.split('|');
    qsizetype at = 0;
    std::vector<int> targets;
    const auto load = [&] {
        targets.clear();
        if (at < steps.size())
            for (const QString& note : steps[at].split(' ', Qt::SkipEmptyParts))
                targets.push_back(note.toInt());
    };
    load();
    HeldKeys held;
    PedalWatch pedal;
    std::uint64_t boundary = 0;
    const auto step = [&] { boundary = held.LastPress(), ++at, load(); };
    WaitVerdict verdict;
    for (const QString& word : script.split(' ', Qt::SkipEmptyParts)) {
        if (word == "S") {
            step();
            continue;
        }
        const int note = word.mid(1).toInt();
        const char kind = word[0].toLatin1();
        const int status = kind == 'P' || kind == 'p' ? 0xB3 : kind == '-' ? 0x83 : 0x93;
        const int data1 = status == 0xB3 ? 64 : note, data2 = kind == 'P' ? 100 : kind == '+' ? 80 : 0;
        if (pedal.PressedBy(status, data1, data2)) step();
        held.Apply(status, data1, data2);
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
        row("chord, two of three", "60 64 67 | 62", "+60 +64", "0");
        row("chord note by note", "60 64 67 | 62", "+60 +64 +67", "1");
        row("chord in any order", "60 64 67 | 62", "+67 +60 +64", "1");
        row("a note let go before the chord is whole", "60 64 | 62", "+60 -60 +64", "0");
        row("extra wrong note holds the chord", "60 64 | 62", "+60 +61 +64", "0 w61");
        row("released, the step follows", "60 64 | 62", "+60 +61 +64 -61", "1");
        row("a wrong note pressed and gone", "60 64 | 62", "+61 -61 +60 +64", "1");
        row("legato: held notes are not wrong", "60 | 62 | 64", "+60 +62 -60 +64", "3");
        row("held chord under the next note", "60 64 | 62 | 65", "+60 +64 +62", "2");
        row("repeated note: holding is not playing", "60 | 60", "+60", "1");
        row("repeated note pressed again", "60 | 60 | 60", "+60 -60 +60", "2");
        row("velocity 0 releases", "60 | 60", "+60 z60 +60", "2");
        row("velocity 0 breaks the chord", "60 64 | 62", "+60 z60 +64", "0");
        row("end of the track: nothing waits", "60", "+60 +62", "1");
        row("step key mid-chord: new targets", "60 64 67 | 62 | 65", "+60 +64 S +67", "1 w67");
        row("step key mid-chord, then the next", "60 64 67 | 62 | 65", "+60 +64 S +62", "2");
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

QTEST_APPLESS_MAIN(TestWaitJudge)
#include "test_wait_judge.moc"
