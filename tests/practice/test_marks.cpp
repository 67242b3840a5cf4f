#include "practice/PracticeCheck.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::test;

namespace {

// Event 1 holds C3 for the whole track; after it come note pairs on 60..71, the
// note-on at an even event and its note-off at the next odd one.
QByteArray HeldBass(int pairs)
{
    SmfWriter w(0, 96);
    SmfTrack& t = w.AddTrack().NoteOn(0, 0, 48, 90);
    for (int i = 0; i < pairs; ++i)
        t.NoteOn(0, 0, 60 + i % 12, 90).NoteOff(24, 0, 60 + i % 12);
    t.NoteOff(0, 0, 48);
    return w.Bytes();
}

QByteArray TwoChords()
{
    SmfWriter w(0, 96);
    w.AddTrack()
        .NoteOn(0, 0, 60, 90)
        .NoteOn(0, 0, 64, 90)
        .NoteOn(0, 0, 67, 90)
        .NoteOff(96, 0, 60)
        .NoteOff(0, 0, 64)
        .NoteOff(0, 0, 67)
        .NoteOn(0, 0, 62, 90)
        .NoteOn(0, 0, 65, 90)
        .NoteOff(96, 0, 62)
        .NoteOff(0, 0, 65);
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
    bool At(int position) const
    {
        return f.Midifile1.CurrentEvent() == position && f.TagSlider->value() == position &&
               f.TagNumber->text() == QString::number(position);
    }
};

}  // namespace

class TestMarks : public QObject
{
    Q_OBJECT
private slots:
    void setMarkStepOnAndGoBack();
    void gotoMarkAtTheMark();
    void markBoxCorrections_data();
    void markBoxCorrections();
    void newTrackResetsTheMark();
    void chordModeMarkOnARelease();
    void markBeyond16Bits();
    void fractionalMark();
    void noFileLoaded();
};

void TestMarks::setMarkStepOnAndGoBack()
{
    Window w(HeldBass(40));
    w.f.TagNumber->setText("57");
    w.f.TagMark->click();
    QCOMPARE(w.f.TagMarker->text(), QStringLiteral("57"));
    QVERIFY(ForwardHasFocus(w.f));
    for (int i = 0; i < 5; ++i)
        w.f.TagForward->click();
    QVERIFY(w.At(66));
    TakeSent(w.h);

    w.f.TagMarker->setFocus();
    w.f.TagGoto->click();
    QVERIFY(w.At(57));
    QCOMPARE(TakeSent(w.h), w.reset);
    // Event 56 struck note 63 (pair 27); its note-off is event 57 itself, not replayed.
    QCOMPARE(LitNotes(w.f), (QList<int>{48, 63}));
    QVERIFY(w.f.Keyboard->IndicatorsVisible());
    QVERIFY(ForwardHasFocus(w.f));
    QCOMPARE(w.f.TagMarker->text(), QStringLiteral("57"));
}

void TestMarks::gotoMarkAtTheMark()
{
    Window w(HeldBass(10));
    w.f.TagNumber->setText("6");
    w.f.TagMark->click();
    w.f.LightKey(100);  // a redraw would clear it
    TakeSent(w.h);
    w.f.TagMarker->setFocus();
    w.f.TagGoto->click();
    QVERIFY(ForwardHasFocus(w.f));
    QCOMPARE(TakeSent(w.h), QStringList{});
    QCOMPARE(LitNotes(w.f), QList<int>{100});
    QVERIFY(w.At(6));
}

void TestMarks::markBoxCorrections_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("mark");
    // Track of 23 events.
    QTest::newRow("zero") << "0"
                          << "1";
    QTest::newRow("negative") << "-4"
                              << "1";
    QTest::newRow("letters") << "x1"
                             << "1";
    QTest::newRow("empty") << ""
                           << "1";
    QTest::newRow("above the end") << "99"
                                   << "23";
    QTest::newRow("the end") << "23"
                             << "23";
    QTest::newRow("within") << "12"
                            << "12";
    QTest::newRow("a fraction is kept") << "2.5"
                                        << "2.5";
}

void TestMarks::markBoxCorrections()
{
    QFETCH(QString, typed);
    QFETCH(QString, mark);
    Window w(HeldBass(10));
    w.f.TagNumber->setText("8");
    TakeSent(w.h);
    w.f.TagMarker->setText("5");
    w.f.TagMarker->selectAll();
    w.f.TagMarker->insert(typed);  // pasted over the selection: one change
    QCOMPARE(w.f.TagMarker->text(), mark);
    QVERIFY(w.At(8));
    QCOMPARE(TakeSent(w.h), QStringList{});
}

void TestMarks::newTrackResetsTheMark()
{
    SmfWriter writer(1, 96);
    writer.AddTrack().Tempo(0, 500000);
    writer.AddTrack().NoteOn(0, 0, 60, 90).NoteOff(10, 0, 60).NoteOn(0, 0, 62, 90).NoteOff(10, 0, 62);
    writer.AddTrack().NoteOn(0, 0, 64, 90).NoteOff(10, 0, 64);
    Window w(writer.Bytes());
    w.f.TagMarker->setText("4");
    w.f.TrackList->setCurrentIndex(1);
    emit w.f.TrackList->activated(1);
    QCOMPARE(w.f.TagMarker->text(), QStringLiteral("1"));
    w.f.TagMarker->setText("3");
    w.f.SelectTrack();
    QCOMPARE(w.f.TagMarker->text(), QStringLiteral("1"));
}

void TestMarks::chordModeMarkOnARelease()
{
    Window w(TwoChords());
    w.f.ChordMode->setChecked(true);
    w.f.TagForward->click();
    QVERIFY(w.At(4));
    w.f.TagMark->click();
    w.f.TagForward->click();
    w.f.TagForward->click();
    QVERIFY(w.At(11));
    TakeSent(w.h);

    w.f.TagGoto->click();
    QCOMPARE(TakeSent(w.h), w.reset);
    QCOMPARE(LitNotes(w.f), (QList<int>{60, 64, 67}));
    QVERIFY(w.At(4));
    w.f.TagForward->click();
    QCOMPARE(TakeSent(w.h), (QStringList{Msg(0x80, 60, 64), Msg(0x80, 64, 64), Msg(0x80, 67, 64),
                                         Msg(0x90, 62, 90), Msg(0x90, 65, 90)}));
    QCOMPARE(LitNotes(w.f), (QList<int>{62, 65}));
    QVERIFY(w.At(9));
}

void TestMarks::markBeyond16Bits()
{
    Window w(HeldBass(20'000));  // 40,003 events
    w.f.TagMarker->setText("40001");
    w.f.TagGoto->click();
    QVERIFY(w.At(40001));
    QCOMPARE(TakeSent(w.h), w.reset);
    // Event 40000 struck pair 19,999's note (60 + 19999 % 12 = 67); event 40001 releases it.
    QCOMPARE(LitNotes(w.f), (QList<int>{48, 67}));

    w.f.TagMarker->setText("99999");
    QCOMPARE(w.f.TagMarker->text(), QStringLiteral("40003"));
}

void TestMarks::fractionalMark()
{
    Window w(HeldBass(10));
    w.f.TagMarker->setText("4.6");
    w.f.TagGoto->click();
    QVERIFY(w.At(5));
    QCOMPARE(LitNotes(w.f), (QList<int>{48, 61}));
    QCOMPARE(w.f.TagMarker->text(), QStringLiteral("4.6"));
}

void TestMarks::noFileLoaded()
{
    FormHarness h;
    LoadAndShow(h);
    Form1& f = h.form();
    TakeSent(h);
    for (const QString text : {"0", "-2", "abc", "", "7", "1"}) {
        f.TagMarker->setText(text);
        QCOMPARE(f.TagMarker->text(), QStringLiteral("1"));
    }
    f.TagNumber->setText("3");
    f.TagMark->click();
    QCOMPARE(f.TagMarker->text(), QStringLiteral("1"));
    f.TagMarker->setFocus();
    f.TagGoto->click();
    QVERIFY(ForwardHasFocus(f));
    QCOMPARE(TakeSent(h), QStringList{});
}

QTEST_MAIN(TestMarks)
#include "test_marks.moc"
