#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>
#include <vector>

#include "app/Form1.h"
#include "keyboard/PianoKeyboard.h"
#include "midi/MIDIOutput.h"
#include "midi/NoteTag.h"
#include "song/NoteKind.h"
#include "support/FormHarness.h"
#include "support/SmfWriter.h"

using namespace vantor;
using test::FormHarness;
using test::SmfWriter;

namespace {

// One tick is one millisecond: division 100, a quarter note of 100 ms.
constexpr int Division = 100;
constexpr int QuarterMicroseconds = 100'000;

// Events: 1 tempo, 2 on 60, 3 on 64, 4 off 60, 5 off 64, 6 on 67, 7 off 67,
// 8 controller, 9 end of track.
QByteArray ShortSong(int ticks)
{
    SmfWriter writer(0, Division);
    writer.AddTrack()
        .Tempo(0, QuarterMicroseconds)
        .NoteOn(0, 0, 60, 100)
        .NoteOn(0, 0, 64, 90)
        .NoteOff(ticks, 0, 60)
        .NoteOff(0, 0, 64)
        .NoteOn(ticks, 0, 67, 80)
        .NoteOff(ticks, 0, 67)
        .Control(0, 0, 7, 100);
    return writer.Bytes();
}

// A long song of single notes (events 2k and 2k+1 are note-on and note-off of
// one note, after the tempo at event 1), so that playback is still running
// whatever a test does meanwhile.
QByteArray LongSong(int notes = 200, int ticks = 50)
{
    SmfWriter writer(0, Division);
    auto& track = writer.AddTrack();
    track.Tempo(0, QuarterMicroseconds);
    for (int i = 0; i < notes; ++i) {
        const int note = 40 + i % 40;
        track.NoteOn(ticks, 0, note, 100).NoteOff(ticks, 0, note);
    }
    return writer.Bytes();
}

bool IsSongNote(const ShortMessage& message)
{
    return (message.status & 0xF0) == 0x90 && message.data2 != 0;
}

int Position(Form1& form)
{
    return form.Midifile1.CurrentEvent();
}

void VerifyIdleAt(Form1& form, int position)
{
    QCOMPARE(Position(form), position);
    QCOMPARE(form.TagNumber->text(), QString::number(position));
    QCOMPARE(form.TagSlider->value(), position);
    QVERIFY(form.CmdPlay->isEnabled());
    QVERIFY(!form.CmdStop->isEnabled());
}

}  // namespace

class PlaybackTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void plays_to_the_end_then_stops_at_the_position();
    void reports_carry_event_index_and_note();
    void play_from_the_last_event_queues_one_message_data();
    void play_from_the_last_event_queues_one_message();
    void a_played_message_moves_the_views_and_paints_data();
    void a_played_message_moves_the_views_and_paints();
    void a_report_while_idle_changes_nothing();
    void stop_right_after_play_restores_the_start();
    void stop_restores_the_keys_held_at_the_position();
    void stop_while_idle_data();
    void stop_while_idle();
    void output_error_during_playback_data();
    void output_error_during_playback();
    void changing_the_output_device_stops_first();
    void moves_during_playback_set_the_position_stop_restores_data();
    void moves_during_playback_set_the_position_stop_restores();
    void number_box_and_slider_are_ignored_while_playing();
    void a_stop_inside_the_queueing_yield_starts_nothing();
    void opening_another_file_while_playing_stops_first();
    void a_track_beyond_the_tag_range_is_refused();

private:
    std::unique_ptr<FormHarness> harness_;
    Form1& form() { return harness_->form(); }
    test::MemoryDevices& devices() { return harness_->devices(); }
    std::vector<ShortMessage> ResetMessages();
};

void PlaybackTest::init()
{
    harness_ = std::make_unique<FormHarness>();
    harness_->Load();
}

void PlaybackTest::cleanup()
{
    harness_.reset();
}

// What one Midi Reset sends, as the window sends it now.
std::vector<ShortMessage> PlaybackTest::ResetMessages()
{
    devices().ClearSent();
    form().MidiReset();
    auto reset = devices().SentMessages();
    devices().ClearSent();
    return reset;
}

void PlaybackTest::plays_to_the_end_then_stops_at_the_position()
{
    harness_->Open(ShortSong(10));
    const auto reset = ResetMessages();
    form().CmdPlay->click();
    QVERIFY(form().CmdStop->isEnabled());
    QVERIFY(!form().CmdPlay->isEnabled());
    QCOMPARE(form().focusWidget(), form().CmdStop);

    QTRY_VERIFY(form().CmdPlay->isEnabled());
    // Every channel message in file order, unchanged; meta events are never sent.
    std::vector<ShortMessage> expected{{0x90, 60, 100}, {0x90, 64, 90}, {0x80, 60, 64}, {0x80, 64, 64},
                                       {0x90, 67, 80},  {0x80, 67, 64}, {0xB0, 7, 100}};
    expected.insert(expected.end(), reset.begin(), reset.end());
    QCOMPARE(devices().SentMessages(), expected);
    VerifyIdleAt(form(), 1);
    for (int note : {60, 64, 67})
        QCOMPARE(form().Keyboard->ShownColour(note), WhiteKeyColour);
    QCOMPARE(form().focusWidget(), form().TagForward);
    QVERIFY(harness_->messages.isEmpty());
}

void PlaybackTest::reports_carry_event_index_and_note()
{
    // A note-on of note 60 at event 10 and its note-off at event 12.
    SmfWriter writer(0, Division);
    auto& track = writer.AddTrack();
    track.Tempo(0, QuarterMicroseconds);
    for (int controller = 1; controller <= 8; ++controller)
        track.Control(1, 0, controller, 0);
    track.NoteOn(2, 0, 60, 100).Control(2, 0, 10, 64).NoteOff(2, 0, 60);
    harness_->Open(writer.Bytes());

    QSignalSpy played(form().MIDIOutput1, &MIDIOutput::MessagePlayed);
    QStringList shown;
    connect(form().MIDIOutput1, &MIDIOutput::MessagePlayed, this, [&] { shown << form().TagNumber->text(); });
    form().CmdPlay->click();
    QTRY_VERIFY(form().CmdPlay->isEnabled());
    QCOMPARE(played.count(), 2);
    QCOMPARE(played.at(0).at(0).toInt(), 2748);
    QCOMPARE(played.at(1).at(0).toInt(), 3132);
    QCOMPARE(shown, QStringList({"10", "12"}));
}

void PlaybackTest::play_from_the_last_event_queues_one_message_data()
{
    QTest::addColumn<int>("fromEnd");  // 0: the last event
    QTest::addColumn<int>("sent");
    QTest::newRow("last event, end of track: nothing to send") << 0 << 0;
    QTest::newRow("one before: the controller alone") << 1 << 1;
}

void PlaybackTest::play_from_the_last_event_queues_one_message()
{
    QFETCH(int, fromEnd);
    QFETCH(int, sent);
    harness_->Open(ShortSong(10));
    const int last = form().Midifile1.EventCount();
    form().TagEnd->click();
    if (fromEnd > 0) form().TagNumber->setText(QString::number(last - fromEnd));
    const int start = last - fromEnd;
    QCOMPARE(Position(form()), start);
    const auto reset = ResetMessages();

    form().CmdPlay->click();
    QTRY_VERIFY(form().CmdPlay->isEnabled());
    const auto messages = devices().SentMessages();
    QCOMPARE(messages.size(), static_cast<std::size_t>(sent) + reset.size());
    if (sent == 1) QCOMPARE(messages.front(), (ShortMessage{0xB0, 7, 100}));
    VerifyIdleAt(form(), start);
}

void PlaybackTest::a_played_message_moves_the_views_and_paints_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("note");
    QTest::addColumn<QRgb>("colour");
    QTest::newRow("note-on of 60 at event 10") << 2748 << 10 << 60 << LitColour;
    QTest::newRow("note-off of 60 at event 12") << 3132 << 12 << 60 << WhiteKeyColour;
    QTest::newRow("note-on of C8") << (20 * 256 + 128 + 108) << 20 << 108 << LitColour;
    QTest::newRow("note-on below the keyboard") << (7 * 256 + 128 + 20) << 7 << 20 << QRgb{0};
}

void PlaybackTest::a_played_message_moves_the_views_and_paints()
{
    QFETCH(int, tag);
    QFETCH(int, step);
    QFETCH(int, note);
    QFETCH(QRgb, colour);
    harness_->Open(LongSong());
    form().CmdStop->setEnabled(true);  // playing, as far as the window can tell
    form().CmdPlay->setEnabled(false);
    const std::vector<QRgb> before = [&] {
        std::vector<QRgb> colours;
        for (int n = 21; n <= 108; ++n)
            colours.push_back(form().Keyboard->ShownColour(n));
        return colours;
    }();
    devices().ClearSent();

    form().OnMessagePlayed(tag);
    QCOMPARE(form().TagNumber->text(), QString::number(step));
    QCOMPARE(form().TagSlider->value(), step);
    QCOMPARE(Position(form()), 1);  // the views move, the position does not
    QVERIFY(devices().SentMessages().empty());
    for (int n = 21; n <= 108; ++n) {
        const QRgb expected = n == note ? colour : before[static_cast<std::size_t>(n - 21)];
        QCOMPARE(form().Keyboard->ShownColour(n), expected);
    }
    if (HasKey(note)) QVERIFY(!form().Keyboard->IsLit(note));  // painting leaves stepping's lit flag alone
}

void PlaybackTest::a_report_while_idle_changes_nothing()
{
    harness_->Open(LongSong());
    devices().ClearSent();
    form().OnMessagePlayed(2748);
    VerifyIdleAt(form(), 1);
    QCOMPARE(form().Keyboard->ShownColour(60), WhiteKeyColour);
    QVERIFY(devices().SentMessages().empty());
}

void PlaybackTest::stop_right_after_play_restores_the_start()
{
    harness_->Open(LongSong(200, 200));
    form().CmdPlay->click();
    form().CmdStop->click();
    VerifyIdleAt(form(), 1);
    for (int n = 21; n <= 108; ++n)
        QVERIFY(!form().Keyboard->IsLit(n));
    QCOMPARE(form().Keyboard->ShownColour(40), WhiteKeyColour);
    QVERIFY(form().Keyboard->IndicatorsVisible());
    QCOMPARE(form().focusWidget(), form().TagForward);
    // Nothing of the stopped queue follows.
    devices().ClearSent();
    QTest::qWait(300);
    QVERIFY(devices().SentMessages().empty());
}

void PlaybackTest::stop_restores_the_keys_held_at_the_position()
{
    harness_->Open(ShortSong(10));
    form().TagForward->click();  // note mode: event 2, note 60 sounding
    form().TagForward->click();  // event 3, 60 and 64 sounding
    QCOMPARE(Position(form()), 3);
    form().CmdPlay->click();
    QTRY_VERIFY(form().CmdPlay->isEnabled());
    VerifyIdleAt(form(), 3);
    // Rebuilt as the song stands before event 3: note 60 held, the event itself not replayed.
    QVERIFY(form().Keyboard->IsLit(60));
    QCOMPARE(form().Keyboard->ShownColour(60), LitColour);
    QVERIFY(!form().Keyboard->IsLit(64));
    QCOMPARE(form().Keyboard->ShownColour(64), WhiteKeyColour);
    QCOMPARE(form().Keyboard->ShownColour(67), WhiteKeyColour);
}

void PlaybackTest::stop_while_idle_data()
{
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("resets");
    QTest::newRow("at the first event: one reset") << 0 << 1 << 1;
    QTest::newRow("further on: the number box resets again") << 2 << 3 << 2;
}

void PlaybackTest::stop_while_idle()
{
    QFETCH(int, steps);
    QFETCH(int, position);
    QFETCH(int, resets);
    harness_->Open(ShortSong(10));
    for (int i = 0; i < steps; ++i)
        form().TagForward->click();
    QCOMPARE(Position(form()), position);
    const auto reset = ResetMessages();

    form().StopPlayback();
    std::vector<ShortMessage> expected;
    for (int i = 0; i < resets; ++i)
        expected.insert(expected.end(), reset.begin(), reset.end());
    QCOMPARE(devices().SentMessages(), expected);
    VerifyIdleAt(form(), position);
    for (int note : {60, 64})
        QCOMPARE(form().Keyboard->ShownColour(note), WhiteKeyColour);
    for (int n = 21; n <= 108; ++n)
        QVERIFY(!form().Keyboard->IsLit(n));
}

void PlaybackTest::output_error_during_playback_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("stops");
    QTest::newRow("no error") << 0 << false;
    QTest::newRow("not supported") << 8 << false;
    QTest::newRow("device busy") << 4 << true;
    QTest::newRow("unspecified") << 1 << true;
}

void PlaybackTest::output_error_during_playback()
{
    QFETCH(int, code);
    QFETCH(bool, stops);
    harness_->Open(LongSong());
    form().CmdPlay->click();
    QTRY_VERIFY(form().TagNumber->text() != QLatin1String("1"));  // under way

    emit form().MIDIOutput1->Error(code, QStringLiteral("The device went away."));
    if (stops) {
        QCOMPARE(harness_->messages, QStringList{QStringLiteral("The device went away.")});
        VerifyIdleAt(form(), 1);
    } else {
        QVERIFY(harness_->messages.isEmpty());
        QVERIFY(form().CmdStop->isEnabled());
        const QString shown = form().TagNumber->text();
        QTRY_VERIFY(form().TagNumber->text() != shown);  // the music goes on
        form().CmdStop->click();
    }
}

void PlaybackTest::changing_the_output_device_stops_first()
{
    harness_->Open(LongSong());
    form().CmdPlay->click();
    QTRY_VERIFY(!devices().SentTo(-1).empty());

    const int entry = form().OutputDevCombo->findText(QStringLiteral("Memory Out 1"));
    QVERIFY(entry > 0);
    form().OutputDevCombo->setCurrentIndex(entry);
    form().OutputDevCombo_Click();
    VerifyIdleAt(form(), 1);
    QTest::qWait(300);
    for (const auto& message : devices().SentTo(0))
        QVERIFY(!IsSongNote(message));
}

void PlaybackTest::moves_during_playback_set_the_position_stop_restores_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("stepsBefore");
    QTest::addColumn<int>("expected");
    // LongSong: event 1 tempo, then note-on/note-off pairs from event 2.
    QTest::newRow("Step Forward") << "TagForward" << 0 << 2;
    QTest::newRow("Step Backward") << "TagBack" << 2 << 2;
    QTest::newRow("Goto Begin") << "TagStart" << 2 << 1;
    QTest::newRow("Goto End") << "TagEnd" << 0 << 402;
}

void PlaybackTest::moves_during_playback_set_the_position_stop_restores()
{
    QFETCH(QString, button);
    QFETCH(int, stepsBefore);
    QFETCH(int, expected);
    harness_->Open(LongSong());
    QCOMPARE(form().Midifile1.EventCount(), 402);
    for (int i = 0; i < stepsBefore; ++i)
        form().TagForward->click();
    form().CmdPlay->click();
    QVERIFY(form().CmdStop->isEnabled());

    form().findChild<QPushButton*>(button)->click();
    QVERIFY(form().CmdStop->isEnabled());
    QCOMPARE(Position(form()), expected);
    form().CmdStop->click();
    VerifyIdleAt(form(), expected);
}

void PlaybackTest::number_box_and_slider_are_ignored_while_playing()
{
    harness_->Open(LongSong());
    form().TagForward->click();
    const int position = Position(form());
    form().CmdPlay->click();

    QTest::keyClicks(form().TagNumber, QStringLiteral("5"));
    form().TagNumber->setText(QStringLiteral("17"));
    form().TagSlider->setValue(30);
    QCOMPARE(Position(form()), position);
    form().CmdStop->click();
    VerifyIdleAt(form(), position);
}

void PlaybackTest::a_stop_inside_the_queueing_yield_starts_nothing()
{
    harness_->Open(ShortSong(10));
    // The Stop click is waiting when Play yields before queueing.
    QMetaObject::invokeMethod(form().CmdStop, &QPushButton::click, Qt::QueuedConnection);
    form().CmdPlay->click();
    VerifyIdleAt(form(), 1);
    devices().ClearSent();
    QTest::qWait(200);
    QVERIFY(devices().SentMessages().empty());
}

void PlaybackTest::opening_another_file_while_playing_stops_first()
{
    harness_->Open(LongSong());
    form().CmdPlay->click();
    QTRY_VERIFY(form().TagNumber->text() != QLatin1String("1"));
    harness_->Open(ShortSong(1000));
    VerifyIdleAt(form(), 1);
    devices().ClearSent();
    QTest::qWait(200);
    // The old queue reports nothing more: no position moves, no resets.
    QVERIFY(devices().SentMessages().empty());
    VerifyIdleAt(form(), 1);
}

void PlaybackTest::a_track_beyond_the_tag_range_is_refused()
{
    // One event more than a tag can carry: running-status note-ons and note-offs
    // at delta 0, then the end of track.
    constexpr int Events = MaxTaggedEvent + 1;
    QByteArray body;
    body.reserve(Events * 3 + 16);
    body.append("\x00\x90\x3C\x40", 4);
    for (int i = 2; i < Events; ++i)
        body.append(i % 2 == 0 ? "\x00\x3C\x00" : "\x00\x3C\x40", 3);
    body.append("\x00\xFF\x2F\x00", 4);
    const QByteArray file = "MThd" + SmfWriter::Be32(6) + SmfWriter::Be16(0) + SmfWriter::Be16(1) +
                            SmfWriter::Be16(Division) + "MTrk" + SmfWriter::Be32(body.size()) + body;
    harness_->Open(file);
    QCOMPARE(form().Midifile1.EventCount(), Events);
    const auto reset = ResetMessages();

    form().CmdPlay->click();
    QCOMPARE(harness_->messages.size(), 1);
    QVERIFY2(harness_->messages.front().contains(QString::number(MaxTaggedEvent)),
             qPrintable(harness_->messages.front()));
    VerifyIdleAt(form(), 1);
    QCOMPARE(devices().SentMessages(), reset);
    QTest::qWait(50);
    QCOMPARE(devices().SentMessages(), reset);
}

QTEST_MAIN(PlaybackTest)
#include "test_playback.moc"
