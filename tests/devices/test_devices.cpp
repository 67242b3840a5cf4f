// Device lists, opening and closing the ports, Midi Reset and the instrument list.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "devices/Instruments.h"
#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"
#include "support/FormHarness.h"

using namespace vantor;
using namespace vantor::test;

namespace {

MemoryDevices::OutputSpec Output(const char* name, int failCode = 0)
{
    MemoryDevices::OutputSpec spec;
    spec.name = QString::fromLatin1(name);
    spec.failCode = failCode;
    spec.failText = QStringLiteral("%1 cannot be opened").arg(spec.name);
    return spec;
}

// What a user's pick in a closed list does: the selection, then the activated signal.
void Pick(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

std::vector<ShortMessage> ResetSequence(int noteStatus)
{
    std::vector<ShortMessage> expected{{0xB0, 64, 0}};
    for (int note = 0; note <= 127; ++note)
        expected.push_back({static_cast<std::uint8_t>(noteStatus), static_cast<std::uint8_t>(note), 0});
    for (int channel = 0; channel < 16; ++channel) {
        expected.push_back({static_cast<std::uint8_t>(0xB0 + channel), 64, 0});
        expected.push_back({static_cast<std::uint8_t>(0xB0 + channel), 123, 0});
    }
    return expected;
}

}  // namespace

class TestDevices : public QObject
{
    Q_OBJECT
private slots:
    void instrumentNames();
    void failingOutputIsReportedOnceThenRetriedQuietly_data();
    void failingOutputIsReportedOnceThenRetriedQuietly();
    void failingInputIsReported();
    void outputChangeReopensAndKeepsVolume_data();
    void outputChangeReopensAndKeepsVolume();
    void pickingTheSameOutputPutsVolumeBackAndReadsItAgain();
    void inputChangeReopens();
    void programChangeSendsAtOnce_data();
    void programChangeSendsAtOnce();
    void programChangeWithClosedOutputSendsNothing();
    void midiResetSequence_data();
    void midiResetSequence();
    void midiResetOnClosedPortSendsNothing();
};

void TestDevices::instrumentNames()
{
    const QStringList names = InstrumentNames();
    QCOMPARE(names.size(), 128);
    QCOMPARE(names.front(), QStringLiteral("Acoustic Grand Piano"));
    QCOMPARE(names[3], QStringLiteral("Honkytonk Piano"));
    QCOMPARE(names[17], QStringLiteral("Percuss. Organ"));
    QCOMPARE(names[81], QStringLiteral("Lead 2 (saw tooth)"));
    QCOMPARE(names[87], QStringLiteral("Lead 8 (bass + lead)"));
    QCOMPARE(names[99], QStringLiteral("FX 4 (atmo - sphere)"));
    QCOMPARE(names[115], QStringLiteral("Wood block"));
    QCOMPARE(names.back(), QStringLiteral("Gunshot"));
    QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), 128);
    QVERIFY(InstrumentName(-1).isEmpty());
    QVERIFY(InstrumentName(128).isEmpty());
}

void TestDevices::failingOutputIsReportedOnceThenRetriedQuietly_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("reported");
    QTest::newRow("busy") << 4 << true;
    QTest::newRow("bad device") << 2 << true;
    QTest::newRow("not supported") << 8 << false;
}

void TestDevices::failingOutputIsReportedOnceThenRetriedQuietly()
{
    QFETCH(int, code);
    QFETCH(bool, reported);
    auto devices = FormHarness::DefaultDevices();
    devices->SetDefaultOutput(Output("Broken Synth", code));
    FormHarness h(devices);
    h.Load();

    const QStringList expected =
        reported ? QStringList{QStringLiteral("Broken Synth cannot be opened")} : QStringList{};
    QCOMPARE(h.messages, expected);
    QCOMPARE(h.form().MIDIOutput1->OpenState(), 0);
    QVERIFY(h.devices().SentMessages().empty());  // no program change on a closed port
    QCOMPARE(h.form().focusWidget(), h.form().TagForward);

    // Later opens try again, without a second box.
    h.form().OpenOutput();
    h.form().OpenOutput();
    QCOMPARE(h.messages, expected);
    QCOMPARE(h.form().MIDIOutput1->OpenState(), 0);

    // Once the device works the next open succeeds.
    devices->SetDefaultOutput(Output("Broken Synth"));
    h.form().OpenOutput();
    QVERIFY(h.form().MIDIOutput1->OpenState() >= 1);
    QCOMPARE(h.devices().OutputOpenCount(-1), 1);

    // Shut-down after a failed open is harmless too.
    h.form().FileExit_Click();
    QCOMPARE(h.devices().OutputsOpen(), 0);
    QCOMPARE(h.messages, expected);
}

void TestDevices::failingInputIsReported()
{
    auto devices = FormHarness::DefaultDevices();
    devices->SetInputs({{QStringLiteral("Dead Keys"), 6, QStringLiteral("Dead Keys has no driver")}});
    FormHarness h(devices);
    h.Load();
    QCOMPARE(h.messages, QStringList{QStringLiteral("Dead Keys has no driver")});
    QCOMPARE(h.form().MIDIInput1->OpenState(), 0);
    QCOMPARE(h.form().InputDevCombo->currentIndex(), 0);
    QVERIFY(h.form().MIDIOutput1->OpenState() >= 1);
}

void TestDevices::outputChangeReopensAndKeepsVolume_data()
{
    QTest::addColumn<std::uint32_t>("capabilities");
    QTest::addColumn<bool>("mono");
    QTest::addColumn<bool>("stereo");
    QTest::addColumn<int>("savedLeft");
    QTest::addColumn<int>("savedRight");
    // What the window remembers of device 0 (volume 1000, right 2000) after picking it.
    QTest::newRow("stereo") << 1u << false << true << 1000 << 2000;
    QTest::newRow("mono") << 1u << true << false << 1000 << -1;
    QTest::newRow("no volume") << 1u << false << false << -1 << -1;
    QTest::newRow("no capabilities") << 0u << true << true << -1 << -1;
}

void TestDevices::outputChangeReopensAndKeepsVolume()
{
    QFETCH(std::uint32_t, capabilities);
    QFETCH(bool, mono);
    QFETCH(bool, stereo);
    QFETCH(int, savedLeft);
    QFETCH(int, savedRight);

    auto devices = FormHarness::DefaultDevices();
    MemoryDevices::OutputSpec out = Output("Memory Out 1");
    out.capabilities = capabilities;
    out.hasVolume = mono;
    out.hasStereoVolume = stereo;
    out.volume = 1000;
    out.rightVolume = 2000;
    devices->SetOutputs({out});
    FormHarness h(devices);
    h.Load();
    Form1& form = h.form();
    form.SavedVolume = -1;
    form.SavedRightVolume = -1;
    h.devices().ClearSent();

    Pick(form.OutputDevCombo, 1);
    QCOMPARE(h.devices().OutputsOpen(), 1);
    QCOMPARE(h.devices().OutputOpenCount(0), 1);
    QCOMPARE(form.SavedVolume, savedLeft);
    QCOMPARE(form.SavedRightVolume, savedRight);
    QCOMPARE(form.focusWidget(), form.TagForward);
    // The instrument is not sent again on a device change.
    QVERIFY(h.devices().SentMessages().empty());

    // Closing writes back only what the device says it has.
    form.MIDIOutput1->SetVolume(7);
    form.MIDIOutput1->SetRightVolume(8);
    form.FileExit_Click();
    const bool restores = capabilities != 0 && (mono || stereo);
    QCOMPARE(h.devices().Output(0).volume, restores ? 1000 : 7);
    QCOMPARE(h.devices().Output(0).rightVolume, restores && stereo ? 2000 : 8);
}

void TestDevices::pickingTheSameOutputPutsVolumeBackAndReadsItAgain()
{
    auto devices = FormHarness::DefaultDevices();
    MemoryDevices::OutputSpec synth = Output("Synth");
    synth.capabilities = 1;
    synth.hasVolume = true;
    synth.volume = 300;
    devices->SetDefaultOutput(synth);
    FormHarness h(devices);
    h.Load();
    QCOMPARE(h.form().SavedVolume, 300);

    h.form().MIDIOutput1->SetVolume(50);
    Pick(h.form().OutputDevCombo, 0);
    QCOMPARE(h.devices().OutputOpenCount(-1), 2);
    QCOMPARE(h.devices().OutputsOpen(), 1);
    QCOMPARE(h.devices().Output(-1).volume, 300);
    QCOMPARE(h.form().SavedVolume, 300);
}

void TestDevices::inputChangeReopens()
{
    auto devices = FormHarness::DefaultDevices();
    devices->SetInputs({{QStringLiteral("Keys A")}, {QStringLiteral("Keys B")}});
    FormHarness h(devices);
    h.Load();
    QCOMPARE(h.devices().OpenInputDevice(), 0);

    h.form().TagNumber->setFocus();
    Pick(h.form().InputDevCombo, 1);
    QCOMPARE(h.devices().OpenInputDevice(), 1);
    QVERIFY(h.devices().InputRunning());
    QCOMPARE(h.form().focusWidget(), h.form().TagForward);
    QVERIFY(h.devices().Inject({0x90, 60, 1}));
}

void TestDevices::programChangeSendsAtOnce_data()
{
    QTest::addColumn<int>("program");
    QTest::newRow("Gunshot") << 127;
    QTest::newRow("Violin") << 40;
    QTest::newRow("Acoustic Grand Piano") << 0;
}

void TestDevices::programChangeSendsAtOnce()
{
    QFETCH(int, program);
    FormHarness h;
    h.Load();
    h.devices().ClearSent();
    h.form().TagNumber->setFocus();
    Pick(h.form().ProgramList, program);
    QCOMPARE(h.devices().SentTo(-1),
             (std::vector<ShortMessage>{{0xC0, static_cast<std::uint8_t>(program), 0}}));
    QCOMPARE(h.form().focusWidget(), h.form().TagForward);
}

void TestDevices::programChangeWithClosedOutputSendsNothing()
{
    FormHarness h;
    h.Load();
    h.form().CloseOutput();
    h.devices().ClearSent();
    h.form().TagNumber->setFocus();
    Pick(h.form().ProgramList, 127);
    QVERIFY(h.devices().SentMessages().empty());
    QCOMPARE(h.form().focusWidget(), h.form().TagNumber);  // the focus stays where it was
}

void TestDevices::midiResetSequence_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<int>("noteStatus");
    QTest::newRow("no track") << -1 << 0x8F;
    QTest::newRow("track 0") << 0 << 0x90;
    QTest::newRow("track 9") << 9 << 0x99;
    QTest::newRow("track 15") << 15 << 0x9F;
    QTest::newRow("track 16 wraps") << 16 << 0x90;
    QTest::newRow("track 21 wraps") << 21 << 0x95;
}

void TestDevices::midiResetSequence()
{
    QFETCH(int, track);
    QFETCH(int, noteStatus);
    FormHarness h;
    h.Load();
    Form1& form = h.form();
    // The list's index is all Midi Reset reads of the tracks.
    for (int i = 0; i < 24; ++i)
        form.TrackList->addItem(QStringLiteral("Track %1").arg(i));
    form.TrackList->setCurrentIndex(track);
    h.devices().ClearSent();
    form.TagNumber->setFocus();

    QTest::mouseClick(form.ResetMidi, Qt::LeftButton);
    QCOMPARE(h.devices().SentTo(-1), ResetSequence(noteStatus));
    QCOMPARE(form.focusWidget(), form.TagForward);
}

void TestDevices::midiResetOnClosedPortSendsNothing()
{
    FormHarness h;
    h.Load();
    h.form().CloseOutput();
    h.devices().ClearSent();
    h.form().MidiReset();
    QVERIFY(h.devices().SentMessages().empty());
    QVERIFY(h.messages.isEmpty());
}

QTEST_MAIN(TestDevices)
#include "test_devices.moc"
