#include "support/PracticeCheck.h"

using namespace vantor::test;
using S = QStringList;
using K = QList<int>;

class TestMarks : public QObject
{
    Q_OBJECT
private slots:
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

QTEST_MAIN(TestMarks)
#include "test_marks.moc"
