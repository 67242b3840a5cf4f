// Stepping, the position controls, the mark and waiting for the player's notes, as rows
// of practice tables: a script on the window, the messages it sends and what it shows.
#include "support/PracticeCheck.h"

using namespace vantor::test;

class TestPractice : public QObject
{
    Q_OBJECT
private slots:
    void practice_data()
    {
        PracticeColumns();
        const QByteArray t = TwoChords();
        Row("chord steps stop before a release", t, "c|f f f",
            "on60 on64 on67 off60 90.64.0 off67 on62 on65 off62 off65", "11");
        Row("note steps stop after a note-on; the targets follow", t, "wait|f f f",
            "on64 on67 off60 90.64.0 off67 on62", "7 l62 t65");
        Row("Step Backward redraws the keys held", t, "f f f|b b",
            "reset off67 90.64.0 off60 on67 reset on64", "2 l60");
        Row("number above the end", t, "#4 f|#500", "reset", "11");
        Row("number: a fraction rounds", t, "#4 f|#7.6", "reset", "8 #7.6");
        Row("slider held, then let go", t, "#4 f|v ~9 ^", "reset", "9");
        Row("goto begin", t, "#4 f|h", "reset", "1 F");
        Row("goto end", t, "#4 f|e", "reset", "11 F");
        Row("mark: set, step on, go back", t, "#3 m f f|g", "reset", "3 @3 F l60 l64");
        Row("mark: zero", t, "#8 @5|@0", "", "8");
        SmfWriter top(0, 96);  // a chord of C4, B7 and C8
        top.AddTrack().NoteOn(0, 0, 60, 90).NoteOn(0, 0, 107, 90).NoteOn(0, 0, 108, 90);
        Row("B7 and C8 step, never waited for", top.Bytes(), "c wait|", "", "1 t60");
        Row("C8 mid-chord: one step, new targets", t, "c wait|+60 +64 +108 +67",
            "+60 +64 on60 on64 on67 +108 +67", "4 l60 t62 l64 t65 w67 p108");
        Row("Midi Reset forgets a release never sent", t, "wait|+61 reset", "+61 reset", "1 F p61 t64");
        Row("choosing the input forgets a release never sent", t, "wait|+61 input", "+61", "1 F p61 t64");
        // Set Mark inside the step's yield, and again in the yield after it: the mark follows the step.
        Row("a step's keys are spent before it yields", t, "wait|4/m 3/m +64", "+64", "2 @2 F l64 t67");
        Row("unticked: no colours", t, "c wait|+61 wait", "+61", "1 F p61");
    }
    void practice() { RunPracticeRow(); }
};

QTEST_MAIN(TestPractice)
#include "test_practice.moc"
