#include "practice/PracticeCheck.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::test;

namespace {

// Note pairs: event 2k+1 a note-on, event 2k+2 its note-off; End of Track last.
QByteArray Pairs(int pairs)
{
    SmfWriter w(0, 96);
    SmfTrack& t = w.AddTrack();
    for (int i = 0; i < pairs; ++i)
        t.NoteOn(0, 0, 48 + i % 24, 90).NoteOff(24, 0, 48 + i % 24);
    return w.Bytes();
}

struct Window
{
    FormHarness h;
    Form1& f = h.form();
    QStringList reset;

    explicit Window(const QByteArray& file)
    {
        LoadAndShow(h);
        h.Open(file);
        reset = ResetMessages(h);
    }
    // Lights keys the way a step would, so a clear shows.
    void StepOnce()
    {
        f.TagForward->click();
        TakeSent(h);
        QVERIFY(!LitNotes(f).isEmpty());
    }
    bool At(int position) const
    {
        return f.Midifile1.CurrentEvent() == position && f.TagSlider->value() == position;
    }
    void Type(const QString& text)
    {
        f.TagNumber->selectAll();
        QTest::keyClicks(f.TagNumber, text);
    }
    QStringList Resets(int count) const
    {
        QStringList all;
        for (int i = 0; i < count; ++i)
            all += reset;
        return all;
    }
};

}  // namespace

class TestPosition : public QObject
{
    Q_OBJECT
private slots:
    void typedNumber_data();
    void typedNumber();
    void digitsOneByOne();
    void fractionsRound_data();
    void fractionsRound();
    void sliderMove();
    void gotoBeginAndEnd();
    void ignoredWhilePlaying();
    void emptyTrackDoesNotHang();
    void noFileLoaded();
    void stepInsideTheNumberBoxYield();
};

void TestPosition::typedNumber_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("resets");
    // From position 5 of a 21-event track.
    QTest::newRow("within the track") << "12"
                                      << "12" << 12 << 1;
    QTest::newRow("empty") << ""
                           << "1" << 1 << 1;
    QTest::newRow("zero") << "0"
                          << "1" << 1 << 1;
    QTest::newRow("negative") << "-7"
                              << "1" << 1 << 1;
    QTest::newRow("letters") << "abc"
                             << "1" << 1 << 1;
    QTest::newRow("above the end") << "500"
                                   << "21" << 21 << 1;
    QTest::newRow("the position already shown") << "05"
                                                << "05" << 5 << 0;
    QTest::newRow("spaces around") << " 9 "
                                   << " 9 " << 9 << 1;
}

void TestPosition::typedNumber()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(int, position);
    QFETCH(int, resets);
    Window w(Pairs(10));
    w.f.TagNumber->setText("5");
    QVERIFY(w.At(5));
    w.StepOnce();  // to 7, a key lit
    w.f.TagNumber->setText("5");
    TakeSent(w.h);
    w.f.LightKey(60);

    w.f.TagNumber->setText(typed);
    QCOMPARE(w.f.TagNumber->text(), shown);
    QVERIFY(w.At(position));
    QCOMPARE(TakeSent(w.h), w.Resets(resets));  // nothing sounds
    QCOMPARE(LitNotes(w.f), resets ? QList<int>{} : QList<int>{60});
}

void TestPosition::digitsOneByOne()
{
    Window w(Pairs(100));
    w.f.TagNumber->setText("5");
    TakeSent(w.h);
    w.Type("123");
    QVERIFY(w.At(123));
    QCOMPARE(w.f.TagNumber->text(), QStringLiteral("123"));
    QCOMPARE(TakeSent(w.h), w.Resets(3));  // 1, then 12, then 123

    w.Type("1");
    w.f.TagNumber->end(false);
    QTest::keyClicks(w.f.TagNumber, "0");
    QTest::keyClick(w.f.TagNumber, Qt::Key_Backspace);
    QVERIFY(w.At(1));
    QCOMPARE(TakeSent(w.h), w.Resets(3));  // 1, 10, 1
}

void TestPosition::fractionsRound_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("position");
    QTest::newRow("down") << "7.4" << 7;
    QTest::newRow("up") << "7.6" << 8;
    QTest::newRow("just below the end") << "20.9" << 21;
    QTest::newRow("below 1 is corrected first") << "0.7" << 1;
}

void TestPosition::fractionsRound()
{
    QFETCH(QString, typed);
    QFETCH(int, position);
    Window w(Pairs(10));
    w.f.TagNumber->setText("3");
    TakeSent(w.h);
    w.f.TagNumber->setText(typed);
    QVERIFY(w.At(position));
    QCOMPARE(TakeSent(w.h), w.Resets(1));
}

void TestPosition::sliderMove()
{
    Window w(Pairs(10));
    w.StepOnce();
    w.f.TagSlider->setSliderDown(true);
    w.f.TagSlider->setSliderPosition(9);  // tracking is off: no move while dragging
    QCOMPARE(w.f.Midifile1.CurrentEvent(), 3);
    w.f.TagSlider->setSliderDown(false);  // released: one move, the number box follows
    QVERIFY(w.At(9));
    QCOMPARE(w.f.TagNumber->text(), QStringLiteral("9"));
    QCOMPARE(TakeSent(w.h), w.reset);
    QCOMPARE(LitNotes(w.f), QList<int>{});

    QTest::keyClick(w.f.TagSlider, Qt::Key_Right);
    QVERIFY(w.At(10));
    QCOMPARE(w.f.TagNumber->text(), QStringLiteral("10"));
    QCOMPARE(TakeSent(w.h), w.reset);
}

void TestPosition::gotoBeginAndEnd()
{
    Window w(Pairs(10));
    w.StepOnce();
    w.f.TagMarker->setFocus();
    w.f.TagEnd->click();
    QVERIFY(w.At(21));
    QCOMPARE(w.f.TagNumber->text(), QStringLiteral("21"));
    QCOMPARE(TakeSent(w.h), w.reset);
    QCOMPARE(LitNotes(w.f), QList<int>{});
    QVERIFY(ForwardHasFocus(w.f));
    w.f.TagForward->click();  // nothing after the last event
    QCOMPARE(TakeSent(w.h), QStringList{});

    w.f.LightKey(70);
    w.f.TagMarker->setFocus();
    w.f.TagStart->click();
    QVERIFY(w.At(1));
    QCOMPARE(w.f.TagNumber->text(), QStringLiteral("1"));
    QCOMPARE(TakeSent(w.h), w.reset);
    QCOMPARE(LitNotes(w.f), QList<int>{});
    QVERIFY(ForwardHasFocus(w.f));
}

void TestPosition::ignoredWhilePlaying()
{
    Window w(Pairs(10));
    w.f.TagNumber->setText("4");
    TakeSent(w.h);
    w.f.CmdStop->setEnabled(true);  // the playing flag
    w.f.TagNumber->setText("8");
    w.f.TagSlider->setValue(12);
    QCOMPARE(w.f.Midifile1.CurrentEvent(), 4);
    QCOMPARE(TakeSent(w.h), QStringList{});

    // Goto Begin and Goto End have no such test.
    w.f.TagEnd->click();
    QCOMPARE(w.f.Midifile1.CurrentEvent(), 21);
    w.f.TagStart->click();
    QCOMPARE(w.f.Midifile1.CurrentEvent(), 1);
    QCOMPARE(TakeSent(w.h), w.Resets(2));
    w.f.CmdStop->setEnabled(false);
}

void TestPosition::emptyTrackDoesNotHang()
{
    SmfWriter writer(1, 96);
    writer.AddTrack().Tempo(0, 500000);
    writer.AddTrack().WithoutEndOfTrack();
    Window w(writer.Bytes());
    QCOMPARE(w.f.Midifile1.EventCount(), 0);
    for (const QString text : {"0", "5", "abc", "", "-1", "1"}) {
        w.f.TagNumber->setText(text);
        QCOMPARE(w.f.TagNumber->text(), QStringLiteral("1"));
        QCOMPARE(w.f.Midifile1.CurrentEvent(), 1);
    }
    QCOMPARE(TakeSent(w.h), QStringList{});
    w.f.TagEnd->click();
    QCOMPARE(w.f.Midifile1.CurrentEvent(), 1);
    w.f.TagForward->click();
    w.f.TagBack->click();
    QCOMPARE(w.f.Midifile1.CurrentEvent(), 1);
    QCOMPARE(TakeSent(w.h), w.Resets(2));  // Goto End and Step Backward
}

void TestPosition::noFileLoaded()
{
    FormHarness h;
    LoadAndShow(h);
    Form1& f = h.form();
    TakeSent(h);
    f.TagNumber->setText("abc");
    QCOMPARE(f.TagNumber->text(), QStringLiteral("abc"));
    f.TagSlider->setMaximum(10);
    f.TagSlider->setValue(4);
    f.TagMarker->setFocus();
    f.TagStart->click();
    QVERIFY(ForwardHasFocus(f));
    f.TagMarker->setFocus();
    f.TagEnd->click();
    QVERIFY(ForwardHasFocus(f));
    QCOMPARE(f.TagSlider->value(), 4);
    QCOMPARE(TakeSent(h), QStringList{});
}

void TestPosition::stepInsideTheNumberBoxYield()
{
    // The step queued before the edit runs inside the box's yield and rewrites the
    // box; the edit then finds the box equal to the position.
    Window w(Pairs(10));
    QMetaObject::invokeMethod(w.f.TagForward, "click", Qt::QueuedConnection);
    w.f.TagNumber->setText("9");
    QVERIFY(w.At(3));
    QCOMPARE(w.f.TagNumber->text(), QStringLiteral("3"));
    QCOMPARE(TakeSent(w.h), (QStringList{Msg(0x80, 48, 64), Msg(0x90, 49, 90)}));
    QCOMPARE(LitNotes(w.f), QList<int>{49});
}

QTEST_MAIN(TestPosition)
#include "test_position.moc"
