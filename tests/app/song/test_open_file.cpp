// Opening a file: the track list and its names, each track selection, and the opens
// that fail or change nothing.
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "support/PracticeCheck.h"

using namespace vantor;
using namespace vantor::test;

namespace {

// A conductor track (500000 us per quarter, 96 ticks) unless left out, then the given tracks.
QByteArray Song(std::initializer_list<SmfTrack> tracks, bool conductor = true)
{
    SmfWriter w(conductor ? 1 : 0, 96);
    if (conductor) w.AddTrack().Name(0, "Conductor").Tempo(0, 500000);
    for (const SmfTrack& track : tracks)
        w.AddTrack() = track;
    return w.Bytes();
}

SmfTrack Notes(int pairs, SmfTrack track = {})
{
    for (int i = 0; i < pairs; ++i)
        track.NoteOn(0, 0, 48 + i % 24, 90).NoteOff(24, 0, 48 + i % 24);
    return track;
}

// Track 2 has 102 events, track 3 only 3.
const QByteArray kThreeTracks = Song({Notes(50, SmfTrack().Name(0, "Right hand")), Notes(1)});

QString Entries(const Form1& form)
{
    QStringList entries;
    for (int i = 0; i < form.TrackList->count(); ++i)
        entries << form.TrackList->itemText(i);
    return entries.join('|');
}

// What every completed open and track selection leaves.
void CheckAtStart(const Form1& f)
{
    QCOMPARE(State(f), "1 F");
    if (f.Midifile1.EventCount() > 1) QCOMPARE(f.TagSlider->maximum(), f.Midifile1.EventCount());
    QCOMPARE(f.StepMap.size(), static_cast<std::size_t>(f.Midifile1.EventCount()) + 2);
    QVERIFY(f.CmdPlay->isEnabled() && !f.CmdStop->isEnabled());
}

// What a drop of this file on the window does.
void Drop(Form1& f, const QString& path)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDropEvent event(QPointF(400, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    static_cast<QObject&>(f).event(&event);  // straight to the window, as a drop does
}

}  // namespace

class TestOpenFile : public QObject
{
    Q_OBJECT
private slots:
    void opens_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("entries");
        QTest::addColumn<int>("trackBase");
        QTest::newRow("one track") << Song({Notes(3, SmfTrack().Name(0, "Piano"))}, false) << "Piano" << 1;
        QTest::newRow("three tracks") << kThreeTracks << "Right hand|Track 3" << 2;
        QTest::newRow("empty track, empty name")
            << Song({SmfTrack().WithoutEndOfTrack(), SmfTrack().Name(0, "")}) << "Track 2|Track 3" << 2;
        // The later of two names wins; a program change ends the search, but those of channel 1 are
        // filtered out.
        QTest::newRow("names")
            << Song({SmfTrack().Name(0, "First").NoteOn(0, 0, 60, 9).Name(0, "Second").Program(0, 2, 4),
                     SmfTrack().Name(0, "Before").Program(0, 15, 4).Name(0, "After"),
                     SmfTrack().Name(0, "Before").Program(0, 0, 4).Name(0, "After")})
            << "Second|Before|After" << 2;
    }
    // Each track selection starts afresh, from wherever the last one left.
    void opens()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, trackBase);
        FormHarness h;
        LoadAndShow(h);
        Form1& f = h.form();
        h.Open(file);
        QTEST(Entries(f), "entries");
        for (int entry = 0; entry < f.TrackList->count(); ++entry) {
            if (entry > 0) {  // from the last event of the track before, selected twice
                f.TagNumber->setText(QString::number(std::max(1, f.Midifile1.EventCount())));
                f.TagMarker->setText("3");
                f.TrackList->setCurrentIndex(entry);
                emit f.TrackList->activated(entry);
                f.SelectTrack();
            }
            QCOMPARE(f.Midifile1.CurrentTrack(), trackBase + entry);
            CheckAtStart(f);
        }
    }

    // A cancelled open and a dropped file that is not MIDI change nothing; a .mid file
    // dropped on the window opens afresh, as from the menu; an unreadable file is
    // reported, then the open carries on.
    void failuresAndDrops()
    {
        FormHarness h;
        LoadAndShow(h);
        Form1& f = h.form();
        h.Open(kThreeTracks);
        f.TagForward->click();
        f.TagMarker->setText("3");
        f.TagMarker->setFocus();
        const QString before = State(f) + Entries(f);
        TakeSent(h);
        for (const QString refused : {"", "song.txt"}) {
            h.nextFile.clear();
            if (refused.isEmpty()) emit f.FileOpen->triggered();
            if (!refused.isEmpty()) Drop(f, h.WriteFile(kThreeTracks, refused));
            QCOMPARE(State(f) + Entries(f), before);
            QCOMPARE(TakeSent(h), QStringList{});
        }
        Drop(f, h.WriteFile(kThreeTracks, "dropped.MID"));
        CheckAtStart(f);

        h.nextFile = h.WriteFile("MThd but not really a MIDI file", "broken.mid");
        emit f.FileOpen->triggered();
        const QString text = h.messages.join('\n');
        QVERIFY2(h.messages.size() == 1 && text.contains("broken.mid") && text.contains("at byte"),
                 qPrintable(text));
        QVERIFY(f.Midifile1.FilePath() == h.nextFile && f.TrackList->count() == 0);
        QVERIFY(f.CmdPlay->isEnabled() && !f.CmdStop->isEnabled() && ForwardHasFocus(f));
    }
};

QTEST_MAIN(TestOpenFile)
#include "test_open_file.moc"
