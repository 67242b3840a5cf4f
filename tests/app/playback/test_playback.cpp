// Play and Stop on the window: what is queued and when, what the window follows, and
// what every way of stopping leaves.
#include <QtTest>

#include "midi/MIDIOutput.h"
#include "midi/NoteTag.h"
#include "support/PracticeCheck.h"

using namespace vantor;
using namespace vantor::test;

namespace {

// A format 1 file at 1 ms a tick in 2/4: track 2 (selected) on 60 at 0, released by a
// velocity-0 note-on at 100 with on 62, off 62 at 200, then tail notes a tenth of a
// second apart; track 3 on 48 (channel 3) at 50, off at 150.
QByteArray Practice(int tail = 0)
{
    SmfWriter writer(1, 100);
    writer.AddTrack().Tempo(0, 100'000).Meta(0, 0x58, QByteArray("\x02\x02\x18\x08", 4));
    auto& track = writer.AddTrack().NoteOn(0, 0, 60, 100).NoteOn(100, 0, 60, 0).NoteOn(0, 0, 62, 90);
    track.NoteOff(100, 0, 62);
    for (int i = 0; i < tail; ++i)
        track.NoteOn(50, 0, 40 + i % 40, 100).NoteOff(50, 0, 40 + i % 40);
    writer.AddTrack().NoteOn(50, 2, 48, 80).NoteOff(100, 2, 48);
    return writer.Bytes();
}

// What was sent up to the first Midi Reset as "ms status note, ...", the time counted
// from the first message and read as expected when within 45 ms of it.
QString Heard(const std::vector<MemoryDevices::Sent>& log, const QString& expected)
{
    const QStringList want = expected.split(", ");
    QStringList heard;
    for (const auto& [device, m, time] : log) {
        if (m == ShortMessage{0xB0, 64, 0}) break;
        const double ms = std::chrono::duration<double, std::milli>(time - log.front().time).count();
        const double wanted =
            heard.size() < want.size() ? want[heard.size()].section(' ', 0, 0).toDouble() : -1e3;
        const double at = std::abs(ms - wanted) < 45 ? wanted : std::round(ms);
        heard << QStringLiteral("%1 %2 %3").arg(at).arg(m.status, 0, 16).arg(m.data1);
    }
    return heard.join(", ");
}

}  // namespace

class PlaybackTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<FormHarness> harness_;
    Form1& form() { return harness_->form(); }
    MemoryDevices& devices() { return harness_->devices(); }
    void Start(const QByteArray& song)
    {
        harness_ = std::make_unique<FormHarness>();
        LoadAndShow(*harness_);
        harness_->Open(song);
    }

private slots:
    void plays_data()
    {
        QTest::addColumn<QStringList>("items");  // "+item": chosen once playing
        QTest::addColumn<QString>("heard");
        QTest::addColumn<QString>("followed");  // the State at each report, the focus aside
        QTest::addColumn<QString>("idle");      // the start, and the State once the end is reached
        // The window follows the selected track alone: clicks and accompaniment carry no tag.
        const auto row = [](const char* name, const QStringList& items, const char* heard,
                            const char* followed = "1 l60, 1 ~2 #2, 1 ~3 #3 l62, 1 ~4 #4",
                            const char* idle = "1 F") {
            QTest::newRow(name) << items << QString(heard) << QString(followed) << QString(idle);
        };
        row("velocity-0 note-on is a release", {}, "0 90 60, 100 90 60, 100 90 62, 200 80 62");
        row("from the position, meta events never sent", {}, "0 90 60, 0 90 62, 100 80 62",
            "2, 2 ~3 #3 l62, 2 ~4 #4", "2 F l60");
        row("accompaniment and metronome in 2/4", {"Accompaniment", "Metronome"},
            "0 90 60, 0 99 76, 50 92 48, 50 89 76, 100 90 60, 100 90 62, 100 99 77, 150 82 48, 150 89 77, "
            "200 80 62");
        row("count-in at 50 %", {"CountIn", "Speed50"},
            "0 99 76, 100 89 76, 200 99 77, 300 89 77, 400 90 60, 600 90 60, 600 90 62, 800 80 62");
        row("while playing only the speed takes effect: three steps slower is 50 %",
            QStringList{"+Metronome"} + QStringList(3, "+SpeedSlower"),
            "0 90 60, 200 90 60, 200 90 62, 400 80 62");
        row("faster, not past 200 %", QStringList{"Speed25"} + QStringList(9, "+SpeedFaster"),
            "0 90 60, 50 90 60, 50 90 62, 100 80 62");
    }
    void plays()
    {
        QFETCH(QStringList, items);
        QFETCH(QString, heard);
        QFETCH(QString, idle);
        QString got;
        QStringList reported;
        for (int attempt = 0; attempt < 3 && got != heard; ++attempt) {  // a loaded machine may play late
            Start(Practice());
            const auto choose = [&](bool playing) {  // the items marked "+" once playing
                for (const QString& item : items)
                    if (item.startsWith('+') == playing)
                        form().findChild<QAction*>(item.mid(playing))->trigger();
            };
            choose(false);
            form().TagNumber->setText(idle.section(' ', 0, 0));
            reported.clear();
            connect(form().MIDIOutput1, &MIDIOutput::MessagePlayed, this,
                    [&] { reported << State(form()).remove(" F"); });
            devices().ClearSent();
            form().CmdPlay->click();
            QCOMPARE(form().focusWidget(), form().CmdStop);
            choose(true);
            QTRY_VERIFY_WITH_TIMEOUT(form().CmdPlay->isEnabled(), 3000);
            got = Heard(devices().SentLog(), heard);
        }
        QCOMPARE(got, heard);
        QTEST(reported.join(", "), "followed");
        QCOMPARE(State(form()), idle);
    }

    // Every way playback ends, and the moves made while it plays; Stop then shows where it is.
    void ends_or_moves_data()
    {
        QTest::addColumn<QString>("action");  // from event 3, once playing (the loop and yield: before)
        QTest::addColumn<bool>("playing");    // still playing after it
        QTest::addColumn<QString>("idle");    // the State after Stop
        QTest::newRow("Stop inside the queueing yield") << "yield" << false << "3 F";
        QTest::newRow("Stop, then a late report: ignored") << "late" << false << "3 F";
        QTest::newRow("output error: reported") << "error" << false << "3 F";
        QTest::newRow("output device changed") << "device" << false << "3 F";
        QTest::newRow("another file opened") << "file" << false << "1 F";
        QTest::newRow("loop from the mark: plays on") << "loop" << true << "3 @2 F";
        QTest::newRow("Step Forward") << "TagForward" << true << "5 F";
    }
    void ends_or_moves()
    {
        QFETCH(QString, action);
        QFETCH(bool, playing);
        QFETCH(QString, idle);
        Start(Practice(200));
        form().TagNumber->setText("3");
        if (action == "loop") form().LoopFromMark->trigger();
        if (action == "loop") form().TagMarker->setText("2");
        if (action == "yield")
            QMetaObject::invokeMethod(form().CmdStop, &QPushButton::click, Qt::QueuedConnection);
        form().CmdPlay->click();
        if (action == "late") form().CmdStop->click();
        if (action == "late") form().OnMessagePlayed(PackNoteTag(10, 60, true));
        if (action == "error") emit form().MIDIOutput1->Error(4, "The device went away.");
        if (action == "file") harness_->Open(Practice());
        if (action == "device") QTest::keyClick(form().OutputDevCombo, Qt::Key_Down);
        if (action == "loop") QTest::qWait(300);  // rounds of 100 ms
        if (action.startsWith("Tag")) form().findChild<QPushButton*>(action)->click();
        QTRY_COMPARE(form().Midifile1.CurrentEvent(), idle.section(' ', 0, 0).toInt());
        QCOMPARE(form().CmdStop->isEnabled(), playing);
        QCOMPARE(harness_->messages.join(""), action == "error" ? "The device went away." : "");
        if (playing) form().CmdStop->click();
        QCOMPARE(State(form()), idle);
        devices().ClearSent();
        QTest::qWait(200);
        QVERIFY(devices().SentMessages().empty());  // nothing of the old queue follows, on any device
    }
};

QTEST_MAIN(PlaybackTest)
#include "test_playback.moc"
