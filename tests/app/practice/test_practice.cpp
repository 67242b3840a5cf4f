// Stepping, the position controls, the mark and waiting for the player's notes, as rows
// of practice tables: a script on the window, the messages it sends and what it shows.
#include "support/PracticeCheck.h"

using namespace vantor::test;

namespace {

// C3 held from event 1 to the end; between, note pairs on 60..71, the note-on at an
// even event and its note-off at the next odd one (2 * pairs + 3 events).
QByteArray HeldBass(int pairs)
{
    SmfWriter w(0, 96);
    SmfTrack& t = w.AddTrack().NoteOn(0, 0, 48, 78);
    for (int i = 0; i < pairs; ++i)
        t.NoteOn(0, 0, 60 + i % 12, 90 + i % 12).NoteOff(24, 0, 60 + i % 12);
    t.NoteOff(0, 0, 48);
    return w.Bytes();
}

}  // namespace

class TestPractice : public QObject
{
    Q_OBJECT
private slots:
    void practice_data()
    {
        PracticeColumns();
        const QByteArray t = TwoChords();
        // on C, on D, off C, on E, off D, off E: each chord step ends before a release.
        SmfWriter legato(0, 96);
        SmfTrack& l = legato.AddTrack().NoteOn(0, 0, 60, 90).NoteOn(48, 0, 62, 92).NoteOff(48, 0, 60);
        l.NoteOn(0, 0, 64, 94).NoteOff(48, 0, 62).NoteOff(48, 0, 64);
        // on C, a velocity-0 note-on of C, on D, off D and no End of Track: the last event
        // is a note-off.
        SmfWriter last(0, 96);
        SmfTrack& e = last.AddTrack().NoteOn(0, 0, 60, 90).NoteOn(10, 0, 60, 0).NoteOn(0, 0, 62, 92);
        e.NoteOff(10, 0, 62).WithoutEndOfTrack();
        // A note, a controller, a meta event and a pitch bend, then notes just outside and
        // just inside A0..C8 (a velocity 0 note-on among them).
        SmfWriter other(0, 96);
        SmfTrack& o = other.AddTrack().NoteOn(0, 3, 50, 80).Control(0, 0, 64, 127).Meta(0, 1, "text");
        o.Raw(0, {0xE0, 0x00, 0x40}).NoteOn(0, 9, 20, 50).NoteOn(0, 9, 109, 51).NoteOff(10, 9, 20);
        o.Raw(0, {0x99, 109, 0}).NoteOn(0, 1, 21, 52).NoteOn(0, 1, 108, 53);
        Row("chord steps stop before a release", t, "c|f f f",
            "on60 on64 on67, off60 off64 off67 on62 on65, off62 off65", "11");
        Row("chord legato", legato.Bytes(), "c|f f", "on60 on62, off60 on64", "5 l62 l64");
        Row("chord last, velocity 0 releases", last.Bytes(), "c|f f f", "on60, 90.60.0 on62, -", "4 l62");
        Row("note steps stop after a note-on", t, "|f s f f f f",
            "on64, on67, off60 off64 off67 on62, on65, off62 off65, -", "11");
        Row("note last", last.Bytes(), "|f f f", "90.60.0 on62, off62, -", "4");
        Row("chord to note", t, "cf|nf", "off64 off67 on62", "7 l60 l62");
        Row("note to chord", t, "f|cf", "on64 on67", "4 l64 l67");
        Row("nested", t, "|qf", "on64 on67", "3 l64 l67");
        Row("note back", t, "fff|b b", "reset off67 off64 off60 on67, reset on64", "2 l60");
        Row("chord back", t, "cff|b b", "reset off62 on65 on62 off67 off64, reset off60 on67 on64", "1");
        Row("back at 1", t, "|b cb", "reset, reset", "1");
        Row("other events", other.Bytes(), "|ffff", "99.20.50 99.109.51 89.20.64 99.109.0 91.21.52 91.108.53",
            "10 l21 l108");
        Row("redraw", other.Bytes(), "ffff|b", "reset 91.21.52", "9 l50");
        Row("at 40003", HeldBass(20'000), "e|b", "reset off48 off67 on67", "40000 l48");
        const QByteArray h = HeldBass(10);  // 23 events; "#4 f" leaves it at 6 with 62 lit
        Row("zero", h, "#4 f|#0", "reset", "1");
        Row("letters", h, "#4 f|#abc", "reset", "1");
        Row("above the end", h, "#4 f|#500", "reset", "23");
        Row("fraction", h, "#4 f|#7.6", "reset", "8 #7.6");
        Row("fraction below 1", h, "#4 f|#0.7", "reset", "1");
        Row("the number shown", h, "#4 f|#06", "-", "6 #06 l62");
        Row("digit by digit", h, "#4 f|#1 #12", "reset, reset", "12");
        Row("slider held, then let go", h, "#4 f|v ~9 ^", "-, -, reset", "9");
        Row("goto begin", h, "#4 f|h", "reset", "1 F");
        Row("playing", h, "#4 fp|#8 v ~12 ^", "-, -, -, -", "6 ~12 #8 l62");
        Row("playing, goto end", h, "#4 fp|e", "reset", "23 F");
        Row("step inside the yield", h, "#4 f|q #9", "-, off62 on63", "8 l63");
        SmfWriter empty(1, 96);
        empty.AddTrack().Tempo(0, 500000);
        empty.AddTrack().WithoutEndOfTrack();
        Row("no events", empty.Bytes(), "|#5 #0 e f b", "-, -, reset, -, reset", "1 F");
        // C3 held, 63 events; the note struck at 2k is 60 + (k - 1) % 12
        const QByteArray b = HeldBass(30);
        Row("mark: set, step on, go back", b, "#57 m fffff|g", "reset", "57 @57 F l48 l63");
        Row("mark: at the mark", b, "#5 f m|g", "-", "6 @6 F l62");
        Row("mark: fraction", b, "@4.6|g", "reset", "5 @4.6 F l48 l61");
        Row("mark: beyond 32,767", HeldBass(20'000), "@40001|g", "reset", "40001 @40001 F l48 l67");
        Row("mark: zero", b, "#8 @5|@0", "-", "8");
        Row("mark: letters", b, "#8 @5|@x1", "-", "8");
        Row("mark: above the end", b, "#8 @5|@99", "-", "8 @63");
        Row("mark: chord, on a release", t, "cfm ff|g f", "reset, off60 off64 off67 on62 on65",
            "9 @4 F l62 l65");
        SmfWriter tracks(1, 96);
        tracks.AddTrack().Tempo(0, 500000);
        tracks.AddTrack().NoteOn(0, 0, 60, 90).NoteOff(10, 0, 60);
        tracks.AddTrack().NoteOn(0, 0, 64, 94).NoteOff(10, 0, 64);
        Row("mark: another track", tracks.Bytes(), "@2|d", "-", "1 F");
        Row("mark: no file", QByteArray(), "|@7 g", "-, -", "1 F");
        SmfWriter top(0, 96);  // a chord of C4, B7 and C8
        top.AddTrack().NoteOn(0, 0, 60, 90).NoteOn(0, 0, 107, 90).NoteOn(0, 0, 108, 90);
        Row("ticked in Chord Mode: the next chord", t, "c wait|", "", "1 t60 t64 t67");
        Row("B7 and C8 step, never waited for", top.Bytes(), "c wait|", "", "1 t60");
        Row("played: one silent step", t, "wait|+64", "=", "2 l64 t67");
        Row("a chord in any order: one silent step", t, "c wait|+67 +60 +64",
            "=, =, =", "4 l60 t62 l64 t65 l67");
        Row("wrong note held: no step", t, "c wait|+60 +61 +64 +67", "=, =, =, =", "1 p60 w61 p64 p67");
        Row("wrong note released: the step", t, "c wait|+60 +61 +64 +67 -61",
            "=, =, =, =, =", "4 l60 t62 l64 t65 l67");
        Row("legato into the next chord", t, "c wait|+60 +64 +67 +62 +65", "=, =, =, =, =", "9 l62 l65");
        Row("C8 mid-chord: one step, new targets", t, "c wait|+60 +64 +108 +67",
            "=, =, on60 on64 on67 =, =", "4 l60 t62 l64 t65 w67 p108");
        Row("Step Forward moves the targets", t, "wait|f", "on64", "2 l64 t67");
        Row("end of the track: nothing waits", t, "wait|e +60", "reset, =", "11 F p60");
        Row("stopped: the targets again", t, "wait|p +64 -64 stop", "-, =, =, reset", "1 F t64");
        Row("Midi Reset forgets a release never sent", t, "wait|+61 reset", "=, reset", "1 F p61 t64");
        // Set Mark inside the step's yield, and again in the yield after it: the mark follows the step.
        Row("a step's keys are spent before it yields", t, "wait|4/m 3/m +64", "-, -, =", "2 @2 F l64 t67");
        Row("unticked: no colours", t, "c wait|+61 wait", "=, -", "1 F p61");
    }
    void practice() { RunPracticeRow(); }
};

QTEST_MAIN(TestPractice)
#include "test_practice.moc"
