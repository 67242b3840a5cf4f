// The built-in synthesizer: rendered offline, its failures, and through a real
// desktop sound server (a private PulseAudio server with a null sink, whose
// monitor the test records).
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <cmath>
#include <complex>
#include <numbers>
#include <numeric>

#include "midi/MIDIOutput.h"
#include "midi/backends/BuiltInSynth.h"
#include "midi/backends/SystemDevices.h"

using namespace vantor;
using namespace std::chrono_literals;

namespace {

constexpr int kRate = 44100;

// The mean square of the left channel over this many milliseconds rendered.
double Render(BuiltInSynth& synth, int milliseconds)
{
    std::vector<float> left(static_cast<std::size_t>(kRate * milliseconds / 1000)), right(left.size());
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
        QFile padded(padded_);
        QVERIFY2(padded.open(QIODevice::WriteOnly) && padded.write(PaddedSoundFont(soundFont, 64 << 20)) > 0,
                 "no SoundFont installed (Debian package timgm6mb-soundfont)");
    }

    // Padded by 64 MB, the SoundFont loads slowly: the volume is answered from the
    // port's own state meanwhile, and what was sent and set takes effect once loaded.
    void whileLoading()
    {
        // A note sent while loading sounds once loaded; volume 0 set while loading holds;
        // volume 0 set once loaded silences.
        for (const auto& [volume, setWhileLoading, sounds] :
             {std::tuple{0xFFFF, true, true}, {0, true, false}, {0, false, false}}) {
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
    }
    void closedWhileLoadingLeavesNothingRunning()
    {
        BuiltInSynth::OpenOffline(padded_, BuiltInSynth::Loading::InBackground)->Send({0x90, 60, 100});
    }

    // No SoundFont tells what to install (a damaged one is the window's test).
    void missingSoundFontIsRefused()
    {
        QTemporaryDir empty;
        try {
            BuiltInSynth::Open({empty.path()});
            QFAIL("opened without a SoundFont");
        } catch (const DeviceError& error) {
            QCOMPARE(error.Code(), PortErrorCode::NoDriver);
            QVERIFY(error.Description().contains("timgm6mb-soundfont"));
        }
    }

    // Without a sound server (the test machines have no sound card) the output fails,
    // found after the open returned: one Error, however often the port is asked to open.
    // With a server of its own (hence last): audible at its pitch, silent soon after All
    // Notes Off (as Midi Reset sends), and its output stopped while silent and started
    // again by the next message.
    void playsOnASoundServerOnly()
    {
        MIDIOutput port(CreateSystemDevices());
        QSignalSpy errors(&port, &MIDIOutput::Error);
        for (int attempt = 0; attempt < 3; ++attempt) {
            port.SetDeviceID(-1);
            port.SetAction(ActionOpen);
            QTRY_COMPARE(errors.count(), 1);
        }
        QCOMPARE(errors.at(0).at(0).toInt(), PortErrorCode::NoDriver);
        QVERIFY(errors.at(0).at(1).toString().contains("audio output"));
        // Everything of the server stays in a folder of its own, found by nobody else.
        QTemporaryDir runtime;
        for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "HOME"})
            qputenv(name, runtime.path().toLocal8Bit());
        qputenv("PULSE_SERVER", ("unix:" + runtime.filePath("pulse/native")).toLocal8Bit());
        QProcess server, keeper, recorder;
        server.start("pulseaudio",
                     {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                      "--load=module-null-sink sink_name=vantor_null", "--load=module-native-protocol-unix",
                      "--log-target=file:" + runtime.filePath("pulseaudio.log")});
        QTRY_VERIFY_WITH_TIMEOUT(QProcess::execute("pactl", {"info"}) == 0, 10000);
        // Left alone the null sink runs at its largest latency, over a second, pulling
        // that much at once from a synthesizer that keeps a few milliseconds: a silent
        // low-latency stream makes it run as a sound card's sink does.
        const QStringList format = {"--format=s16le", "--rate=44100", "--channels=1", "--latency-msec=20"};
        keeper.setStandardInputFile(QStringLiteral("/dev/zero"));
        keeper.start("pacat", format);
        recorder.setStandardOutputFile(runtime.filePath("recording.raw"));
        recorder.start("parec", QStringList{"-d", "vantor_null.monitor"} + format);
        // Periods four times the default's: on a loaded machine fewer run dry, each of
        // which the server fills with silence, shifting the note that follows.
        auto synth = BuiltInSynth::Open(BuiltInSynth::SoundFontFolders(), {1024, 3, 300ms});
        // The SoundFont loads; the monitor drops its first seconds while the streams settle.
        QTest::qWait(2500);
        QVERIFY(synth->WaitUntilLoaded());
        QTRY_VERIFY_WITH_TIMEOUT(!synth->AudioRunning(), 15000);
        // The flute holds its note, and its fundamental is its strongest partial.
        for (const ShortMessage& message : {ShortMessage{0xB0, 7, 127}, {0xC0, 73, 0}, {0x90, 69, 100}})
            synth->Send(message);
        const int holdMs = 700;
        QTest::qWait(holdMs);
        synth->Send({0xB0, 123, 0});
        QTRY_VERIFY_WITH_TIMEOUT(!synth->AudioRunning(), 15000);
        synth.reset();
        QCOMPARE(errors.count(), 1);
        QCOMPARE(port.OpenState(), 0);
        for (QProcess* process : {&recorder, &keeper, &server}) {
            process->terminate();
            QVERIFY(process->waitForFinished(5000));
        }
        QFile recording(runtime.filePath("recording.raw"));
        QVERIFY(recording.open(QIODevice::ReadOnly));
        const QByteArray raw = recording.readAll();
        const std::span samples(reinterpret_cast<const qint16*>(raw.constData()), raw.size() / 2);

        // In 10 ms windows, from the note's onset: how long it sounds above -60 dBFS (a
        // loaded machine drops whole windows, which only delays the rest). Its output
        // stopped while silent, so the note reached the server only if it started again.
        constexpr std::size_t window = kRate / 100;
        std::vector<double> levels;
        for (std::size_t at = 0; at + window <= samples.size(); at += window) {
            const auto part = samples.subspan(at, window);
            const double power = std::inner_product(part.begin(), part.end(), part.begin(), 0.0) / window;
            levels.push_back(10 * std::log10(power / (32768.0 * 32768.0) + 1e-20));
        }
        const auto onset = std::ranges::find_if(levels, [](double db) { return db > -40; });
        QVERIFY2(onset != levels.end(), "nothing reached the sound server");
        const auto sounding = std::count_if(onset, levels.end(), [](double db) { return db > -60; });
        const int silentAfterOffMs = int(sounding) * 10 - holdMs;
        QVERIFY2(silentAfterOffMs < 500, qPrintable(QString("sounds %1 ms on").arg(silentAfterOffMs)));

        // From 50 ms after the onset, A4 is stronger than its neighbour semitones and octaves,
        // in 50 ms parts whose energies add up (a dropout shifts what follows it).
        const auto sound = samples.subspan(std::size_t(onset - levels.begin() + 5) * window, 40 * window);
        const auto energy = [&](double hz) {
            double total = 0;
            for (std::size_t part = 0; part < sound.size(); part += 5 * window) {
                std::complex<double> sum;  // a single DFT bin of any frequency
                for (std::size_t i = part; i < part + 5 * window; ++i)
                    sum += double(sound[i]) * std::polar(1.0, 2 * std::numbers::pi * hz * double(i) / kRate);
                total += std::norm(sum);
            }
            return total;
        };
        QCOMPARE(std::ranges::max({220.0, 415.3, 440.0, 466.2, 880.0}, {}, energy), 440.0);
    }
};

QTEST_MAIN(SynthTest)
#include "test_synth.moc"
