// The built-in synthesizer, rendered offline, and its failures.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <cmath>
#include <numeric>

#include "midi/MIDIOutput.h"
#include "midi/backends/BuiltInSynth.h"
#include "midi/backends/SystemDevices.h"

using namespace vantor;

namespace {

constexpr int kRate = 44100;

// Renders this many milliseconds and returns the RMS of both channels over them.
double RenderRms(BuiltInSynth& synth, int milliseconds)
{
    const auto frames = static_cast<std::size_t>(kRate * milliseconds / 1000);
    std::vector<float> left(frames), right(frames);
    synth.Render(left, right);
    const double sum = std::inner_product(left.begin(), left.end(), left.begin(), 0.0) +
                       std::inner_product(right.begin(), right.end(), right.begin(), 0.0);
    return std::sqrt(sum / (2.0 * static_cast<double>(frames)));
}

quint32 Le32(const QByteArray& bytes, qsizetype at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

// The SoundFont with `extra` bytes of silence after its samples: the same
// instruments, slower to load. Sizes of the sample chunk and its parents grow.
QByteArray PaddedSoundFont(const QString& path, quint32 extra)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes = file.readAll();
    const qsizetype sdta = bytes.indexOf("sdta") - 8, smpl = bytes.indexOf("smpl", sdta);
    if (sdta < 0 || smpl < 0) return {};
    for (const qsizetype size : {qsizetype{4}, sdta + 4, smpl + 4})
        qToLittleEndian<quint32>(Le32(bytes, size) + extra, bytes.data() + size);
    return bytes.insert(smpl + 8 + Le32(bytes, smpl + 4) - extra, QByteArray(extra, '\0'));
}

}  // namespace

class SynthTest : public QObject
{
    Q_OBJECT

    QString soundFont_;
    static void Touch(const QString& path) { QVERIFY(QFile(path).open(QIODevice::WriteOnly)); }

private slots:
    void initTestCase()
    {
        soundFont_ = BuiltInSynth::FindSoundFont(BuiltInSynth::SoundFontFolders());
        QVERIFY2(!soundFont_.isEmpty(), "no SoundFont installed (Debian package timgm6mb-soundfont)");
    }

    void noteSoundsUntilTheOutputIsSilenced()
    {
        auto synth = BuiltInSynth::OpenOffline(soundFont_);
        QCOMPARE(RenderRms(*synth, 100), 0.0);
        synth->Send({0xC0, 0, 0});
        synth->Send({0x90, 60, 100});
        QVERIFY(RenderRms(*synth, 500) > 1e-3);

        // What Midi Reset sends: sustain off, then a note-on with velocity 0 for every note.
        synth->Send({0xB0, 64, 0});
        for (std::uint8_t note = 0; note < 128; ++note)
            synth->Send({0x90, note, 0});
        RenderRms(*synth, 2500);
        QCOMPARE(RenderRms(*synth, 200), 0.0);
    }

    void soundFontSearchPrefersGeneralMidiFonts()
    {
        QTemporaryDir first, second, empty;
        Touch(first.filePath("zebra.sf2"));
        Touch(first.filePath("TimGM6mb.sf2"));
        Touch(second.filePath("FluidR3_GM.sf2"));
        QCOMPARE(BuiltInSynth::FindSoundFont({empty.path(), first.path(), second.path()}),
                 first.filePath("TimGM6mb.sf2"));
        QCOMPARE(BuiltInSynth::FindSoundFont({second.path(), first.path()}),
                 second.filePath("FluidR3_GM.sf2"));
        QCOMPARE(BuiltInSynth::FindSoundFont({empty.path(), "/nonexistent/folder"}), QString());
    }

    void missingSoundFontTellsWhatToInstall()
    {
        QTemporaryDir empty;
        try {
            BuiltInSynth::Open({empty.path()});
            QFAIL("opened without a SoundFont");
        } catch (const DeviceError& error) {
            QCOMPARE(error.Code(), PortErrorCode::NoDriver);
            QVERIFY(error.Description().contains("timgm6mb-soundfont"));
            QVERIFY(error.Description().contains("soundfonts folder"));
        }
    }

    void damagedSoundFontIsRefused()
    {
        QTemporaryDir dir;
        QFile broken(dir.filePath("broken.sf2"));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("RIFF\x04\x00\x00\x00sfbk", 12) == 12);
        broken.close();

        // Damage that only shows while loading: the next send reports it.
        auto synth = BuiltInSynth::OpenOffline(broken.fileName(), BuiltInSynth::Loading::InBackground);
        QVERIFY(!synth->WaitUntilLoaded());
        QVERIFY_THROWS_EXCEPTION(DeviceError, synth->Send({0x90, 60, 100}));
    }

    void messagesSentWhileLoadingArePlayedOnceLoaded()
    {
        auto synth = BuiltInSynth::OpenOffline(soundFont_, BuiltInSynth::Loading::InBackground);
        synth->Send({0xC0, 40, 0});
        synth->Send({0x90, 67, 110});
        QVERIFY(synth->WaitUntilLoaded());
        QVERIFY(RenderRms(*synth, 300) > 1e-3);

        // Closed while still loading: nothing may be left running.
        auto closedEarly = BuiltInSynth::OpenOffline(soundFont_, BuiltInSynth::Loading::InBackground);
        closedEarly->Send({0x90, 60, 100});
        closedEarly.reset();
    }

    void volumeIsAnsweredWhileLoading()
    {
        QTemporaryDir dir;
        QFile padded(dir.filePath("padded.sf2"));
        QVERIFY(padded.open(QIODevice::WriteOnly) && padded.write(PaddedSoundFont(soundFont_, 64 << 20)) > 0);
        padded.close();
        auto synth = BuiltInSynth::OpenOffline(padded.fileName(), BuiltInSynth::Loading::InBackground);
        synth->SetVolume(0);
        QCOMPARE(synth->Volume(), 0);
        QVERIFY(synth->IsLoading());  // answered without waiting for the load
        QVERIFY(synth->WaitUntilLoaded());
        synth->Send({0x90, 60, 100});
        QVERIFY(RenderRms(*synth, 100) < 1e-6);  // the volume set while loading holds
        synth->SetVolume(0xFFFF);
        synth->Send({0x90, 62, 100});
        QVERIFY(RenderRms(*synth, 100) > 1e-3);
    }

    // The test machines have no sound card and no sound server: every audio output
    // fails, found out after the open returned, and the port reports it once however
    // often it is asked to open.
    void noAudioOutputIsOneErrorThenQuietRetries()
    {
        if (BuiltInSynth::Open()->WaitUntilLoaded()) QSKIP("this machine has a working audio output");
        MIDIOutput port(CreateSystemDevices());
        QSignalSpy errors(&port, &MIDIOutput::Error);
        QCOMPARE(port.ProductName(), QStringLiteral("Built-in Synthesizer"));
        port.SetAction(ActionOpen);
        QTRY_COMPARE(errors.count(), 1);
        QCOMPARE(port.OpenState(), 0);
        for (int attempt = 0; attempt < 3; ++attempt) {
            port.SetDeviceID(-1);
            port.SetAction(ActionOpen);
        }
        QTest::qWait(200);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), PortErrorCode::NoDriver);
        QVERIFY(errors.at(0).at(1).toString().contains("audio output"));
    }
};

QTEST_MAIN(SynthTest)
#include "test_synth.moc"
