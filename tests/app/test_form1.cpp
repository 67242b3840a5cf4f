// The main window: start-up, devices, Midi Reset, shut-down, layout and the handler guard.
#include <QtTest>
#include <QtWidgets>

#include "common/ComponentError.h"
#include "keyboard/PianoKeyboard.h"
#include "midi/MIDIOutput.h"
#include "midi/backends/BuiltInSynth.h"
#include "support/FormHarness.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::test;

namespace {

// A default output keeping volume 1000 (right 2000) that may fail to open, and two inputs.
std::shared_ptr<MemoryDevices> Devices(int failCode = 0)
{
    auto devices = FormHarness::DefaultDevices();
    MemoryDevices::OutputSpec synth{QStringLiteral("Synth")};
    synth.capabilities = 1;
    synth.hasStereoVolume = true;
    synth.volume = 1000;
    synth.rightVolume = 2000;
    synth.failCode = failCode;
    synth.failText = QStringLiteral("Synth cannot be opened");
    devices->SetDefaultOutput(synth);
    devices->SetInputs({{QStringLiteral("Keys A")}, {QStringLiteral("Keys B")}});
    return devices;
}

// Thirty notes, one a step.
QByteArray Notes()
{
    SmfWriter song(0, 96);
    auto& track = song.AddTrack();
    for (int note = 40; note < 70; ++note)
        track.NoteOn(0, 0, note, 90).NoteOff(10, 0, note);
    return song.Bytes();
}

// What a user's pick in a closed list does: the selection, then the activated signal.
void Pick(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

// The default output is the built-in synthesizer on this SoundFont, rendered by nobody.
class SynthDevices : public MemoryDevices
{
public:
    explicit SynthDevices(QString soundFont) : soundFont_(std::move(soundFont)) {}
    std::unique_ptr<OutputDevice> OpenOutput(int id, const QString& name) override
    {
        if (id != -1) return MemoryDevices::OpenOutput(id, name);
        return BuiltInSynth::OpenOffline(soundFont_, BuiltInSynth::Loading::InBackground);
    }

private:
    QString soundFont_;
};

// clang-format off
const std::tuple<const char*, QRect, const char*, const char*> Layout[] = {
    {"Label2", {18, 20, 41, 13}, "Midi Out", ""},             {"OutputDevCombo", {64, 16, 185, 21}, "", ""},
    {"Label1", {26, 46, 41, 13}, "Midi In", ""},              {"InputDevCombo", {64, 42, 185, 21}, "", ""},
    {"Label3", {277, 20, 33, 17}, "Track", ""},               {"TrackList", {310, 16, 185, 21}, "", ""},
    {"Label4", {265, 46, 41, 17}, "Program", ""},             {"ProgramList", {310, 42, 185, 21}, "", ""},
    {"ResetMidi", {532, 18, 77, 20}, "Midi Reset", "Midi Reset"},
    {"ChordMode", {534, 44, 87, 17}, "Chord Mode", ""},
    {"TagMark", {636, 18, 57, 20}, "Set Mark", "Set Mark"},   {"TagMarker", {700, 18, 55, 19}, "1", "Marker"},
    {"TagGoto", {762, 18, 57, 20}, "Goto Mark", "Goto Mark"}, {"CmdStop", {822, 18, 27, 20}, "", "Reset"},
    {"TagStart", {636, 42, 27, 20}, "", "Goto Begin"},
    {"TagBack", {666, 42, 27, 20}, "", "Step Backward"},
    {"TagNumber", {700, 42, 55, 19}, "1", "Message"},
    {"TagForward", {762, 42, 27, 20}, "", "Step Forward"},
    {"TagEnd", {792, 42, 27, 20}, "", "Goto End"},            {"CmdPlay", {822, 42, 27, 20}, "", "Play"},
    {"TagSlider", {8, 68, 851, 23}, "", ""},                  {"Keyboard", PianoKeyboard::Area, "", ""}};
// clang-format on

}  // namespace

class TestForm1 : public QObject
{
    Q_OBJECT
private slots:
    void startUp()
    {
        for (const auto& [withOutput, withInput] : {std::pair{true, true}, {true, false}, {false, true}}) {
            auto devices = FormHarness::DefaultDevices();
            if (!withOutput) devices->SetOutputs({});
            if (!withInput) devices->SetInputs({});
            FormHarness h(devices);
            Form1& f = h.form();
            f.FocusStepForwardIfVisible();
            QVERIFY(f.focusWidget() != f.TagForward);  // not shown yet: ignored
            h.Load();
            QCOMPARE(f.OutputDevCombo->count(), withOutput ? 2 : 1);
            QCOMPARE(f.OutputDevCombo->currentText(), QStringLiteral("Memory Default Output"));
            QCOMPARE(f.InputDevCombo->currentIndex(), withInput ? 0 : -1);
            QCOMPARE(f.ProgramList->count(), 128);
            QCOMPARE(h.devices().OutputOpenCount(-1), 1);
            QCOMPARE(h.devices().InputRunning(), withInput);
            QCOMPARE(h.devices().SentTo(-1), (std::vector<ShortMessage>{{0xC0, 0, 0}}));
            QCOMPARE(f.focusWidget(), f.TagForward);
            QVERIFY(!f.CmdPlay->isEnabled() && !f.CmdStop->isEnabled() && !f.ChordMode->isChecked());
            QVERIFY(h.messages.isEmpty());
        }
    }

    void failingOpenIsReportedOnceThenRetried()
    {
        for (const int code : {4, 8}) {  // 8, not supported, is not reported
            FormHarness h(Devices(code));
            h.Load();
            const QStringList expected = code == 8 ? QStringList{} : QStringList{"Synth cannot be opened"};
            QCOMPARE(h.messages, expected);
            QCOMPARE(h.form().MIDIOutput1->OpenState(), 0);
            h.form().OpenOutput();  // tried again, without a second box
            QCOMPARE(h.messages, expected);
            Pick(h.form().OutputDevCombo, 0);  // the user's own choice always answers
            QCOMPARE(h.messages, expected + expected);
            h.Open(Notes());
            h.form().CmdPlay->click();  // Play on the failed output ends at once, quietly
            QVERIFY(h.form().CmdPlay->isEnabled() && h.messages.size() == 2 * expected.size());
            h.devices().SetDefaultOutput(QStringLiteral("Synth"));  // mended
            h.form().OpenOutput();
            QCOMPARE(h.devices().OutputOpenCount(-1), 1);
        }
    }

    // A real SoundFont cut short (an interrupted download): its header is right, so
    // it opens, and only fails while loading in the background.
    void damagedSoundFontIsReportedOnce()
    {
        QTemporaryDir dir;
        QFile whole(BuiltInSynth::FindSoundFont(BuiltInSynth::SoundFontFolders()));
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QString cut = SmfWriter::WriteFile(dir, "cut.sf2", whole.read(whole.size() / 2));
        FormHarness h(std::make_shared<SynthDevices>(cut));
        h.Load();
        h.Open(Notes());
        for (const int steps : {20, 2}) {
            for (int i = 0; i < steps; ++i) {
                h.form().TagForward->click();
                QTest::qWait(50);
            }
            QCOMPARE(h.messages.size(), 1);
            QVERIFY2(h.messages[0].contains(cut) && h.messages[0].contains("timgm6mb-soundfont"),
                     qPrintable(h.messages[0]));
            Pick(h.form().OutputDevCombo, 0);  // chosen again: tried and reported again
            h.messages.clear();
        }
    }

    void programChangeMidiResetAndFailingHandler()
    {
        FormHarness h;
        h.Load();
        Form1& f = h.form();
        h.devices().ClearSent();
        Pick(f.ProgramList, 127);  // Gunshot
        QCOMPARE(h.devices().SentTo(-1), (std::vector<ShortMessage>{{0xC0, 127, 0}}));
        for (int i = 0; i < 24; ++i)
            f.TrackList->addItem(QStringLiteral("Track %1").arg(i));
        // No track, a track, and a track past 15 that wraps to keep the status a note-on.
        for (const auto& [track, noteStatus] : {std::pair{-1, 0x8F}, {9, 0x99}, {21, 0x95}}) {
            f.TrackList->setCurrentIndex(track);
            h.devices().ClearSent();
            QTest::mouseClick(f.ResetMidi, Qt::LeftButton);
            std::vector<ShortMessage> expected{{0xB0, 64, 0}};
            for (int note = 0; note <= 127; ++note)
                expected.push_back({std::uint8_t(noteStatus), std::uint8_t(note), 0});
            for (std::uint8_t status = 0xB0; status <= 0xBF; ++status) {
                expected.push_back({status, 64, 0});   // sustain off and All Notes Off on every channel,
                expected.push_back({status, 123, 0});  // so notes on other channels stop too
            }
            QCOMPARE(h.devices().SentTo(-1), expected);
        }
        QTest::ignoreMessage(QtWarningMsg, "Probe: broken on purpose");
        f.Guarded("Probe", [] { throw ComponentError("broken on purpose"); });
        Pick(f.ProgramList, 40);  // still answering
        QCOMPARE(h.devices().SentTo(-1).back(), (ShortMessage{0xC0, 40, 0}));
    }

    void endingAndDeviceChanges_data()
    {
        QTest::addColumn<QString>("how");
        // quits, outputs open, opens of "Memory Out 1", input open, the synthesizer's volumes
        QTest::addColumn<QList<int>>("after");
        const QList<int> ended{1, 0, 0, -1, 1000, 2000};
        QTest::newRow("window closed: the program ends, the window is not unloaded") << "close" << ended;
        QTest::newRow("File > Exit") << "exit" << ended;
        QTest::newRow("closed after Exit") << "twice" << ended;
        QTest::newRow("other output: volume put back, nothing resent")
            << "output" << QList{0, 1, 1, 0, 1000, 2000};
        QTest::newRow("other input") << "input" << QList{0, 1, 0, 1, 7, 8};
    }

    void endingAndDeviceChanges()
    {
        QFETCH(QString, how);
        FormHarness h(Devices());
        h.Load();
        Form1& f = h.form();
        f.MIDIOutput1->SetVolume(7);
        f.MIDIOutput1->SetRightVolume(8);
        h.devices().ClearSent();
        if (how == "close") QVERIFY(!f.close());
        if (how == "exit" || how == "twice") f.FileExit->trigger();
        if (how == "twice") f.close();
        if (how == "output") Pick(f.OutputDevCombo, 1);
        if (how == "input") Pick(f.InputDevCombo, 1);
        const auto& d = h.devices();
        QTEST((QList{h.quitCalls, d.OutputsOpen(), d.OutputOpenCount(0), d.OpenInputDevice(),
                     d.Output(-1).volume, d.Output(-1).rightVolume}),
              "after");
        QVERIFY(d.SentMessages().empty() && h.messages.isEmpty());
    }

    void layout()
    {
        FormHarness h;
        h.Load();
        Form1& f = h.form();
        QCOMPARE(f.centralWidget()->geometry(), QRect(0, f.menuBar()->geometry().bottom() + 1, 866, 185));
        QCOMPARE(f.minimumSize(), QSize(866, f.menuBar()->height() + 185));
        QCOMPARE(f.maximumSize(), f.minimumSize());
        QCOMPARE(f.windowTitle(), QStringLiteral("Vantor Piano Tutor"));
        // "menu item shortcut", [x] or [ ] for a checkable item; submenus follow their item
        QStringList menus;
        const std::function<void(QMenu*)> list = [&](QMenu* menu) {
            for (QAction* item : menu->actions()) {
                const QString check = item->isCheckable() ? item->isChecked() ? " [x]" : " [ ]" : "";
                menus << menu->title() + ' ' + item->text() + ' ' + item->shortcut().toString() + check;
                if (item->menu()) list(item->menu());
            }
        };
        for (QAction* menu : f.menuBar()->actions())
            list(menu->menu());
        QCOMPARE(menus.join(", "),
                 "&File &Open Midifile... Ctrl+O, &File  , &File E&xit , &Practice &Wait for My Notes  [ ], "
                 "&Practice Computer &Keyboard Plays Notes  [ ], &Practice &Pedal Steps Forward  [ ], "
                 "&Practice  , &Practice &Speed , &Speed 25%  [ ], &Speed 50%  [ ], &Speed 75%  [ ], "
                 "&Speed 90%  [ ], &Speed 100%  [x], &Speed 110%  [ ], &Speed 125%  [ ], &Speed 150%  [ ], "
                 "&Speed 200%  [ ], &Speed  , &Speed &Slower Ctrl+-, &Speed &Faster Ctrl++, "
                 "&Practice &Loop from Mark  [ ], &Practice &Accompaniment  [ ], &Practice &Metronome  [ ], "
                 "&Practice &Count-in  [ ], &Help &Help Contents F1, &Help  , &Help &About Vantor ");
        for (const auto& [name, rect, text, tip] : Layout) {
            auto* widget = f.findChild<QWidget*>(name);
            QVERIFY2(widget && widget->isVisible() && widget->parentWidget() == f.centralWidget(), name);
            QCOMPARE(widget->geometry(), rect);
            QCOMPARE(widget->toolTip(), QString(tip));
            QCOMPARE(widget->property("text").toString(), QString(text));
            if (qobject_cast<QPushButton*>(widget) && !text[0]) {  // a symbol, named by its tooltip
                QVERIFY(!widget->property("icon").value<QIcon>().isNull());
                QCOMPARE(widget->accessibleName(), QString(tip));
            }
        }
        f.findChild<QAction*>("Speed50")->trigger();  // the speed shows where Play is
        QCOMPARE(f.CmdPlay->toolTip(), QStringLiteral("Play (50%)"));
    }

    void keyboardOperationsReachTheKeyboard()
    {
        const auto play = [](auto& keys) {
            keys.LightKey(60), keys.LightKey(62), keys.PressKey(62), keys.ReleaseKey(62);
            keys.HideIndicators(), keys.PressKey(61), keys.ShowIndicators(), keys.PaintKeyLit(64);
        };
        Form1 form(MemoryDevices::Create());
        PianoKeyboard alone;
        play(form);
        play(alone);
        QCOMPARE(form.Keyboard->grab().toImage(), alone.grab().toImage());
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
