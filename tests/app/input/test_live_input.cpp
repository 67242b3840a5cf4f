#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>
#include <functional>
#include <utility>

#include "app/Form1.h"
#include "keyboard/PianoKeyboard.h"
#include "midi/MIDIInput.h"
#include "support/FormHarness.h"
#include "support/SmfWriter.h"

using namespace vantor;
using Messages = std::vector<ShortMessage>;
Q_DECLARE_METATYPE(Messages)

// The player's keyboard plays on channel 16; the song (1 tempo, 2 on 60, 3 on 64, ...) on channel 1.
class LiveInputTest : public QObject
{
    Q_OBJECT
    static constexpr std::uint8_t Press = 0x9F;
    std::unique_ptr<test::FormHarness> harness_;
    Form1& form() { return harness_->form(); }
    test::MemoryDevices& devices() { return harness_->devices(); }
    void Inject(const Messages& messages)
    {
        for (const auto& message : messages)
            QVERIFY(devices().Inject(message));
        QTRY_COMPARE(form().MIDIInput1->PendingCount(), 0);
    }
    Messages Echoes()
    {
        auto sent = devices().SentMessages();
        std::erase_if(sent, [](const ShortMessage& m) { return (m.status & 0x0F) != 0x0F; });
        return sent;
    }

private slots:
    void init()
    {
        harness_ = std::make_unique<test::FormHarness>();
        harness_->Load();
        test::SmfWriter song(0, 100);
        song.AddTrack().Tempo(0, 100'000).NoteOn(0, 0, 60, 100).NoteOn(0, 0, 64, 90).NoteOff(10, 0, 60);
        harness_->Open(song.Bytes());
        devices().ClearSent();
    }

    void echoes_unchanged_and_paints_data()
    {
        QTest::addColumn<Messages>("played");
        QTest::addColumn<int>("pressed");  // the key shown pressed afterwards, 0 for none
        QTest::newRow("press, odd channel and velocity") << Messages{{0x93, 60, 37}} << 60;
        QTest::newRow("velocity 0 releases") << Messages{{0x93, 60, 37}, {0x93, 60, 0}} << 0;
        QTest::newRow("note-off releases") << Messages{{0x90, 61, 37}, {0x80, 61, 64}} << 0;
        QTest::newRow("off the keyboard, controller")
            << Messages{{0x90, 20, 64}, {0x90, 109, 64}, {0xB0, 64, 1}} << 0;
        QTest::newRow("a controller leaves a pressed key") << Messages{{0x90, 64, 37}, {0xB0, 64, 1}} << 64;
        QTest::newRow("C8 with velocity 0, B7 released: no step")
            << Messages{{0x90, 108, 0}, {0x80, 107, 9}} << 0;
    }
    void echoes_unchanged_and_paints()
    {
        QFETCH(Messages, played);
        QFETCH(int, pressed);
        Inject(played);
        QCOMPARE(devices().SentMessages(), played);
        QCOMPARE(form().Midifile1.CurrentEvent(), 1);
        for (int key = 21; key <= 108; ++key)
            QCOMPARE(form().Keyboard->ShownColour(key),
                     key == pressed ? PressedColour : PianoKeyboard::RestingColour(key));
    }

    void step_keys_step_before_the_echo()
    {
        Inject({{Press, 108, 90}});  // C8: the step's sound, then the echo
        QCOMPARE(devices().SentMessages(), (Messages{{0x90, 60, 100}, {Press, 108, 90}}));
        QCOMPARE(form().TagNumber->text(), QStringLiteral("2"));
        QCOMPARE(form().Keyboard->ShownColour(108), PressedColour);  // painted over what the step drew
        Inject({{Press, 60, 80}, {0x8F, 60, 0}});  // a key of the current chord shows lit again
        QCOMPARE(form().Keyboard->ShownColour(60), LitColour);

        form().TagForward->click();
        devices().ClearSent();
        form().MidiReset();
        Messages expected = devices().SentMessages();
        devices().ClearSent();
        expected.insert(expected.end(), {{0x90, 60, 100}, {Press, 107, 90}});
        Inject({{Press, 107, 90}});  // B7: a reset, the replay up to the step, then the echo
        QCOMPARE(devices().SentMessages(), expected);
        QCOMPARE(form().Midifile1.CurrentEvent(), 2);
        QCOMPARE(form().Keyboard->ShownColour(107), PressedColour);
    }

    void a_burst_during_a_step_is_handled_once_in_order()
    {
        const Messages burst{
            {Press, 108, 90}, {Press, 50, 10}, {0x8F, 108, 0}, {Press, 108, 91}, {0x8F, 50, 0}};
        // The rest of the burst arrives while the first C8 step yields after writing the number box.
        connect(form().TagNumber, &QLineEdit::textChanged, this, [&, delivered = false]() mutable {
            if (std::exchange(delivered, true)) return;
            for (auto it = burst.begin() + 1; it != burst.end(); ++it)
                QVERIFY(devices().Inject(*it));
        });
        Inject({burst.front()});
        QCOMPARE(Echoes(), burst);
        QCOMPARE(form().Midifile1.CurrentEvent(), 3);  // one step per C8 press
        QCOMPARE(form().Keyboard->ShownColour(50), WhiteKeyColour);
    }

    // The window stays live under a burst: other events run before each message.
    void yields_once_per_message()
    {
        QList<std::size_t> sentAtYield;
        std::function<void()> look = [&] {
            sentAtYield << devices().SentMessages().size();
            if (sentAtYield.size() < 3) QMetaObject::invokeMethod(this, look, Qt::QueuedConnection);
        };
        QVERIFY(devices().Inject({Press, 50, 10}) && devices().Inject({Press, 51, 10}));
        QMetaObject::invokeMethod(this, look, Qt::QueuedConnection);
        form().OnMessageReceived();  // as the port's notice does, but outside a posted event
        QTRY_COMPARE(sentAtYield, (QList<std::size_t>{0, 1, 2}));
    }

    void a_failing_step_still_echoes_and_removes_its_message()
    {
        form().StepMap.clear();  // every step now fails its bounds check
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^TagForward_Click: ")));
        Inject({{Press, 108, 90}});
        Inject({{Press, 61, 40}});  // handled alone: the failed message is gone
        QCOMPARE(Echoes(), (Messages{{Press, 108, 90}, {Press, 61, 40}}));
    }

    void without_an_input_device_nothing_runs()
    {
        auto devices = test::MemoryDevices::Create();
        harness_ = std::make_unique<test::FormHarness>(devices);
        harness_->Load();
        QCOMPARE(form().InputDevCombo->count(), 0);
        QVERIFY(!devices->Inject({Press, 108, 90}));
    }
};

QTEST_MAIN(LiveInputTest)
#include "test_live_input.moc"
