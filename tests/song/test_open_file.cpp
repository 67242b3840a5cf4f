#include <QMimeData>
#include <QUrl>

#include "practice/PracticeCheck.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::test;

namespace {

// Conductor, then "Right hand" (chord of two), then an unnamed track of 9 events.
QByteArray ThreeTracks()
{
    SmfWriter w(1, 96);
    w.AddTrack().Name(0, "Conductor").Tempo(0, 500000);
    w.AddTrack()
        .Name(0, "Right hand")
        .NoteOn(0, 0, 60, 90)
        .NoteOn(0, 0, 64, 90)
        .NoteOff(96, 0, 60)
        .NoteOff(0, 0, 64);
    SmfTrack& left = w.AddTrack();
    for (int i = 0; i < 4; ++i)
        left.NoteOn(0, 1, 40 + i, 80).NoteOff(48, 1, 40 + i);
    return w.Bytes();
}

// A format 0 file of one long named track: n note pairs.
QByteArray OneTrack(int notes, const QByteArray& name = "Piano")
{
    SmfWriter w(0, 96);
    SmfTrack& t = w.AddTrack().Name(0, name);
    for (int i = 0; i < notes; ++i)
        t.NoteOn(0, 0, 48 + i % 24, 90).NoteOff(24, 0, 48 + i % 24);
    return w.Bytes();
}

QStringList Entries(const Form1& form)
{
    QStringList entries;
    for (int i = 0; i < form.TrackList->count(); ++i)
        entries << form.TrackList->itemText(i);
    return entries;
}

// The state every completed open and track selection leaves.
void CheckSelectedAtStart(FormHarness& h)
{
    Form1& f = h.form();
    QCOMPARE(f.Midifile1.CurrentEvent(), 1);
    QCOMPARE(f.TagNumber->text(), QStringLiteral("1"));
    QCOMPARE(f.TagSlider->value(), 1);
    QCOMPARE(f.TagSlider->minimum(), 1);
    if (f.Midifile1.EventCount() > 1) QCOMPARE(f.TagSlider->maximum(), f.Midifile1.EventCount());
    QCOMPARE(f.TagMarker->text(), QStringLiteral("1"));
    QCOMPARE(LitNotes(f), QList<int>{});
    QCOMPARE(f.StepMap.size(), static_cast<std::size_t>(f.Midifile1.EventCount()) + 2);
}

void CheckButtonsAfterOpen(FormHarness& h)
{
    QVERIFY(h.form().CmdPlay->isEnabled());
    QVERIFY(!h.form().CmdStop->isEnabled());
    QVERIFY(ForwardHasFocus(h.form()));
}

}  // namespace

class TestOpenFile : public QObject
{
    Q_OBJECT
private slots:
    void singleTrackFile();
    void severalTracksSkipTrackOne();
    void trackNames_data();
    void trackNames();
    void namesBeyond32767Events();
    void timingFromTrackOne();
    void menuUsesTheDialogsPath();
    void cancelChangesNothing();
    void unreadableFile();
    void emptyTrack();
    void selectTrackWithoutFile();
    void shorterTrackAfterALatePosition();
    void selectingTwiceIsLikeOnce();
    void dropOpensTheFile();
    void openWhilePlayingStopsFirst();
};

void TestOpenFile::singleTrackFile()
{
    FormHarness h;
    LoadAndShow(h);
    h.Open(OneTrack(3));
    Form1& f = h.form();
    QCOMPARE(Entries(f), QStringList{"Piano"});
    QCOMPARE(f.TrackBase, 1);
    QCOMPARE(f.TrackList->currentIndex(), 0);
    QCOMPARE(f.Midifile1.CurrentTrack(), 1);
    QCOMPARE(f.Midifile1.EventCount(), 8);  // name, 3 pairs, End of Track
    QCOMPARE(f.StepMap, (std::vector<std::int16_t>{0, 0, 2, 1, 2, 1, 2, 1, 0, 0}));
    QVERIFY(f.Midifile1.Filter(0xC0));
    CheckSelectedAtStart(h);
    CheckButtonsAfterOpen(h);
    QVERIFY(h.messages.isEmpty());
}

void TestOpenFile::severalTracksSkipTrackOne()
{
    FormHarness h;
    LoadAndShow(h);
    h.Open(ThreeTracks());
    Form1& f = h.form();
    QCOMPARE(Entries(f), (QStringList{"Right hand", "Track 3"}));
    QCOMPARE(f.TrackBase, 2);
    QCOMPARE(f.Midifile1.CurrentTrack(), 2);
    QCOMPARE(f.StepMap, (std::vector<std::int16_t>{0, 0, 2, 2, 1, 0, 0, 0}));
    CheckSelectedAtStart(h);
    CheckButtonsAfterOpen(h);

    // The user picks the second entry: reader track 3.
    f.TrackList->setCurrentIndex(1);
    emit f.TrackList->activated(1);
    QCOMPARE(f.Midifile1.CurrentTrack(), 3);
    QCOMPARE(f.Midifile1.EventCount(), 9);
    QCOMPARE(f.StepMap, (std::vector<std::int16_t>{0, 2, 1, 2, 1, 2, 1, 2, 1, 0, 0}));
    CheckSelectedAtStart(h);
    QVERIFY(ForwardHasFocus(f));
}

void TestOpenFile::trackNames_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected");

    auto secondTrack = [](auto&& fill) {
        SmfWriter w(1, 96);
        w.AddTrack().Tempo(0, 500000);
        fill(w.AddTrack());
        return w.Bytes();
    };
    QTest::newRow("no name") << secondTrack([](SmfTrack& t) { t.NoteOn(0, 0, 60, 90); }) << "Track 2";
    QTest::newRow("empty name") << secondTrack([](SmfTrack& t) { t.Name(0, ""); }) << "Track 2";
    QTest::newRow("only NULs") << secondTrack([](SmfTrack& t) { t.Name(0, QByteArray(3, '\0')); })
                               << "Track 2";
    QTest::newRow("the later of two names") << secondTrack([](SmfTrack& t) {
        t.Name(0, "First").NoteOn(0, 0, 60, 90).Name(0, "Second").Program(0, 2, 4);
    }) << "Second";
    QTest::newRow("empty name after a name")
        << secondTrack([](SmfTrack& t) { t.Name(0, "Lead").Name(0, ""); }) << "Track 2";
    QTest::newRow("name after the first program change")
        << secondTrack([](SmfTrack& t) { t.Name(0, "Before").Program(0, 1, 4).Name(0, "After"); })
        << "Before";
    QTest::newRow("name right at channel 16's program change")
        << secondTrack([](SmfTrack& t) { t.Program(0, 15, 4).Name(0, "After"); }) << "Track 2";
    QTest::newRow("channel 1 program changes are filtered out")
        << secondTrack([](SmfTrack& t) { t.Name(0, "Before").Program(0, 0, 4).Name(0, "After"); }) << "After";
    QTest::newRow("UTF-8") << secondTrack([](SmfTrack& t) { t.Name(0, "Fl\xC3\xBCgel"); })
                           << QString::fromUtf8("Fl\xC3\xBCgel");
    QTest::newRow("Latin-1") << secondTrack([](SmfTrack& t) { t.Name(0, "Fl\xFCgel"); })
                             << QString::fromUtf8("Fl\xC3\xBCgel");
    QTest::newRow("trailing NULs") << secondTrack([](SmfTrack& t) { t.Name(0, QByteArray("Bass\0\0", 6)); })
                                   << "Bass";
}

void TestOpenFile::trackNames()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    FormHarness h;
    h.Load();
    h.Open(file);
    QCOMPARE(Entries(h.form()), QStringList{expected});
    // Naming a track leaves it current.
    QCOMPARE(h.form().TrackDisplayName(2), expected);
    QCOMPARE(h.form().Midifile1.CurrentTrack(), 2);
}

void TestOpenFile::namesBeyond32767Events()
{
    SmfWriter w(0, 96);
    SmfTrack& t = w.AddTrack();
    for (int i = 0; i < 20'000; ++i)
        t.NoteOn(0, 0, 60, 90).NoteOff(1, 0, 60);
    t.Name(0, "Late name").Program(0, 3, 1).Name(0, "Too late");
    FormHarness h;
    h.Load();
    h.Open(w.Bytes());
    QCOMPARE(Entries(h.form()), QStringList{"Late name"});
    QCOMPARE(h.form().TagSlider->maximum(), 40'004);
}

void TestOpenFile::timingFromTrackOne()
{
    FormHarness h;
    h.Load();
    h.Open(ThreeTracks());
    QCOMPARE(h.form().MsPerTick, 5.2083335f);

    SmfWriter w(0, 480);
    w.AddTrack().Tempo(0, 600000).NoteOn(0, 0, 60, 90);
    h.Open(w.Bytes());
    QCOMPARE(h.form().MsPerTick, 1.25f);
}

void TestOpenFile::menuUsesTheDialogsPath()
{
    FormHarness h;
    LoadAndShow(h);
    h.nextFile = h.WriteFile(ThreeTracks(), "chosen.mid");
    emit h.form().FileOpen->triggered();
    QCOMPARE(h.form().Midifile1.FilePath(), h.nextFile);
    QCOMPARE(Entries(h.form()), (QStringList{"Right hand", "Track 3"}));
    CheckSelectedAtStart(h);
    CheckButtonsAfterOpen(h);
}

void TestOpenFile::cancelChangesNothing()
{
    FormHarness h;
    LoadAndShow(h);
    h.Open(ThreeTracks());
    Form1& f = h.form();
    f.TagForward->click();
    f.TagForward->click();
    f.TagMarker->setText("3");
    f.TagMarker->setFocus();
    const QString path = f.Midifile1.FilePath();
    const int position = f.Midifile1.CurrentEvent();
    const QList<int> lit = LitNotes(f);
    QVERIFY(!lit.isEmpty());
    TakeSent(h);

    h.nextFile.clear();
    f.OpenMidiFile();
    QCOMPARE(f.Midifile1.FilePath(), path);
    QCOMPARE(f.Midifile1.CurrentEvent(), position);
    QCOMPARE(f.TagNumber->text(), QString::number(position));
    QCOMPARE(f.TagMarker->text(), QStringLiteral("3"));
    QCOMPARE(Entries(f), (QStringList{"Right hand", "Track 3"}));
    QCOMPARE(LitNotes(f), lit);
    QVERIFY(f.CmdPlay->isEnabled());
    QCOMPARE(QApplication::focusWidget(), f.TagMarker);
    QCOMPARE(TakeSent(h), QStringList{});
}

void TestOpenFile::unreadableFile()
{
    FormHarness h;
    LoadAndShow(h);
    h.Open(ThreeTracks());
    Form1& f = h.form();
    f.TagForward->click();
    const QString bad = h.WriteFile("MThd but not really a MIDI file", "broken.mid");
    h.form().OpenMidiFileAt(bad);

    QCOMPARE(h.messages.size(), 1);
    QVERIFY2(h.messages[0].contains("broken.mid"), qPrintable(h.messages[0]));
    QCOMPARE(f.Midifile1.FilePath(), bad);
    QCOMPARE(f.TrackList->count(), 0);
    QCOMPARE(f.TrackList->currentIndex(), -1);
    CheckButtonsAfterOpen(h);

    // A missing file is reported the same way, and nothing else runs.
    h.messages.clear();
    f.OpenMidiFileAt(h.WriteFile({}, "gone.mid") + ".missing");
    QCOMPARE(h.messages.size(), 1);
    QVERIFY(h.messages[0].contains("gone.mid.missing"));
    CheckButtonsAfterOpen(h);

    // With nothing loaded the practice controls stay put.
    TakeSent(h);
    f.TagForward->click();
    f.TagNumber->setText("5");
    QCOMPARE(TakeSent(h), QStringList{});
}

void TestOpenFile::emptyTrack()
{
    SmfWriter w(1, 96);
    w.AddTrack().Tempo(0, 500000);
    w.AddTrack().WithoutEndOfTrack();
    FormHarness h;
    h.Load();
    h.Open(OneTrack(10));
    QCOMPARE(h.form().TagSlider->maximum(), 22);

    h.Open(w.Bytes());
    Form1& f = h.form();
    QCOMPARE(Entries(f), QStringList{"Track 2"});
    QCOMPARE(f.Midifile1.EventCount(), 0);
    QCOMPARE(f.StepMap, (std::vector<std::int16_t>{0, 0}));
    QCOMPARE(f.TagSlider->maximum(), 22);  // the slider keeps its upper end
    CheckSelectedAtStart(h);
}

void TestOpenFile::selectTrackWithoutFile()
{
    FormHarness h;
    h.Load();
    Form1& f = h.form();
    f.TrackList->addItem("stray");
    f.TagNumber->setText("7");
    f.TagSlider->setMaximum(50);
    f.TagSlider->setValue(20);
    f.StepMap = {0, 2, 0};
    TakeSent(h);
    f.SelectTrack();
    QCOMPARE(f.TagNumber->text(), QStringLiteral("7"));
    QCOMPARE(f.TagSlider->value(), 20);
    QCOMPARE(f.StepMap, (std::vector<std::int16_t>{0, 2, 0}));
    QCOMPARE(h.devices().SentMessages().size(), std::size_t{0});
}

void TestOpenFile::shorterTrackAfterALatePosition()
{
    SmfWriter w(1, 96);
    w.AddTrack().Tempo(0, 500000);
    SmfTrack& longTrack = w.AddTrack();
    for (int i = 0; i < 50; ++i)
        longTrack.NoteOn(0, 0, 60, 90).NoteOff(10, 0, 60);
    w.AddTrack().NoteOn(0, 0, 72, 90).NoteOff(10, 0, 72);  // 3 events with End of Track

    FormHarness h;
    h.Load();
    h.Open(w.Bytes());
    Form1& f = h.form();
    f.TagNumber->setText("90");
    QCOMPARE(f.Midifile1.CurrentEvent(), 90);
    QCOMPARE(f.TagSlider->value(), 90);
    f.TagMarker->setText("80");

    f.TrackList->setCurrentIndex(1);
    f.TrackList_Click();
    QCOMPARE(f.Midifile1.CurrentTrack(), 3);
    QCOMPARE(f.TagSlider->maximum(), 3);
    CheckSelectedAtStart(h);
    QCOMPARE(f.StepMap, (std::vector<std::int16_t>{0, 2, 1, 0, 0}));

    // And back to the long track: the slider grows again.
    f.TrackList->setCurrentIndex(0);
    f.TrackList_Click();
    QCOMPARE(f.TagSlider->maximum(), 101);
    CheckSelectedAtStart(h);
}

void TestOpenFile::selectingTwiceIsLikeOnce()
{
    FormHarness h;
    h.Load();
    h.Open(ThreeTracks());
    Form1& f = h.form();
    const auto map = f.StepMap;
    f.TagForward->click();
    f.TagMarker->setText("2");
    QVERIFY(!LitNotes(f).isEmpty());
    f.SelectTrack();
    f.SelectTrack();
    QCOMPARE(f.StepMap, map);
    QCOMPARE(f.Midifile1.CurrentTrack(), 2);
    CheckSelectedAtStart(h);
}

void TestOpenFile::dropOpensTheFile()
{
    FormHarness h;
    LoadAndShow(h);
    const QString path = h.WriteFile(ThreeTracks(), "dropped.mid");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    // Straight to the window's handler: QApplication routes drops only during a real drag.
    static_cast<QObject&>(h.form()).event(&drop);
    QCOMPARE(h.form().Midifile1.FilePath(), path);
    QCOMPARE(Entries(h.form()), (QStringList{"Right hand", "Track 3"}));
    CheckSelectedAtStart(h);
    CheckButtonsAfterOpen(h);
}

void TestOpenFile::openWhilePlayingStopsFirst()
{
    SmfWriter w(0, 96);
    SmfTrack& t = w.AddTrack();
    for (int i = 0; i < 40; ++i)
        t.NoteOn(6, 0, 60 + i % 12, 90).NoteOff(6, 0, 60 + i % 12);  // a note every ~60 ms
    FormHarness h;
    LoadAndShow(h);
    h.Open(w.Bytes());
    Form1& f = h.form();
    f.CmdPlay_Click();
    QVERIFY(f.CmdStop->isEnabled());
    QTRY_VERIFY(f.TagNumber->text().toInt() > 2);  // playback shows its progress

    h.Open(ThreeTracks());
    QVERIFY(!f.CmdStop->isEnabled());
    TakeSent(h);
    QTest::qWait(300);  // the old queue would have played several notes by now
    QCOMPARE(TakeSent(h), QStringList{});
    CheckSelectedAtStart(h);
    CheckButtonsAfterOpen(h);
}

QTEST_MAIN(TestOpenFile)
#include "test_open_file.moc"
