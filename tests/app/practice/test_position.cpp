#include "support/PracticeCheck.h"

using namespace vantor::test;
using S = QStringList;
using K = QList<int>;

class TestPosition : public QObject
{
    Q_OBJECT
private slots:
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
};

QTEST_MAIN(TestPosition)
#include "test_position.moc"
