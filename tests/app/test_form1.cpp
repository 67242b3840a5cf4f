// The main window: devices, Midi Reset, shut-down and what a user sees of the layout.
#include <QtTest>
#include <QtWidgets>

#include "midi/MIDIOutput.h"
#include "midi/backends/BuiltInSynth.h"
#include "support/PracticeCheck.h"

using namespace vantor;
using namespace vantor::test;

namespace {

// A default output keeping volume 1000 (right 2000) that may fail to open, and two inputs.
std::shared_ptr<MemoryDevices> Devices(int failCode = 0)
{
    auto devices = FormHarness::DefaultDevices();
    MemoryDevices::DeviceSetup synth{QStringLiteral("Synth"), failCode};
    synth.failText = QStringLiteral("Synth cannot be opened");
    synth.capabilities = 1;
    synth.hasStereoVolume = true;
    synth.volume = 1000;
    synth.rightVolume = 2000;
    devices->SetDefaultOutput(synth);
    devices->SetInputs({{QStringLiteral("Keys A")}, {QStringLiteral("Keys B")}});
    return devices;
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

}  // namespace

class TestForm1 : public QObject
{
    Q_OBJECT
private slots:
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
            h.Open(TwoChords());
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
        for (const int clicks : {20, 2}) {
            for (int i = 0; i < clicks; ++i) {
                h.form().ResetMidi->click();
                QTest::qWait(50);
            }
            QCOMPARE(h.messages.size(), 1);
            QVERIFY2(h.messages[0].contains(cut) && h.messages[0].contains("timgm6mb-soundfont"),
                     qPrintable(h.messages[0]));
            Pick(h.form().OutputDevCombo, 0);  // chosen again: tried and reported again
            h.messages.clear();
        }
    }

    void programChangeAndMidiReset()
    {
        FormHarness h;
        h.Load();
        Form1& f = h.form();
        h.devices().ClearSent();
        Pick(f.ProgramList, 127);  // Gunshot
        QCOMPARE(h.devices().SentTo(-1), (std::vector<ShortMessage>{{0xC0, 127, 0}}));
        for (int i = 0; i < 24; ++i)
            f.TrackList->addItem(QStringLiteral("Track %1").arg(i));
        // No track, and a track past 15 that wraps to keep the status a note-on.
        for (const auto& [track, noteStatus] : {std::pair{-1, 0x8F}, {21, 0x95}}) {
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
    }

    void endingAndDeviceChanges_data()
    {
        QTest::addColumn<QString>("how");
        // quits, outputs open, opens of "Memory Out 1", input open, the synthesizer's volumes
        QTest::addColumn<QList<int>>("after");
        const QList<int> ended{1, 0, 0, -1, 1000, 2000};
        QTest::newRow("window closed: the program ends, the window is not unloaded") << "close" << ended;
        QTest::newRow("File > Exit, then the window closed") << "exit" << ended;
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
        if (how == "exit") f.FileExit->trigger();
        if (how == "exit") f.close();
        if (how == "output") Pick(f.OutputDevCombo, 1);
        if (how == "input") Pick(f.InputDevCombo, 1);
        const auto& d = h.devices();
        QTEST((QList{h.quitCalls, d.OutputsOpen(), d.OutputOpenCount(0), d.OpenInputDevice(),
                     d.Output(-1).volume, d.Output(-1).rightVolume}),
              "after");
        QVERIFY(d.SentMessages().empty() && h.messages.isEmpty());
    }

    // The layout as a user meets it: a window of one size whose controls all show and
    // none covers another (a label may reach under its list), symbols named by their
    // tooltips, Practice between File and Help with its items clear, the speed on Play.
    void layout()
    {
        FormHarness h;
        h.Load();
        Form1& f = h.form();
        QCOMPARE(f.maximumSize(), f.minimumSize());
        const auto controls = f.centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (QWidget* a : controls) {
            QVERIFY2(a->isVisible() && f.centralWidget()->rect().contains(a->geometry()),
                     qPrintable(a->objectName()));
            for (QWidget* b : controls) {
                const bool label = qobject_cast<QLabel*>(a) || qobject_cast<QLabel*>(b);
                QVERIFY2(a == b || label || !a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + " covers " + b->objectName()));
            }
            auto* button = qobject_cast<QPushButton*>(a);
            if (button && button->text().isEmpty())
                QVERIFY(!button->icon().isNull() && button->accessibleName() == button->toolTip());
        }
        QStringList menus;
        for (QAction* menu : f.menuBar()->actions())
            menus << menu->text();
        QCOMPARE(menus.join(' '), "&File &Practice &Help");
        for (QAction* item : f.findChildren<QAction*>())
            QVERIFY2(item->isChecked() == (item->objectName() == "Speed100"), qPrintable(item->text()));
        f.findChild<QAction*>("Speed50")->trigger();
        QCOMPARE(f.CmdPlay->toolTip(), QStringLiteral("Play (50%)"));
    }
};

QTEST_MAIN(TestForm1)
#include "test_form1.moc"
