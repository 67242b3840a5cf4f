// Stepping, the position controls and the mark, as rows of one practice table each:
// a script on the window, the messages it sends, the lit keys and the position.
#include "support/PracticeCheck.h"

using namespace vantor::test;
using S = QStringList;
using K = QList<int>;

class TestPractice : public QObject
{
    Q_OBJECT
private slots:
    void steps_data()
    {
        PracticeColumns();
        const QByteArray t = TwoChords();
        // on C, on D, off C, on E, off D, off E: each chord step ends before a release.
        SmfWriter legato(0, 96);
        SmfTrack& l = legato.AddTrack().NoteOn(0, 0, 60, 90).NoteOn(48, 0, 62, 92).NoteOff(48, 0, 60);
        l.NoteOn(0, 0, 64, 94).NoteOff(48, 0, 62).NoteOff(48, 0, 64);
        // on C, off C, on D, off D and no End of Track: the last event is a note-off.
        SmfWriter last(0, 96);
        SmfTrack& e = last.AddTrack().NoteOn(0, 0, 60, 90).NoteOff(10, 0, 60).NoteOn(0, 0, 62, 92);
        e.NoteOff(10, 0, 62).WithoutEndOfTrack();
        // A note, a controller, a meta event and a pitch bend, then notes just outside and
        // just inside A0..C8 (a velocity 0 note-on among them).
        SmfWriter other(0, 96);
        SmfTrack& o = other.AddTrack().NoteOn(0, 3, 50, 80).Control(0, 0, 64, 127).Meta(0, 1, "text");
        o.Raw(0, {0xE0, 0x00, 0x40}).NoteOn(0, 9, 20, 50).NoteOn(0, 9, 109, 51).NoteOff(10, 9, 20);
        o.Raw(0, {0x99, 109, 0}).NoteOn(0, 1, 21, 52).NoteOn(0, 1, 108, 53);
        SmfWriter zero(0, 96);  // on C, a velocity-0 note-on of C, on D
        zero.AddTrack().NoteOn(0, 0, 60, 90).NoteOn(10, 0, 60, 0).NoteOn(0, 0, 62, 92);
        QTest::newRow("velocity 0 releases")
            << zero.Bytes() << "cf|f" << S{Msg(0x90, 60, 0), On(62)} << K{62} << "4";
        QTest::newRow("chord A") << t << "c|f" << S{On(60), On(64), On(67)} << K{60, 64, 67} << "4";
        QTest::newRow("B silences A")
            << t << "cf|f" << S{Off(60), Off(64), Off(67), On(62), On(65)} << K{62, 65} << "9";
        QTest::newRow("chord end") << t << "cff|ff" << S{Off(62), Off(65)} << K{} << "11";
        QTest::newRow("legato") << legato.Bytes() << "c|ff" << S{On(60), On(62), Off(60), On(64)} << K{62, 64}
                                << "5";
        QTest::newRow("chord last") << last.Bytes() << "c|fff" << S{On(60), Off(60), On(62)} << K{62} << "4";
        QTest::newRow("note first") << t << "|f" << S{On(64)} << K{64} << "2";
        QTest::newRow("note space") << t << "f|s" << S{On(67)} << K{64, 67} << "3";
        QTest::newRow("note offs") << t << "ff|f" << S{Off(60), Off(64), Off(67), On(62)} << K{62} << "7";
        QTest::newRow("note end") << t << "fff|fff" << S{On(65), Off(62), Off(65)} << K{} << "11";
        QTest::newRow("note last") << last.Bytes() << "|fff" << S{Off(60), On(62), Off(62)} << K{} << "4";
        QTest::newRow("chord to note") << t << "cf|nf" << S{Off(64), Off(67), On(62)} << K{60, 62} << "7";
        QTest::newRow("note to chord") << t << "f|cf" << S{On(64), On(67)} << K{64, 67} << "4";
        QTest::newRow("nested") << t << "|qf" << S{On(64), On(67)} << K{64, 67} << "3";
        QTest::newRow("note back") << t << "fff|b" << S{"reset", Off(67), Off(64), Off(60), On(67)}
                                   << K{60, 64} << "3";
        QTest::newRow("note back 2") << t << "fffb|b" << S{"reset", On(64)} << K{60} << "2";
        QTest::newRow("chord back") << t << "cff|b" << S{"reset", Off(62), On(65), On(62), Off(67), Off(64)}
                                    << K{60, 64, 67} << "4";
        QTest::newRow("chord back 2") << t << "cffb|b" << S{"reset", Off(60), On(67), On(64)} << K{} << "1";
        QTest::newRow("note back at 1") << t << "|b" << S{"reset"} << K{} << "1";
        QTest::newRow("chord back at 1") << t << "c|b" << S{"reset"} << K{} << "1";
        QTest::newRow("other events")
            << other.Bytes() << "|ffff" << S{Msg(0x99, 20, 50), Msg(0x99, 109, 51), Msg(0x89, 20, 64),
                                             Msg(0x99, 109, 0), Msg(0x91, 21, 52),  Msg(0x91, 108, 53)}
            << K{21, 108} << "10";
        QTest::newRow("redraw") << other.Bytes() << "ffff|b" << S{"reset", Msg(0x91, 21, 52)} << K{50} << "9";
        QTest::newRow("at 40003") << HeldBass(20'000) << "e|b" << S{"reset", Off(48), Off(67), On(67)}
                                  << K{48} << "40000";
    }
    void steps() { RunPracticeRow(); }

    void moves_data()
    {
        PracticeColumns();
        const QByteArray t = HeldBass(10);  // 23 events; "#4 f" leaves it at 6 with 62 lit
        QTest::newRow("typed") << t << "#4 f|#12" << S{"reset"} << K{} << "12";
        QTest::newRow("empty") << t << "#4 f|#" << S{"reset"} << K{} << "1";
        QTest::newRow("zero") << t << "#4 f|#0" << S{"reset"} << K{} << "1";
        QTest::newRow("negative") << t << "#4 f|#-7" << S{"reset"} << K{} << "1";
        QTest::newRow("letters") << t << "#4 f|#abc" << S{"reset"} << K{} << "1";
        QTest::newRow("above the end") << t << "#4 f|#500" << S{"reset"} << K{} << "23";
        QTest::newRow("fraction") << t << "#4 f|#7.6" << S{"reset"} << K{} << "8 #7.6";
        QTest::newRow("fraction below 1") << t << "#4 f|#0.7" << S{"reset"} << K{} << "1";
        QTest::newRow("the number shown") << t << "#4 f|#06" << S{} << K{62} << "6 #06";
        QTest::newRow("digit by digit") << t << "#4 f|#1 #12" << S{"reset", "reset"} << K{} << "12";
        QTest::newRow("slider held") << t << "#4 f|v ~9" << S{} << K{62} << "6";
        QTest::newRow("slider dragged") << t << "#4 f|v ~9 ^" << S{"reset"} << K{} << "9";
        QTest::newRow("goto begin") << t << "#4 f|h" << S{"reset"} << K{} << "1 F";
        QTest::newRow("goto end") << t << "#4 f|e" << S{"reset"} << K{} << "23 F";
        QTest::newRow("playing") << t << "#4 f|p #8 v ~12 ^" << S{} << K{62} << "6 ~12 #8";
        QTest::newRow("playing, goto end") << t << "#4 f|p e" << S{"reset"} << K{} << "23 F";
        QTest::newRow("step inside the yield") << t << "#4 f|q #9" << S{Off(62), On(63)} << K{63} << "8";
        SmfWriter empty(1, 96);
        empty.AddTrack().Tempo(0, 500000);
        empty.AddTrack().WithoutEndOfTrack();
        QTest::newRow("no events") << empty.Bytes() << "|#5" << S{} << K{} << "1";
        QTest::newRow("no events, steps")
            << empty.Bytes() << "|#0 e f b" << S{"reset", "reset"} << K{} << "1 F";
    }
    void moves() { RunPracticeRow(); }

    void marks_data()
    {
        PracticeColumns();
        const QByteArray t = HeldBass(30);  // C3 held, 63 events; the note struck at 2k is 60 + (k - 1) % 12
        QTest::newRow("set, step on, go back")
            << t << "#57 m fffff|g" << S{"reset"} << K{48, 63} << "57 @57 F";
        QTest::newRow("at the mark") << t << "#5 f m|g" << S{} << K{62} << "6 @6 F";
        QTest::newRow("fraction") << t << "@4.6|g" << S{"reset"} << K{48, 61} << "5 @4.6 F";
        QTest::newRow("beyond 32,767")
            << HeldBass(20'000) << "@40001|g" << S{"reset"} << K{48, 67} << "40001 @40001 F";
        QTest::newRow("zero") << t << "#8 @5|@0" << S{} << K{} << "8";
        QTest::newRow("negative") << t << "#8 @5|@-4" << S{} << K{} << "8";
        QTest::newRow("letters") << t << "#8 @5|@x1" << S{} << K{} << "8";
        QTest::newRow("empty") << t << "#8 @5|@" << S{} << K{} << "8";
        QTest::newRow("above the end") << t << "#8 @5|@99" << S{} << K{} << "8 @63";
        QTest::newRow("chord, on a release")
            << TwoChords() << "cfm ff|g" << S{"reset"} << K{60, 64, 67} << "4 @4 F";
        QTest::newRow("chord, step after")
            << TwoChords() << "cfm ffg|f" << S{Off(60), Off(64), Off(67), On(62), On(65)} << K{62, 65}
            << "9 @4";
        SmfWriter tracks(1, 96);
        tracks.AddTrack().Tempo(0, 500000);
        tracks.AddTrack().NoteOn(0, 0, 60, 90).NoteOff(10, 0, 60);
        tracks.AddTrack().NoteOn(0, 0, 64, 94).NoteOff(10, 0, 64);
        QTest::newRow("another track") << tracks.Bytes() << "@2|d" << S{} << K{} << "1 F";
        QTest::newRow("no file") << QByteArray() << "|@7 g" << S{} << K{} << "1 F";
    }
    void marks() { RunPracticeRow(); }
};

QTEST_MAIN(TestPractice)
#include "test_practice.moc"
