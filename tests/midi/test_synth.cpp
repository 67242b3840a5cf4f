// The built-in synthesizer, rendered offline, and its failures.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <numeric>

#include "midi/MIDIOutput.h"
#include "midi/backends/BuiltInSynth.h"
#include "midi/backends/SystemDevices.h"

using namespace vantor;

namespace {

// The mean square of the left channel over this many milliseconds rendered.
double Render(BuiltInSynth& synth, int milliseconds)
{
    std::vector<float> left(static_cast<std::size_t>(44100 * milliseconds / 1000)), right(left.size());
    synth.Render(left, right);
    return std::inner_product(left.begin(), left.end(), left.begin(), 0.0) / double(left.size());
}

// The SoundFont with `extra` bytes of silence after its samples: the same
// instruments, slower to load. Sizes of the sample chunk and its parents grow.
QByteArray PaddedSoundFont(const QString& path, quint32 extra)
{
    QFile file(path);
    QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const qsizetype sdta = bytes.indexOf("sdta") - 8, smpl = bytes.indexOf("smpl", sdta);
    if (sdta < 0 || smpl < 0) return {};
    const auto size = [&](qsizetype at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    for (const qsizetype at : {qsizetype{4}, sdta + 4, smpl + 4})
        qToLittleEndian<quint32>(size(at) + extra, bytes.data() + at);
    return bytes.insert(smpl + 8 + size(smpl + 4) - extra, QByteArray(extra, '\0'));
}

}  // namespace

class SynthTest : public QObject
{
    Q_OBJECT
    QTemporaryDir dir_;
    QString padded_ = dir_.filePath(QStringLiteral("padded.sf2"));

private slots:
    void initTestCase()
    {
        const QString soundFont = BuiltInSynth::FindSoundFont(BuiltInSynth::SoundFontFolders());
        QVERIFY2(!soundFont.isEmpty(), "no SoundFont installed (Debian package timgm6mb-soundfont)");
        QFile padded(padded_);
        QVERIFY(padded.open(QIODevice::WriteOnly) && padded.write(PaddedSoundFont(soundFont, 64 << 20)) > 0);
    }

    // Padded by 64 MB, the SoundFont loads slowly: the volume is answered from the
    // port's own state meanwhile, and what was sent and set takes effect once loaded.
    void whileLoading_data()
    {
        QTest::addColumn<int>("volume");
        QTest::addColumn<bool>("setWhileLoading");
        QTest::addColumn<bool>("sounds");
        QTest::newRow("note sent while loading sounds once loaded") << 0xFFFF << true << true;
        QTest::newRow("volume 0 set while loading holds") << 0 << true << false;
        QTest::newRow("volume 0 set once loaded") << 0 << false << false;
    }
    void whileLoading()
    {
        QFETCH(int, volume);
        QFETCH(bool, setWhileLoading);
        QFETCH(bool, sounds);
        auto synth = BuiltInSynth::OpenOffline(padded_, BuiltInSynth::Loading::InBackground);
        synth->Send({0x90, 67, 110});
        if (setWhileLoading) {
            synth->SetVolume(volume);
            QCOMPARE(synth->Volume(), volume);
        }
        QVERIFY(synth->IsLoading());  // nothing above waited for the load
        QVERIFY(synth->WaitUntilLoaded());
        if (!setWhileLoading) synth->SetVolume(volume);
        QCOMPARE(Render(*synth, 300) > 1e-6, sounds);
    }
    void closedWhileLoadingLeavesNothingRunning()
    {
        BuiltInSynth::OpenOffline(padded_, BuiltInSynth::Loading::InBackground)->Send({0x90, 60, 100});
    }

    // No SoundFont tells what to install; damage that only shows while loading fails the next send.
    void missingOrDamagedSoundFontIsRefused()
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
        QFile broken(empty.filePath("broken.sf2"));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("RIFF\x04\x00\x00\x00sfbk", 12) == 12);
        broken.close();
        auto synth = BuiltInSynth::OpenOffline(broken.fileName(), BuiltInSynth::Loading::InBackground);
        QVERIFY(!synth->WaitUntilLoaded());
        QVERIFY_THROWS_EXCEPTION(DeviceError, synth->Send({0x90, 60, 100}));
    }

    // The test machines have no sound card and no sound server: every audio output
    // fails, found out after the open returned, and the port reports it once however
    // often it is asked to open.
    void noAudioOutputIsOneErrorThenQuietRetries()
    {
        if (BuiltInSynth::Open()->WaitUntilLoaded()) QSKIP("this machine has a working audio output");
        MIDIOutput port(CreateSystemDevices());
        QSignalSpy errors(&port, &MIDIOutput::Error);
        for (int attempt = 0; attempt < 3; ++attempt) {
            port.SetDeviceID(-1);
            port.SetAction(ActionOpen);
            QTRY_COMPARE(errors.count(), 1);
        }
        QTest::qWait(200);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(port.OpenState(), 0);
        QCOMPARE(errors.at(0).at(0).toInt(), PortErrorCode::NoDriver);
        QVERIFY(errors.at(0).at(1).toString().contains("audio output"));
    }
};

QTEST_MAIN(SynthTest)
#include "test_synth.moc"
