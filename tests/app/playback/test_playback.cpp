// Play and Stop on the window: what is sent and when, what the window follows, and
// what every way of stopping leaves.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QtTest>
#include <map>

#include "keyboard/PianoKeyboard.h"
#include "midi/MIDIOutput.h"
#include "midi/NoteTag.h"
#include "song/NoteKind.h"
#include "support/FormHarness.h"
#include "support/SmfWriter.h"

using namespace vantor;

namespace {

// One tick is one millisecond. Events: 1 tempo, 2 on 60, 3 on 64, 4 off 60, 5 off 64,
// 6 controller, then 200 single notes to keep playing, end of track.
QByteArray Song()
{
    test::SmfWriter writer(0, 100);
    auto& track = writer.AddTrack().Tempo(0, 100'000).NoteOn(0, 0, 60, 100).NoteOn(0, 0, 64, 90);
    track.NoteOff(50, 0, 60).NoteOff(0, 0, 64).Control(50, 0, 7, 100);
    for (int i = 0; i < 200; ++i)
        track.NoteOn(50, 0, 40 + i % 40, 100).NoteOff(50, 0, 40 + i % 40);
    return writer.Bytes();
}

// A format 1 file at 1 ms a tick in 2/4: track 2 (selected) on 60 at 0, released by a
// velocity-0 note-on at 100 with on 62, off 62 at 200; track 3 on 48 (channel 3) at
// 50, off at 150.
QByteArray Practice()
{
    test::SmfWriter writer(1, 100);
    writer.AddTrack().Tempo(0, 100'000).Meta(0, 0x58, QByteArray("\x02\x02\x18\x08", 4));
    writer.AddTrack().NoteOn(0, 0, 60, 100).NoteOn(100, 0, 60, 0).NoteOn(0, 0, 62, 90).NoteOff(100, 0, 62);
    writer.AddTrack().NoteOn(50, 2, 48, 80).NoteOff(100, 2, 48);
    return writer.Bytes();
}

// The keys not at rest, e.g. "60 62".
QString Shown(const Form1& form)
{
    QStringList keys;
    for (int n = 21; n <= 108; ++n)
        if (form.Keyboard->ShownColour(n) != PianoKeyboard::RestingColour(n)) keys << QString::number(n);
    return keys.join(' ');
}

// The position and the keys shown, e.g. "3 60", or what is wrong with an idle window.
QString Idle(const Form1& f)
{
    const QString position = QString::number(f.Midifile1.CurrentEvent());
    if (f.TagNumber->text() != position || f.TagSlider->value() != position.toInt()) return "moved";
    if (!f.CmdPlay->isEnabled() || f.CmdStop->isEnabled()) return "playing";
    if (f.focusWidget() != f.TagForward) return "focus elsewhere";
    return position + ' ' + Shown(f);
}

// What was sent up to the first Midi Reset as "ms status note, ..." against the expected
// list: a time within 45 ms of the one expected reads as expected, counted from when the
// performance began (the median lateness). The notes left sounding follow.
QString Heard(const std::vector<test::MemoryDevices::Sent>& log, const QString& expected)
{
    const QStringList want = expected.split(", ");
    QStringList heard;
    std::vector<double> ms, lateness;
    std::map<int, bool> sounding;  // by channel and note
    for (const auto& [device, m, time] : log) {
        if (m == ShortMessage{0xB0, 64, 0}) break;
        ms.push_back(std::chrono::duration<double, std::milli>(time - log.front().time).count());
        if (heard.size() < want.size())
            lateness.push_back(ms.back() - want[heard.size()].section(' ', 0, 0).toDouble());
        heard << QStringLiteral("%1 %2").arg(m.status, 0, 16).arg(m.data1);
        sounding[(m.status & 15) << 8 | m.data1] = IsNoteOn(m.status, m.data2);
    }
    std::nth_element(lateness.begin(), lateness.begin() + lateness.size() / 2, lateness.end());
    for (qsizetype k = 0; k < heard.size(); ++k) {
        const double at = ms[k] - (lateness.empty() ? 0 : lateness[lateness.size() / 2]);
        const double wanted = k < want.size() ? want[k].section(' ', 0, 0).toDouble() : -1000;
        heard[k].prepend(QString::number(std::abs(at - wanted) < 45 ? wanted : std::round(at)) + ' ');
    }
    for (const auto& [key, on] : sounding)
        if (on) heard << QStringLiteral("sounding %1").arg(key & 127);
    return heard.join(", ");
}

}  // namespace

class PlaybackTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<test::FormHarness> harness_;
    Form1& form() { return harness_->form(); }
    test::MemoryDevices& devices() { return harness_->devices(); }
    void Start(const QByteArray& song)
    {
        harness_ = std::make_unique<test::FormHarness>();
        harness_->Load();
        harness_->Open(song);
    }

private slots:
    void init() { Start(Song()); }
    void plays_data()
    {
        QTest::addColumn<QStringList>("items");  // "+item": chosen at the first report
        QTest::addColumn<QString>("heard");
        QTest::addColumn<QString>("followed");  // at each report: the position and the keys shown
        QTest::addColumn<QString>("idle");      // the start, and the keys shown once the end is reached
        // The window follows the selected track alone: clicks and accompaniment carry no tag.
        const auto row = [](const char* name, const QStringList& items, const char* heard,
                            const char* followed = "1 60, 2 , 3 62, 4 ", const char* idle = "1 ") {
            QTest::newRow(name) << items << QString(heard) << QString(followed) << QString(idle);
        };
        row("velocity-0 note-on is a release", {}, "0 90 60, 100 90 60, 100 90 62, 200 80 62");
        row("from the position, meta events never sent", {}, "0 90 60, 0 90 62, 100 80 62", "2 , 3 62, 4 ",
            "2 60");
        row("50 %: twice the spacing", {"Speed50"}, "0 90 60, 200 90 60, 200 90 62, 400 80 62");
        row("accompaniment", {"Accompaniment"},
            "0 90 60, 50 92 48, 100 90 60, 100 90 62, 150 82 48, 200 80 62");
        row("metronome in 2/4", {"Metronome"},
            "0 90 60, 0 99 76, 50 89 76, 100 90 60, 100 90 62, 100 99 77, 150 89 77, 200 80 62");
        row("count-in at 50 %", {"CountIn", "Speed50"},
            "0 99 76, 100 89 76, 200 99 77, 300 89 77, 400 90 60, 600 90 60, 600 90 62, 800 80 62");
        row("while playing only the speed takes effect", {"+Metronome", "+Speed50"},
            "0 90 60, 200 90 60, 200 90 62, 400 80 62");
        row("three steps slower: 50 %", QStringList(3, "+SpeedSlower"),
            "0 90 60, 200 90 60, 200 90 62, 400 80 62");
        row("faster, not past 200 %", QStringList{"Speed25"} + QStringList(9, "+SpeedFaster"),
            "0 90 60, 50 90 60, 50 90 62, 100 80 62");
    }
    void plays()
    {
        QFETCH(QStringList, items);
        QFETCH(QString, heard);
        QFETCH(QString, followed);
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
            connect(form().MIDIOutput1, &MIDIOutput::MessagePlayed, this, [&, choose] {
                if (reported.isEmpty()) choose(true);
                reported << form().TagNumber->text() + ' ' + Shown(form());
            });
            devices().ClearSent();
            form().CmdPlay->click();
            QCOMPARE(form().focusWidget(), form().CmdStop);
            QTRY_VERIFY_WITH_TIMEOUT(form().CmdPlay->isEnabled(), 3000);
            got = Heard(devices().SentLog(), heard);
        }
        QCOMPARE(got, heard);
        QCOMPARE(reported.join(", "), followed);
        QCOMPARE(Idle(form()), idle);
    }

    // Rounds of 100 ms, the passage from the mark to the event before the position;
    // each round ends the note it leaves sounding.
    void loop_from_mark_until_stop()
    {
        const QString rounds = "0 90 60, 0 90 62, 0 80 62, 100 90 60, 100 90 62, 100 80 62";
        QString heard;
        for (int attempt = 0; attempt < 3 && !heard.startsWith(rounds); ++attempt) {
            Start(Practice());
            form().LoopFromMark->trigger();
            form().TagMarker->setText("2");
            form().TagNumber->setText("4");
            devices().ClearSent();
            form().CmdPlay->click();
            QTest::qWait(350);
            QVERIFY(form().CmdStop->isEnabled());
            form().CmdStop->click();
            heard = Heard(devices().SentLog(), rounds);
        }
        QVERIFY2(heard.startsWith(rounds), qPrintable(heard));
        QCOMPARE(Idle(form()), "4 62");
    }

    // Every way playback ends, and the moves made while it plays; Stop then shows where it is.
    void ends_or_moves_data()
    {
        QTest::addColumn<QString>("action");  // taken once playing from event 3
        QTest::addColumn<bool>("playing");    // still playing after it
        QTest::addColumn<QString>("idle");    // after Stop: the position and the keys shown
        QTest::newRow("Stop right after Play") << "Stop" << false << "3 60";
        QTest::newRow("Stop inside the queueing yield") << "yield" << false << "3 60";
        QTest::newRow("late report after Stop: ignored") << "late" << false << "3 60";
        QTest::newRow("output error: reported") << "error" << false << "3 60";
        QTest::newRow("output device changed") << "device" << false << "3 60";
        QTest::newRow("another file opened") << "file" << false << "1 ";
        QTest::newRow("Step Forward") << "TagForward" << true << "7 ";
        QTest::newRow("Goto Begin") << "TagStart" << true << "1 ";
        QTest::newRow("Goto End") << "TagEnd" << true << "407 ";
        QTest::newRow("Step Backward") << "TagBack" << true << "2 ";
        QTest::newRow("C8 on the MIDI keyboard") << "C8" << true << "7 ";
        QTest::newRow("typing: ignored") << "type" << true << "3 60";
        QTest::newRow("the slider: ignored") << "slider" << true << "3 60";
    }
    void ends_or_moves()
    {
        QFETCH(QString, action);
        QFETCH(bool, playing);
        QFETCH(QString, idle);
        form().TagNumber->setText("3");
        if (action == "yield")
            QMetaObject::invokeMethod(form().CmdStop, &QPushButton::click, Qt::QueuedConnection);
        form().CmdPlay->click();
        if (action == "Stop" || action == "late") form().CmdStop->click();
        if (action == "late") form().OnMessagePlayed(PackNoteTag(10, 60, true));
        if (action == "error") emit form().MIDIOutput1->Error(4, "The device went away.");
        if (action == "file") harness_->Open(Song());
        if (action == "device") QTest::keyClick(form().OutputDevCombo, Qt::Key_Down);
        if (action == "C8") QVERIFY(devices().Inject({0x9F, 108, 90}));
        if (action == "type") QTest::keyClicks(form().TagNumber, "5");
        if (action == "slider") form().TagSlider->setValue(30);
        if (action.startsWith("Tag")) form().findChild<QPushButton*>(action)->click();
        QTRY_COMPARE(form().Midifile1.CurrentEvent(), idle.section(' ', 0, 0).toInt());
        QCOMPARE(form().CmdStop->isEnabled(), playing);
        QCOMPARE(harness_->messages.join(""), action == "error" ? "The device went away." : "");
        if (playing) form().CmdStop->click();
        QCOMPARE(Idle(form()), idle);
        devices().ClearSent();
        QTest::qWait(200);
        QVERIFY(devices().SentMessages().empty());  // nothing of the old queue follows, on any device
    }
};

QTEST_MAIN(PlaybackTest)
#include "test_playback.moc"
