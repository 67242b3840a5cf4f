#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>
#include <utility>
#include <vector>

#include "app/Form1.h"
#include "keyboard/PianoKeyboard.h"
#include "midi/MIDIInput.h"
#include "support/FormHarness.h"
#include "support/SmfWriter.h"

using namespace vantor;
using test::FormHarness;
using test::SmfWriter;
using Messages = std::vector<ShortMessage>;

Q_DECLARE_METATYPE(Messages)

namespace {

// Events: 1 tempo, 2 on 60, 3 on 64, 4 off 60, 5 off 64, 6 on 67, 7 off 67, 8 end.
// In note mode a step from 1 plays event 2; from 2 it plays 3.
QByteArray Song(int ticks = 10)
{
    SmfWriter writer(0, 100);
    writer.AddTrack()
        .Tempo(0, 100'000)
        .NoteOn(0, 0, 60, 100)
        .NoteOn(0, 0, 64, 90)
        .NoteOff(ticks, 0, 60)
        .NoteOff(0, 0, 64)
        .NoteOn(ticks, 0, 67, 80)
        .NoteOff(ticks, 0, 67);
    return writer.Bytes();
}

// Many single notes, 50 ms apart: still playing whatever a test does meanwhile.
QByteArray LongSong()
{
    SmfWriter writer(0, 100);
    auto& track = writer.AddTrack();
    track.Tempo(0, 100'000);
    for (int i = 0; i < 200; ++i)
        track.NoteOn(50, 0, 40 + i % 40, 100).NoteOff(50, 0, 40 + i % 40);
    return writer.Bytes();
}

// The player's keyboard plays on channel 16, the song on channel 1.
constexpr std::uint8_t Press = 0x9F;
constexpr std::uint8_t Release = 0x8F;

Messages Echoes(const Messages& sent)
{
    Messages echoes;
    for (const auto& message : sent) {
        if ((message.status & 0x0F) == 0x0F && (message.status & 0xE0) == 0x80) echoes.push_back(message);
    }
    return echoes;
}

}  // namespace

class LiveInputTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void echoes_unchanged_and_paints_data();
    void echoes_unchanged_and_paints();
    void releasing_a_key_of_the_chord_shows_it_lit_again();
    void step_keys_step_before_the_echo_data();
    void step_keys_step_before_the_echo();
    void a_burst_during_a_step_is_handled_once_in_order();
    void a_failing_step_still_echoes_and_removes_its_message();
    void a_step_key_during_playback_moves_the_position_stop_restores();
    void without_an_input_device_nothing_runs();

private:
    void Inject(const Messages& messages);
    std::unique_ptr<FormHarness> harness_;
    Form1& form() { return harness_->form(); }
    test::MemoryDevices& devices() { return harness_->devices(); }
};

void LiveInputTest::init()
{
    harness_ = std::make_unique<FormHarness>();
    harness_->Load();
    harness_->Open(Song());
    devices().ClearSent();
}

void LiveInputTest::cleanup()
{
    harness_.reset();
}

// Plays the messages in as the device would, then lets the window handle them.
void LiveInputTest::Inject(const Messages& messages)
{
    for (const auto& message : messages)
        QVERIFY(devices().Inject(message));
    QTRY_COMPARE(form().MIDIInput1->PendingCount(), 0);
}

void LiveInputTest::echoes_unchanged_and_paints_data()
{
    QTest::addColumn<Messages>("played");
    QTest::addColumn<int>("note");  // the key looked at; 0: no key may change
    QTest::addColumn<QRgb>("colour");
    QTest::newRow("press, odd channel and velocity") << Messages{{0x93, 60, 37}} << 60 << PressedColour;
    QTest::newRow("note-on with velocity 0 releases")
        << Messages{{0x93, 60, 37}, {0x93, 60, 0}} << 60 << WhiteKeyColour;
    QTest::newRow("note-off releases") << Messages{{0x90, 61, 37}, {0x80, 61, 64}} << 61 << BlackKeyColour;
    QTest::newRow("lowest key") << Messages{{0x90, 21, 1}} << 21 << PressedColour;
    QTest::newRow("below the keyboard") << Messages{{0x90, 20, 64}, {0x80, 20, 0}} << 0 << QRgb{0};
    QTest::newRow("above the keyboard") << Messages{{0x90, 109, 64}} << 0 << QRgb{0};
    QTest::newRow("controller") << Messages{{0xB0, 64, 127}, {0xE0, 0, 64}} << 0 << QRgb{0};
    QTest::newRow("C8 with velocity 0 is a release, no step")
        << Messages{{0x90, 108, 0}} << 108 << WhiteKeyColour;
    QTest::newRow("B7 note-off, no step") << Messages{{0x80, 107, 0}} << 107 << WhiteKeyColour;
}

void LiveInputTest::echoes_unchanged_and_paints()
{
    QFETCH(Messages, played);
    QFETCH(int, note);
    QFETCH(QRgb, colour);
    Inject(played);
    QCOMPARE(devices().SentMessages(), played);
    QCOMPARE(form().Midifile1.CurrentEvent(), 1);
    for (int key = 21; key <= 108; ++key) {
        if (key == note) {
            QCOMPARE(form().Keyboard->ShownColour(key), colour);
        } else {
            QVERIFY(form().Keyboard->ShownColour(key) == WhiteKeyColour ||
                    form().Keyboard->ShownColour(key) == BlackKeyColour);
        }
    }
}

void LiveInputTest::releasing_a_key_of_the_chord_shows_it_lit_again()
{
    form().TagForward->click();  // note 60 sounding and lit
    QCOMPARE(form().Keyboard->ShownColour(60), LitColour);
    Inject({{Press, 60, 80}});
    QCOMPARE(form().Keyboard->ShownColour(60), PressedColour);
    Inject({{Release, 60, 0}});
    QCOMPARE(form().Keyboard->ShownColour(60), LitColour);
    QVERIFY(form().Keyboard->IsLit(60));
}

void LiveInputTest::step_keys_step_before_the_echo_data()
{
    QTest::addColumn<int>("stepsBefore");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("resets");
    QTest::addColumn<int>("position");
    QTest::addColumn<Messages>("stepSounds");
    QTest::newRow("C8 steps forward") << 0 << 108 << false << 2 << Messages{{0x90, 60, 100}};
    QTest::newRow("B7 steps back") << 2 << 107 << true << 2 << Messages{{0x90, 60, 100}};
}

void LiveInputTest::step_keys_step_before_the_echo()
{
    QFETCH(int, stepsBefore);
    QFETCH(int, key);
    QFETCH(bool, resets);
    QFETCH(int, position);
    QFETCH(Messages, stepSounds);
    for (int i = 0; i < stepsBefore; ++i)
        form().TagForward->click();
    devices().ClearSent();
    Messages expected;
    if (resets) {
        form().MidiReset();
        expected = devices().SentMessages();
        devices().ClearSent();
    }
    expected.insert(expected.end(), stepSounds.begin(), stepSounds.end());
    const ShortMessage press{Press, static_cast<std::uint8_t>(key), 90};
    expected.push_back(press);

    Inject({press});
    QCOMPARE(devices().SentMessages(), expected);
    QCOMPARE(form().Midifile1.CurrentEvent(), position);
    QCOMPARE(form().TagNumber->text(), QString::number(position));
    QCOMPARE(form().Keyboard->ShownColour(key), PressedColour);  // painted over what the step drew
}

void LiveInputTest::a_burst_during_a_step_is_handled_once_in_order()
{
    const Messages first{{Press, 108, 90}};
    const Messages burst{{Press, 50, 10}, {Release, 108, 0}, {Press, 108, 91},
                         {Press, 51, 11}, {Release, 50, 0},  {Press, 52, 12}};
    // The burst arrives in the middle of the C8 step, which yields again after
    // it writes the number box (the slider's handler yields once).
    bool delivered = false;
    connect(form().TagNumber, &QLineEdit::textChanged, this, [&] {
        if (std::exchange(delivered, true)) return;
        for (const auto& message : burst)
            QVERIFY(devices().Inject(message));
    });
    Inject(first);
    QTRY_COMPARE(Echoes(devices().SentMessages()).size(), first.size() + burst.size());

    Messages expected = first;
    expected.insert(expected.end(), burst.begin(), burst.end());
    QCOMPARE(Echoes(devices().SentMessages()), expected);
    QCOMPARE(form().MIDIInput1->PendingCount(), 0);
    QCOMPARE(form().Midifile1.CurrentEvent(), 3);  // two steps, one per C8 press
    QCOMPARE(form().Keyboard->ShownColour(50), WhiteKeyColour);
    QCOMPARE(form().Keyboard->ShownColour(51), PressedColour);
    QCOMPARE(form().Keyboard->ShownColour(52), PressedColour);
}

void LiveInputTest::a_failing_step_still_echoes_and_removes_its_message()
{
    form().StepMap.clear();  // every step now fails its bounds check
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^TagForward_Click: ")));
    Inject({{Press, 108, 90}});
    QCOMPARE(Echoes(devices().SentMessages()), (Messages{{Press, 108, 90}}));
    QCOMPARE(form().Keyboard->ShownColour(108), PressedColour);

    // The failed message is gone: the next arrival is handled alone.
    devices().ClearSent();
    Inject({{Press, 61, 40}});
    QCOMPARE(devices().SentMessages(), (Messages{{Press, 61, 40}}));
}

void LiveInputTest::a_step_key_during_playback_moves_the_position_stop_restores()
{
    harness_->Open(LongSong());
    form().CmdPlay->click();
    QVERIFY(form().CmdStop->isEnabled());
    Inject({{Press, 108, 90}});
    QCOMPARE(form().Midifile1.CurrentEvent(), 2);
    QVERIFY(form().CmdStop->isEnabled());
    form().CmdStop->click();
    QCOMPARE(form().Midifile1.CurrentEvent(), 2);
    QCOMPARE(form().TagNumber->text(), QStringLiteral("2"));
}

void LiveInputTest::without_an_input_device_nothing_runs()
{
    auto devices = test::MemoryDevices::Create();
    test::MemoryDevices::OutputSpec out;
    out.name = QStringLiteral("Memory Out 1");
    devices->SetOutputs({out});
    harness_ = std::make_unique<FormHarness>(devices);
    harness_->Load();
    harness_->Open(Song());
    QCOMPARE(form().InputDevCombo->count(), 0);
    devices->ClearSent();

    QVERIFY(!devices->Inject({Press, 108, 90}));
    QTest::qWait(50);
    QVERIFY(devices->SentMessages().empty());
    QCOMPARE(form().Midifile1.CurrentEvent(), 1);
}

QTEST_MAIN(LiveInputTest)
#include "test_live_input.moc"
