#include "practice/PracticeCheck.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::test;

namespace {

// Chord A (C E G) released, then chord B (D F) released, then End of Track.
// Events:      1     2     3     4      5      6      7     8     9      10     11
// Step map:    2     2     2     1      0      0      2     2     1      0      0
QByteArray TwoChords()
{
    SmfWriter w(0, 96);
    w.AddTrack()
        .NoteOn(0, 0, 60, 90)
        .NoteOn(0, 0, 64, 91)
        .NoteOn(0, 0, 67, 92)
        .NoteOff(96, 0, 60)
        .NoteOff(0, 0, 64)
        .NoteOff(0, 0, 67)
        .NoteOn(0, 0, 62, 93)
        .NoteOn(0, 0, 65, 94)
        .NoteOff(96, 0, 62)
        .NoteOff(0, 0, 65);
    return w.Bytes();
}

QString On(int note, int velocity)
{
    return Msg(0x90, note, velocity);
}

QString Off(int note)
{
    return Msg(0x80, note, 64);
}

struct Window
{
    FormHarness h;
    Form1& f = h.form();

    explicit Window(const QByteArray& file, bool chordMode)
    {
        h.Load();
        h.Open(file);
        f.ChordMode->setChecked(chordMode);
        TakeSent(h);
    }
    // The position as the reader and both views show it.
    bool At(int position) const
    {
        return f.Midifile1.CurrentEvent() == position && f.TagNumber->text() == QString::number(position) &&
               f.TagSlider->value() == position;
    }
};

}  // namespace

class TestStepping : public QObject
{
    Q_OBJECT
private slots:
    void chordModeForward();
    void chordModeLegato();
    void lastEventAndModes_data();
    void lastEventAndModes();
    void noteModeForward();
    void switchingModes();
    void noteModeBackward();
    void chordModeBackward();
    void backwardAtTheStart();
    void otherEventsAndOutOfRangeNotes();
    void noFileLoaded();
    void secondClickInsideTheYield();
    void spaceBarSteps();
    void positionsBeyond16Bits();
};

void TestStepping::chordModeForward()
{
    Window w(TwoChords(), true);
    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), (QStringList{On(60, 90), On(64, 91), On(67, 92)}));
    QCOMPARE(LitNotes(w.f), (QList<int>{60, 64, 67}));
    QVERIFY(w.At(4));

    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), (QStringList{Off(60), Off(64), Off(67), On(62, 93), On(65, 94)}));
    QCOMPARE(LitNotes(w.f), (QList<int>{62, 65}));
    QVERIFY(w.At(9));

    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), (QStringList{Off(62), Off(65)}));
    QCOMPARE(LitNotes(w.f), QList<int>{});
    QVERIFY(w.At(11));

    w.f.TagForward->click();  // at the end: nothing more
    QCOMPARE(TakeSent(w.h), QStringList{});
    QVERIFY(w.At(11));
}

void TestStepping::chordModeLegato()
{
    // on C, on D, off C, on E, off D, off E: the step ends before each first release.
    SmfWriter writer(0, 96);
    writer.AddTrack()
        .NoteOn(0, 0, 60, 80)
        .NoteOn(48, 0, 62, 80)
        .NoteOff(48, 0, 60)
        .NoteOn(0, 0, 64, 80)
        .NoteOff(48, 0, 62)
        .NoteOff(48, 0, 64);
    Window w(writer.Bytes(), true);
    QCOMPARE(w.f.StepMap, (std::vector<std::int16_t>{0, 2, 2, 1, 2, 1, 0, 0, 0}));
    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), (QStringList{On(60, 80), On(62, 80)}));
    QCOMPARE(LitNotes(w.f), (QList<int>{60, 62}));
    QVERIFY(w.At(3));
    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), (QStringList{Off(60), On(64, 80)}));
    QCOMPARE(LitNotes(w.f), (QList<int>{62, 64}));
    QVERIFY(w.At(5));
}

void TestStepping::lastEventAndModes_data()
{
    QTest::addColumn<bool>("chordMode");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<int>("steps");
    // on C, off C, on D, off D with no End of Track: the last event is a note-off.
    QTest::newRow("chord mode never plays the last event")
        << true << QStringList{On(60, 70), Off(60), On(62, 71)} << 2;
    QTest::newRow("note mode plays it, never the first")
        << false << QStringList{Off(60), On(62, 71), Off(62)} << 2;
}

void TestStepping::lastEventAndModes()
{
    QFETCH(bool, chordMode);
    QFETCH(QStringList, sent);
    QFETCH(int, steps);
    SmfWriter writer(0, 96);
    writer.AddTrack()
        .NoteOn(0, 0, 60, 70)
        .NoteOff(10, 0, 60)
        .NoteOn(0, 0, 62, 71)
        .NoteOff(10, 0, 62)
        .WithoutEndOfTrack();
    Window w(writer.Bytes(), chordMode);
    for (int i = 0; i < steps + 2; ++i)
        w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), sent);
    QVERIFY(w.At(4));
}

void TestStepping::noteModeForward()
{
    Window w(TwoChords(), false);
    w.f.TagForward->click();  // event 1 is passed over
    QCOMPARE(TakeSent(w.h), QStringList{On(64, 91)});
    QCOMPARE(LitNotes(w.f), QList<int>{64});
    QVERIFY(w.At(2));

    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), QStringList{On(67, 92)});
    QCOMPARE(LitNotes(w.f), (QList<int>{64, 67}));

    w.f.TagForward->click();  // the releases on the way are sent and unlight, also for an unlit key
    QCOMPARE(TakeSent(w.h), (QStringList{Off(60), Off(64), Off(67), On(62, 93)}));
    QCOMPARE(LitNotes(w.f), QList<int>{62});
    QVERIFY(w.At(7));

    w.f.TagForward->click();
    w.f.TagForward->click();  // to the end, End of Track included
    QCOMPARE(TakeSent(w.h), (QStringList{On(65, 94), Off(62), Off(65)}));
    QVERIFY(w.At(11));
    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), QStringList{});
}

void TestStepping::switchingModes()
{
    {  // chord mode to note mode on a release: that release is skipped and stays lit
        Window w(TwoChords(), true);
        w.f.TagForward->click();
        TakeSent(w.h);
        w.f.ChordMode->setChecked(false);
        w.f.TagForward->click();
        QCOMPARE(TakeSent(w.h), (QStringList{Off(64), Off(67), On(62, 93)}));
        QCOMPARE(LitNotes(w.f), (QList<int>{60, 62}));
        QVERIFY(w.At(7));
    }
    {  // note mode to chord mode on a played note-on: it is played again
        Window w(TwoChords(), false);
        w.f.TagForward->click();
        TakeSent(w.h);
        w.f.ChordMode->setChecked(true);
        w.f.TagForward->click();
        QCOMPARE(TakeSent(w.h), (QStringList{On(64, 91), On(67, 92)}));
        QCOMPARE(LitNotes(w.f), (QList<int>{64, 67}));
        QVERIFY(w.At(4));
    }
}

void TestStepping::noteModeBackward()
{
    Window w(TwoChords(), false);
    for (int i = 0; i < 3; ++i)
        w.f.TagForward->click();
    QVERIFY(w.At(7));
    const QStringList reset = ResetMessages(w.h);

    w.f.TagBack->click();
    QCOMPARE(TakeSent(w.h), (reset + QStringList{Off(67), Off(64), Off(60), On(67, 92)}));
    // The note-on the walk stopped on is not replayed by the redraw.
    QCOMPARE(LitNotes(w.f), (QList<int>{60, 64}));
    QVERIFY(w.f.Keyboard->IndicatorsVisible());
    QVERIFY(w.At(3));

    w.f.TagBack->click();
    QCOMPARE(TakeSent(w.h), (reset + QStringList{On(64, 91)}));
    QCOMPARE(LitNotes(w.f), QList<int>{60});
    QVERIFY(w.At(2));
}

void TestStepping::chordModeBackward()
{
    Window w(TwoChords(), true);
    w.f.TagForward->click();
    w.f.TagForward->click();
    QVERIFY(w.At(9));
    const QStringList reset = ResetMessages(w.h);

    w.f.TagBack->click();
    QCOMPARE(TakeSent(w.h), (reset + QStringList{Off(62), On(65, 94), On(62, 93), Off(67), Off(64)}));
    QCOMPARE(LitNotes(w.f), (QList<int>{60, 64, 67}));
    QVERIFY(w.At(4));

    // From A's release point back to the start (event 1 itself is not passed), then
    // the next step sounds A again.
    w.f.TagBack->click();
    QCOMPARE(TakeSent(w.h), (reset + QStringList{Off(60), On(67, 92), On(64, 91)}));
    QCOMPARE(LitNotes(w.f), QList<int>{});
    QVERIFY(w.At(1));
    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), (QStringList{On(60, 90), On(64, 91), On(67, 92)}));
}

void TestStepping::backwardAtTheStart()
{
    for (const bool chordMode : {false, true}) {
        Window w(TwoChords(), chordMode);
        const QStringList reset = ResetMessages(w.h);
        w.f.LightKey(70);  // a stray lit key is cleared by the redraw
        w.f.TagBack->click();
        QCOMPARE(TakeSent(w.h), reset);
        QCOMPARE(LitNotes(w.f), QList<int>{});
        QVERIFY(w.f.Keyboard->IndicatorsVisible());
        QVERIFY(w.At(1));
    }
}

void TestStepping::otherEventsAndOutOfRangeNotes()
{
    SmfWriter writer(0, 96);
    writer.AddTrack()
        .NoteOn(0, 3, 50, 60)
        .Control(0, 0, 64, 127)
        .Program(0, 2, 10)
        .Meta(0, 1, "text")
        .Raw(0, {0xE0, 0x00, 0x40})
        .NoteOn(0, 9, 20, 70)   // below A0
        .NoteOn(0, 9, 109, 71)  // above C8
        .NoteOff(10, 9, 20)
        .Raw(0, {0x99, 109, 0})  // note-off as velocity 0, channel 10
        .NoteOn(0, 1, 21, 72)
        .NoteOn(0, 1, 108, 73);
    Window w(writer.Bytes(), false);
    QCOMPARE(w.f.StepMap, (std::vector<std::int16_t>{0, 2, 0, 0, 0, 0, 2, 2, 1, 0, 2, 2, 0, 0}));
    w.f.LightKey(50);
    w.f.TagForward->click();  // controller, program change, text, pitch bend: sent nothing, lit nothing
    QCOMPARE(TakeSent(w.h), QStringList{Msg(0x99, 20, 70)});
    QCOMPARE(LitNotes(w.f), QList<int>{50});
    w.f.TagForward->click();
    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h),
             (QStringList{Msg(0x99, 109, 71), Msg(0x89, 20, 64), Msg(0x99, 109, 0), Msg(0x91, 21, 72)}));
    QCOMPARE(LitNotes(w.f), (QList<int>{21, 50}));
    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), QStringList{Msg(0x91, 108, 73)});
    QCOMPARE(LitNotes(w.f), (QList<int>{21, 50, 108}));

    // The redraw replays the same rule silently, from event 1 on.
    const QStringList reset = ResetMessages(w.h);
    w.f.TagBack->click();
    QCOMPARE(TakeSent(w.h), (reset + QStringList{Msg(0x91, 21, 72)}));
    QCOMPARE(LitNotes(w.f), QList<int>{50});
    QVERIFY(w.At(10));
}

void TestStepping::noFileLoaded()
{
    FormHarness h;
    h.Load();
    Form1& f = h.form();
    f.TagNumber->setText("5");
    TakeSent(h);
    f.TagForward->click();
    QCOMPARE(TakeSent(h), QStringList{});
    QCOMPARE(f.TagNumber->text(), QStringLiteral("1"));  // the reader's position, copied all the same
    const QStringList reset = ResetMessages(h);
    QVERIFY(!reset.isEmpty());
    f.TagBack->click();
    QCOMPARE(TakeSent(h), reset);
}

void TestStepping::secondClickInsideTheYield()
{
    Window w(TwoChords(), false);
    // Queued before the click: it runs inside the first step's yield, nested.
    QMetaObject::invokeMethod(w.f.TagForward, "click", Qt::QueuedConnection);
    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), (QStringList{On(64, 91), On(67, 92)}));
    QCOMPARE(LitNotes(w.f), (QList<int>{64, 67}));
    QVERIFY(w.At(3));

    // A Step Backward queued inside a Step Forward: the forward step goes on from
    // where the backward one left the position.
    const QStringList reset = ResetMessages(w.h);
    QMetaObject::invokeMethod(w.f.TagBack, "click", Qt::QueuedConnection);
    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), (reset + QStringList{On(64, 91), On(67, 92)}));
    QCOMPARE(LitNotes(w.f), (QList<int>{60, 67}));
    QVERIFY(w.At(3));
}

void TestStepping::spaceBarSteps()
{
    Window w(TwoChords(), true);
    QTest::keyClick(w.f.TagForward, Qt::Key_Space);
    QCOMPARE(TakeSent(w.h), (QStringList{On(60, 90), On(64, 91), On(67, 92)}));
    QVERIFY(w.At(4));
}

void TestStepping::positionsBeyond16Bits()
{
    SmfWriter writer(0, 96);
    SmfTrack& t = writer.AddTrack();
    for (int i = 0; i < 20'000; ++i)
        t.NoteOn(0, 0, 48 + i % 12, 80).NoteOff(1, 0, 48 + i % 12);
    t.NoteOn(0, 0, 72, 81).NoteOn(0, 0, 76, 82).NoteOff(10, 0, 76);  // events 40001..40003
    Window w(writer.Bytes(), false);
    w.f.TagNumber->setText("40003");
    QVERIFY(w.At(40003));
    const QStringList reset = ResetMessages(w.h);
    w.f.TagBack->click();
    QCOMPARE(TakeSent(w.h), (reset + QStringList{On(76, 82)}));
    QCOMPARE(LitNotes(w.f), QList<int>{72});
    QVERIFY(w.At(40002));
    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), (QStringList{Off(76)}));
    QVERIFY(w.At(40004));
}

QTEST_MAIN(TestStepping)
#include "test_stepping.moc"
