#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

#include "app/Form1.h"
#include "keyboard/PianoKeyboard.h"
#include "midi/MIDIOutput.h"
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
        track.NoteOn(2, 0, 60, 100).Control(2, 0, 10, 64).NoteOff(2, 0, 60);  // events 10, 11, 12
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
};

QTEST_MAIN(PlaybackTest)
#include "test_playback.moc"
