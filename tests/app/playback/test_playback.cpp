#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QtTest>
#include <map>

#include "app/Form1.h"
#include "keyboard/PianoKeyboard.h"
#include "midi/MIDIOutput.h"
#include "song/NoteKind.h"
#include "support/FormHarness.h"
#include "support/SmfWriter.h"

using namespace vantor;
using Messages = std::vector<ShortMessage>;
Q_DECLARE_METATYPE(Messages)

namespace {

// One tick is one millisecond. Events: 1 tempo, 2 on 60, 3 on 64, 4 off 60, 5 off 64,
// 6 controller, then `notes` single notes to keep playing, end of track.
QByteArray Song(int ticks, int notes = 0)
{
    test::SmfWriter writer(0, 100);
    auto& track = writer.AddTrack().Tempo(0, 100'000).NoteOn(0, 0, 60, 100).NoteOn(0, 0, 64, 90);
    track.NoteOff(ticks, 0, 60).NoteOff(0, 0, 64).Control(ticks, 0, 7, 100);
    for (int i = 0; i < notes; ++i)
        track.NoteOn(ticks, 0, 40 + i % 40, 100).NoteOff(ticks, 0, 40 + i % 40);
    return writer.Bytes();
}

void VerifyIdleAt(Form1& form, int position)
{
    QCOMPARE(form.Midifile1.CurrentEvent(), position);
    QCOMPARE(form.TagNumber->text(), QString::number(position));
    QCOMPARE(form.TagSlider->value(), position);
    QVERIFY(form.CmdPlay->isEnabled() && !form.CmdStop->isEnabled());
    for (int n = 21; n <= 108; ++n)  // at the first event no song key is held
        if (position == 1) QCOMPARE(form.Keyboard->ShownColour(n), PianoKeyboard::RestingColour(n));
}

// A format 1 file at 1 ms a tick in 2/4: track 2 (selected) on 60 at 0, off 60 and
// on 62 at 100, off 62 at 200; track 3 on 48 (channel 3) at 50, off at 150.
QByteArray Practice()
{
    test::SmfWriter writer(1, 100);
    writer.AddTrack().Tempo(0, 100'000).Meta(0, 0x58, QByteArray("\x02\x02\x18\x08", 4));
    writer.AddTrack().NoteOn(0, 0, 60, 100).NoteOff(100, 0, 60).NoteOn(0, 0, 62, 90).NoteOff(100, 0, 62);
    writer.AddTrack().NoteOn(50, 2, 48, 80).NoteOff(100, 2, 48);
    return writer.Bytes();
}

// "ms status note" of what was sent up to the first Midi Reset, ms from the first message.
QStringList Heard(const std::vector<test::MemoryDevices::Sent>& log)
{
    QStringList heard;
    for (const auto& sent : log) {
        if (sent.message == ShortMessage{0xB0, 64, 0}) break;
        const auto ms = std::chrono::duration<double, std::milli>(sent.time - log.front().time).count();
        heard << QStringLiteral("%1 %2 %3").arg(ms).arg(sent.message.status, 0, 16).arg(sent.message.data1);
    }
    return heard;
}

// Compares what was heard with "ms status note, ...", each within 30 ms of its time.
void VerifyHeard(const QStringList& heard, const QString& expected)
{
    const QStringList want = expected.split(", ");
    QCOMPARE(heard.size(), want.size());
    for (qsizetype k = 0; k < want.size(); ++k) {
        QCOMPARE(heard[k].section(' ', 1), want[k].section(' ', 1));
        QVERIFY2(
            std::abs(heard[k].section(' ', 0, 0).toDouble() - want[k].section(' ', 0, 0).toDouble()) < 30,
            qPrintable(heard.join(", ")));
    }
}

// The notes still sounding after the log: note-ons not ended by a note-off or an All Notes Off.
int Sounding(const std::vector<test::MemoryDevices::Sent>& log)
{
    std::map<std::pair<int, int>, int> on;
    for (const auto& [device, m, time] : log) {
        if (IsNoteOn(m.status, m.data2)) ++on[{m.status & 15, m.data1}];
        if (IsNoteOff(m.status, m.data2)) on[{m.status & 15, m.data1}] = 0;
        if ((m.status & 0xF0) == 0xB0 && m.data1 == 123)
            std::erase_if(on, [&](const auto& held) { return held.first.first == (m.status & 15); });
    }
    return static_cast<int>(
        std::count_if(on.begin(), on.end(), [](const auto& held) { return held.second > 0; }));
}

}  // namespace

class PlaybackTest : public QObject
{
    Q_OBJECT
    std::unique_ptr<test::FormHarness> harness_;
    Form1& form() { return harness_->form(); }
    test::MemoryDevices& devices() { return harness_->devices(); }
    Messages ResetMessages()  // what one Midi Reset sends; the log is cleared
    {
        devices().ClearSent();
        form().MidiReset();
        const auto reset = devices().SentMessages();
        devices().ClearSent();
        return reset;
    }

private slots:
    void init()
    {
        harness_ = std::make_unique<test::FormHarness>();
        harness_->Load();
        harness_->Open(Song(50, 200));
    }

    void plays_from_the_position_to_the_end_data()
    {
        QTest::addColumn<int>("start");  // 0: the last event, -1: the one before
        QTest::addColumn<Messages>("sent");
        QTest::newRow("from event 3, 60 held")
            << 3 << Messages{{0x90, 64, 90}, {0x80, 60, 64}, {0x80, 64, 64}, {0xB0, 7, 100}};
        QTest::newRow("from the end of track: nothing") << 0 << Messages{};
        QTest::newRow("from one before: the controller alone") << -1 << Messages{{0xB0, 7, 100}};
    }
    void plays_from_the_position_to_the_end()
    {
        QFETCH(int, start);
        QFETCH(Messages, sent);
        harness_->Open(Song(10));
        if (start <= 0) start += form().Midifile1.EventCount();
        form().TagNumber->setText(QString::number(start));
        const auto reset = ResetMessages();
        form().CmdPlay->click();
        QCOMPARE(form().focusWidget(), form().CmdStop);
        QTRY_VERIFY(form().CmdPlay->isEnabled());
        sent.insert(sent.end(), reset.begin(), reset.end());
        QCOMPARE(devices().SentMessages(), sent);  // meta events are queued, never sent
        VerifyIdleAt(form(), start);
        QCOMPARE(form().Keyboard->ShownColour(60), start == 3 ? LitColour : WhiteKeyColour);
        QCOMPARE(form().focusWidget(), form().TagForward);
    }

    void reports_carry_event_index_and_note()
    {
        test::SmfWriter writer(0, 100);
        auto& track = writer.AddTrack().Tempo(0, 100'000);
        for (int controller = 1; controller <= 8; ++controller)
            track.Control(1, 0, controller, 0);
        track.NoteOn(2, 0, 60, 100)
            .Control(2, 0, 10, 64)
            .NoteOn(2, 0, 60, 0);  // events 10, 11, 12: a velocity-0 release
        harness_->Open(writer.Bytes());
        QStringList seen;
        connect(form().MIDIOutput1, &MIDIOutput::MessagePlayed, this, [&](qint32 tag) {
            const bool lit = form().Keyboard->ShownColour(60) == LitColour;
            seen << QStringLiteral("%1 %2 %3").arg(tag).arg(form().TagNumber->text(), lit ? "lit" : "rest");
        });
        form().CmdPlay->click();
        QTRY_VERIFY(form().CmdPlay->isEnabled());
        QCOMPARE(seen, QStringList({"2748 10 lit", "3132 12 rest"}));
    }

    void stopping_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("Stop right after Play") << "Stop" << QStringList{};
        QTest::newRow("Stop inside the queueing yield") << "yield" << QStringList{};
        QTest::newRow("output error") << "error" << QStringList{"The device went away."};
        QTest::newRow("output device changed") << "device" << QStringList{};
        QTest::newRow("another file opened") << "file" << QStringList{};
        QTest::newRow("output failed to open") << "closed" << QStringList{"No sound."};
    }
    void stopping()
    {
        QFETCH(QString, how);
        QFETCH(QStringList, shown);
        if (how == "yield")
            QMetaObject::invokeMethod(form().CmdStop, &QPushButton::click, Qt::QueuedConnection);
        if (how == "closed") {  // reported once; Play retries quietly and must not wait for a queue
            test::MemoryDevices::OutputSpec failing{QStringLiteral("Memory Default Output")};
            failing.failCode = 6;
            failing.failText = QStringLiteral("No sound.");
            devices().SetDefaultOutput(failing);
            form().CloseOutput();
            form().OpenOutput();
        }
        form().CmdPlay->click();
        if (how == "Stop") form().CmdStop->click();
        if (how == "error") emit form().MIDIOutput1->Error(4, "The device went away.");
        if (how == "file") harness_->Open(Song(1000));
        if (how == "device") {
            form().OutputDevCombo->setCurrentIndex(form().OutputDevCombo->findText("Memory Out 1"));
            QVERIFY(form().OutputDevCombo->currentIndex() > 0);
            form().OutputDevCombo_Click();
        }
        QCOMPARE(harness_->messages, shown);
        VerifyIdleAt(form(), 1);
        devices().ClearSent();
        QTest::qWait(200);
        QVERIFY(devices().SentMessages().empty());  // nothing of the old queue follows, on any device
    }

    void output_errors_0_and_8_change_nothing()
    {
        form().CmdPlay->click();
        for (int code : {0, 8})
            emit form().MIDIOutput1->Error(code, "ignored");
        QVERIFY(harness_->messages.isEmpty() && form().CmdStop->isEnabled());
        QTRY_VERIFY(form().TagNumber->text().toInt() > 2);  // the music goes on
    }

    // At the first event one reset; further on the number box's handler resets again.
    void stop_while_idle()
    {
        for (const auto& [position, resets] : {std::pair{1, 1}, std::pair{3, 2}}) {
            form().TagNumber->setText(QString::number(position));
            const auto reset = ResetMessages();
            form().StopPlayback();
            form().OnMessagePlayed(2748);  // a late report while idle moves nothing
            QCOMPARE(devices().SentMessages().size(), reset.size() * resets);
            VerifyIdleAt(form(), position);
        }
    }

    void moves_during_playback_set_the_position_stop_restores_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("expected");  // 0: the last event
        QTest::newRow("Step Forward") << "TagForward" << 7;
        QTest::newRow("Goto Begin") << "TagStart" << 1;
        QTest::newRow("Goto End") << "TagEnd" << 0;
        QTest::newRow("Step Backward") << "TagBack" << 2;
        QTest::newRow("C8 on the MIDI keyboard") << "C8" << 7;
        QTest::newRow("typing and the slider: ignored") << "type" << 3;
    }
    void moves_during_playback_set_the_position_stop_restores()
    {
        QFETCH(QString, action);
        QFETCH(int, expected);
        if (expected == 0) expected = form().Midifile1.EventCount();
        form().TagNumber->setText("3");
        form().CmdPlay->click();
        if (action == "C8") QVERIFY(devices().Inject({0x9F, 108, 90}));
        if (action == "type") QTest::keyClicks(form().TagNumber, "5");
        if (action == "type") form().TagSlider->setValue(30);
        if (action.startsWith("Tag")) form().findChild<QPushButton*>(action)->click();
        QTRY_COMPARE(form().Midifile1.CurrentEvent(), expected);
        QVERIFY(form().CmdStop->isEnabled());
        form().CmdStop->click();
        VerifyIdleAt(form(), expected);
    }

    void practice_items_data()
    {
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("heard");
        const QStringList none;
        QTest::newRow("none") << none << "0 90 60, 100 80 60, 100 90 62, 200 80 62";
        QTest::newRow("50 %: twice the spacing")
            << QStringList{"Speed50"} << "0 90 60, 200 80 60, 200 90 62, 400 80 62";
        QTest::newRow("accompaniment") << QStringList{"Accompaniment"}
                                       << "0 90 60, 50 92 48, 100 80 60, 100 90 62, 150 82 48, 200 80 62";
        QTest::newRow("metronome in 2/4")
            << QStringList{"Metronome"}
            << "0 90 60, 0 99 76, 50 89 76, 100 80 60, 100 90 62, 100 99 77, 150 89 77, 200 80 62";
        QTest::newRow("count-in at 50 %")
            << QStringList{"CountIn", "Speed50"}
            << "0 99 76, 100 89 76, 200 99 77, 300 89 77, 400 90 60, 600 80 60, 600 90 62, 800 80 62";
    }
    void practice_items()
    {
        QFETCH(QStringList, items);
        QFETCH(QString, heard);
        harness_->Open(Practice());
        for (const QString& item : items)
            form().findChild<QAction*>(item)->trigger();
        QStringList reported;
        connect(form().MIDIOutput1, &MIDIOutput::MessagePlayed, this, [&](qint32 tag) {
            reported << QStringLiteral("%1 %2 %3")
                            .arg(tag >> 8)
                            .arg(tag & 127)
                            .arg(form().Keyboard->ShownColour(48) == LitColour);
        });
        devices().ClearSent();
        form().CmdPlay->click();
        QTRY_VERIFY_WITH_TIMEOUT(form().CmdPlay->isEnabled(), 3000);
        VerifyHeard(Heard(devices().SentLog()), heard);
        // The window follows the selected track alone: clicks and accompaniment carry no tag.
        QCOMPARE(reported, QStringList({"1 60 0", "2 60 0", "3 62 0", "4 62 0"}));
        QCOMPARE(Sounding(devices().SentLog()), 0);
    }

    void loop_from_mark_until_stop()
    {
        harness_->Open(Practice());
        form().LoopFromMark->trigger();
        form().TagMarker->setText("2");
        form().TagNumber->setText("4");
        devices().ClearSent();
        form().CmdPlay->click();
        QTest::qWait(350);  // rounds of 100 ms: the passage's 100 ms from the previous event
        QVERIFY(form().CmdStop->isEnabled());
        form().CmdStop->click();
        const QStringList heard = Heard(devices().SentLog());
        QVERIFY2(heard.size() >= 6, qPrintable(heard.join(", ")));
        // Each round ends the note it leaves sounding.
        VerifyHeard(heard.mid(0, 6), "0 80 60, 0 90 62, 0 80 62, 100 80 60, 100 90 62, 100 80 62");
        QCOMPARE(Sounding(devices().SentLog()), 0);
        VerifyIdleAt(form(), 4);
        QCOMPARE(form().Keyboard->ShownColour(62), LitColour);  // as the position stands
    }

    void speed_changes_during_playback()
    {
        test::SmfWriter writer(0, 100);
        auto& track = writer.AddTrack().Tempo(0, 100'000);
        for (int i = 0; i < 12; ++i)
            track.NoteOn(i ? 25 : 0, 0, 60 + i, 90).NoteOff(25, 0, 60 + i);
        harness_->Open(writer.Bytes());
        devices().ClearSent();
        form().CmdPlay->click();
        QTest::qWait(150);
        form().SpeedSlower->trigger();
        QCOMPARE(form().SpeedPercent(), 90);
        form().findChild<QAction*>("Speed25")->trigger();
        QCOMPARE(form().CmdPlay->toolTip(), QStringLiteral("Play (25%)"));
        QTRY_VERIFY_WITH_TIMEOUT(form().CmdPlay->isEnabled(), 5000);
        const QStringList heard = Heard(devices().SentLog());
        QStringList notes, file;
        for (int i = 0; i < 24; ++i)
            notes << heard.value(i).section(' ', 1),
                file << QStringLiteral("%1 %2").arg(i % 2 ? 80 : 90).arg(60 + i / 2);
        QCOMPARE(heard.size(), 24);
        QCOMPARE(notes, file);  // nothing repeated, nothing lost
        QVERIFY2(heard.back().section(' ', 0, 0).toDouble() > 1000,
                 qPrintable(heard.join(", ")));  // 575 ms at 100 %
        for (int step = 0; step < 9; ++step)     // from 25 %, past the fastest
            form().SpeedFaster->trigger();
        QCOMPARE(form().SpeedPercent(), 200);
        form().findChild<QAction*>("Speed100")->trigger();
        QCOMPARE(form().CmdPlay->toolTip(), QStringLiteral("Play"));
    }
};

QTEST_MAIN(PlaybackTest)
#include "test_playback.moc"
