// The built-in synthesizer through a real desktop sound server: a private
// PulseAudio server with a null sink, whose monitor the test records.
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>
#include <cmath>
#include <numbers>
#include <numeric>

#include "midi/backends/BuiltInSynth.h"
#include "support/FormHarness.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::test;

namespace {

constexpr int kRate = 44100;

// The default output is the real built-in synthesizer, on whatever sound output it finds.
class SynthOnServer : public MemoryDevices
{
public:
    std::unique_ptr<OutputDevice> OpenOutput(int id, const QString& name) override
    {
        return id == -1 ? BuiltInSynth::Open() : MemoryDevices::OpenOutput(id, name);
    }
};

// Energy at one frequency (a single DFT bin of any frequency).
double Goertzel(std::span<const qint16> samples, double hz)
{
    const double k = 2 * std::cos(2 * std::numbers::pi * hz / kRate);
    double s1 = 0, s2 = 0;
    for (const qint16 x : samples)
        s2 = std::exchange(s1, x + k * s1 - s2);
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

}  // namespace

class SynthPulseTest : public QObject
{
    Q_OBJECT

private slots:
    void stepsANoteAndMidiResetSilencesIt()
    {
        for (const char* program : {"pulseaudio", "parec", "pacat", "pactl"})
            QVERIFY2(!QStandardPaths::findExecutable(program).isEmpty(),
                     "needs pulseaudio and pulseaudio-utils (scripts/install-deps --test)");
        // Everything of the server stays in a folder of its own, found by nobody else.
        QTemporaryDir runtime;
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "HOME"})
            qputenv(name, runtime.path().toLocal8Bit());
        qputenv("PULSE_SERVER", ("unix:" + runtime.filePath("pulse/native")).toLocal8Bit());
        QProcess server, keeper, recorder;
        server.setStandardOutputFile(QProcess::nullDevice());
        server.setStandardErrorFile(runtime.filePath("pulseaudio.log"));
        server.start("pulseaudio", {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                                    "--load=module-null-sink sink_name=vantor_null",
                                    "--load=module-native-protocol-unix", "--log-target=stderr"});
        QTRY_VERIFY_WITH_TIMEOUT(QProcess::execute("pactl", {"info"}) == 0, 10000);
        // Left alone the null sink runs at its largest latency, over a second, pulling
        // that much at once from a synthesizer that keeps a few milliseconds: a silent
        // low-latency stream makes it run as a sound card's sink does.
        const QStringList format = {"--format=s16le", "--rate=44100", "--channels=1", "--latency-msec=20"};
        keeper.setStandardInputFile(QStringLiteral("/dev/zero"));
        keeper.start("pacat", format);
        recorder.setStandardOutputFile(runtime.filePath("recording.raw"));
        recorder.start("parec", QStringList{"-d", "vantor_null.monitor"} + format);
        const int holdMs = 700;
        {
            FormHarness h(std::make_shared<SynthOnServer>());
            h.Load();
            // A step from the first event plays the flute (it holds its note, and its
            // fundamental is its strongest partial) and stops before the next note-on.
            SmfWriter song(0, 96);
            song.AddTrack()
                .Control(0, 0, 7, 127)
                .Program(0, 0, 73)
                .NoteOn(0, 0, 69, 100)
                .NoteOn(960, 0, 40, 100);
            h.Open(song.Bytes());
            // The SoundFont loads; the monitor drops its first seconds while the streams settle.
            QTest::qWait(2500);
            h.form().TagForward->click();
            QTest::qWait(holdMs);
            h.form().ResetMidi->click();
            QTest::qWait(1200);
            QVERIFY2(h.messages.isEmpty(), qPrintable(h.messages.join('\n')));
        }
        QTest::qWait(1000);
        for (QProcess* process : {&recorder, &keeper, &server}) {
            process->terminate();
            QVERIFY(process->waitForFinished(5000));
        }
        QFile recording(runtime.filePath("recording.raw"));
        QVERIFY(recording.open(QIODevice::ReadOnly));
        const QByteArray raw = recording.readAll();
        const std::span samples(reinterpret_cast<const qint16*>(raw.constData()), raw.size() / 2);

        // In 10 ms windows: the note's onset and the last one above -60 dBFS.
        constexpr std::size_t window = kRate / 100;
        std::vector<double> levels;
        for (std::size_t at = 0; at + window <= samples.size(); at += window) {
            const auto part = samples.subspan(at, window);
            const double power = std::inner_product(part.begin(), part.end(), part.begin(), 0.0) / window;
            levels.push_back(10 * std::log10(power / (32768.0 * 32768.0) + 1e-20));
        }
        const auto onset = std::ranges::find_if(levels, [](double db) { return db > -40; });
        QVERIFY2(onset != levels.end(), "nothing reached the sound server");
        const auto lastLoud =
            std::ranges::find_if(levels.rbegin(), levels.rend(), [](double db) { return db > -60; });
        const int silentAfterResetMs = int(lastLoud.base() - 1 - onset) * 10 - holdMs;

        // The strongest frequency a little after the onset, searched from 100 Hz to 2 kHz.
        const auto sound = samples.subspan(std::size_t(onset - levels.begin() + 5) * window, 8192);
        double pitch = 0, best = 0;
        for (double hz = 100; hz < 2000; hz += 1) {
            if (const double energy = Goertzel(sound, hz); energy > best)
                std::tie(best, pitch) = std::pair{energy, hz};
        }
        qInfo("A4 at %.1f Hz, below -60 dBFS %d ms after Midi Reset", pitch, silentAfterResetMs);
        QVERIFY(std::abs(12 * std::log2(pitch / 440.0)) < 1);
        QVERIFY(silentAfterResetMs < 500);
    }
};

QTEST_MAIN(SynthPulseTest)
#include "test_synth_pulse.moc"
