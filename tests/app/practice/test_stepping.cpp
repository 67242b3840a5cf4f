#include "support/PracticeCheck.h"

using namespace vantor::test;
using S = QStringList;
using K = QList<int>;

class TestStepping : public QObject
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
};

QTEST_MAIN(TestStepping)
#include "test_stepping.moc"
