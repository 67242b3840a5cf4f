// The built-in synthesizer on real sound servers, each private to this run: send
// to sound at the server, what its period settings cost while idle, the restart
// after a silence, and how long a call takes once a JACK server has died.
#include <jack/jack.h>
#include <pulse/simple.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <thread>

#include "BenchSupport.h"
#include "midi/MIDIOutput.h"
#include "midi/backends/BuiltInSynth.h"
#include "midi/backends/SystemDevices.h"

using namespace vantor;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int kRate = 44100;
constexpr float kOnset = 0.01f;  // -40 dBFS

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// CPU time of this process (every thread), for idle figures.
Clock::duration ProcessCpu()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    const auto tv = [](timeval t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return tv(use.ru_utime) + tv(use.ru_stime);
}

double IdleCpuPercent(Clock::duration over)
{
    const auto cpu = ProcessCpu();
    std::this_thread::sleep_for(over);
    return 100.0 * Ms(ProcessCpu() - cpu) / Ms(over);
}

class Server
{
public:
    Server(const QString& program, const QStringList& arguments)
    {
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(program, arguments);
        process_.waitForStarted();
    }
    ~Server() { Stop(); }
    void Stop()
    {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) process_.kill();
        process_.waitForFinished();
    }

private:
    QProcess process_;
};

bool Succeeds(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(15000) && process.exitCode() == 0;
}

// Reads the null sink's monitor and gives the time at which the server mixed the
// first loud sample after a given instant.
class MonitorRecorder
{
public:
    MonitorRecorder()
    {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 1};
        pa_buffer_attr attr{};
        attr.maxlength = std::uint32_t(-1);
        attr.fragsize = 64 * sizeof(float);
        stream_ = pa_simple_new(nullptr, "bench", PA_STREAM_RECORD, "vantor_null.monitor", "monitor", &format,
                                nullptr, &attr, nullptr);
        if (stream_) thread_ = std::thread([this] { Run(); });
    }
    ~MonitorRecorder()
    {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        if (stream_) pa_simple_free(stream_);
    }
    bool Ok() const { return stream_ != nullptr; }
    void Arm(Clock::time_point after)
    {
        onset_ = Clock::time_point{};
        armedAfter_ = after.time_since_epoch().count();
    }
    std::optional<Clock::time_point> WaitOnset(Clock::duration patience)
    {
        const auto end = Clock::now() + patience;
        while (Clock::now() < end) {
            const Clock::time_point onset = onset_;
            if (onset != Clock::time_point{}) return onset;
            std::this_thread::sleep_for(1ms);
        }
        return std::nullopt;
    }

private:
    void Run()
    {
        float chunk[64];
        while (!done_) {
            int error = 0;
            if (pa_simple_read(stream_, chunk, sizeof chunk, &error) < 0) return;
            const auto arrived = Clock::now();
            const auto recordLatency = std::chrono::microseconds(pa_simple_get_latency(stream_, &error));
            for (int i = 0; i < 64; ++i) {
                if (std::fabs(chunk[i]) < kOnset) continue;
                // The sample was mixed this long before its chunk arrived here.
                const auto mixed =
                    arrived - recordLatency - std::chrono::microseconds((64 - i) * 1'000'000LL / kRate);
                if (mixed.time_since_epoch().count() > armedAfter_ && onset_.load() == Clock::time_point{})
                    onset_ = mixed;
                break;
            }
        }
    }
    pa_simple* stream_ = nullptr;
    std::atomic<bool> done_{false};
    std::atomic<Clock::time_point> onset_{};
    std::atomic<Clock::rep> armedAfter_{0};
    std::thread thread_;
};

// Sends a note and returns how long until it was mixed at the server (ms).
std::optional<double> NoteLatency(BuiltInSynth& synth, MonitorRecorder& recorder, int note)
{
    synth.Send({0x80, std::uint8_t(note - 1), 0});
    const auto sent = Clock::now();
    recorder.Arm(sent);
    synth.Send({0x90, std::uint8_t(note), 127});
    const auto onset = recorder.WaitOnset(3s);
    synth.Send({0x80, std::uint8_t(note), 0});
    if (!onset) return std::nullopt;
    return Ms(*onset - sent);
}

void PulseFigures()
{
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const char* name : {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "HOME"})
        qputenv(name, runtime.path().toLocal8Bit());
    qputenv("PULSE_SERVER", ("unix:" + runtime.filePath("pulse/native")).toLocal8Bit());
    Server server(QStringLiteral("pulseaudio"),
                  {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                   "--load=module-null-sink sink_name=vantor_null", "--load=module-native-protocol-unix"});
    for (int i = 0; i < 100 && !Succeeds(QStringLiteral("pactl"), {"info"}); ++i)
        QThread::msleep(100);
    // The recorder is a client of this process too: it runs only while it measures.
    const auto latency = [](BuiltInSynth& synth, int firstNote, Clock::duration silence) {
        std::vector<double> latencies;
        for (int note = firstNote; note < firstNote + 5; ++note) {
            MonitorRecorder recorder;
            std::this_thread::sleep_for(silence + 200ms);
            if (const auto ms = NoteLatency(synth, recorder, note)) latencies.push_back(*ms);
        }
        return bench::Median(latencies);
    };
    for (const int period : {64, 128, 256, 512}) {
        auto synth = BuiltInSynth::Open(BuiltInSynth::SoundFontFolders(), {period, 3, 2000ms});
        if (!synth->WaitUntilLoaded() || synth->AudioDriver() != "pulseaudio") {
            std::fprintf(stderr, "the synthesizer did not open on PulseAudio\n");
            return;
        }
        std::printf("pulse_p%dx3_send_to_sound_ms: %.2f\n", period, latency(*synth, 60, 0ms));
        synth->Send({0xC0, 0, 0});  // keeps the output running through the figure
        std::printf("pulse_p%dx3_idle_cpu_percent: %.2f\n", period, IdleCpuPercent(1500ms));
        if (period == BuiltInSynth::AudioOptions{}.periodSize) {
            // Past the silence the output stops; the next note starts it again.
            std::this_thread::sleep_for(3s);
            if (synth->AudioRunning())
                std::fprintf(stderr, "the audio output did not stop after the silence\n");
            std::printf("pulse_stopped_idle_cpu_percent: %.2f\n", IdleCpuPercent(5s));
            std::printf("pulse_restart_send_to_sound_ms: %.2f\n", latency(*synth, 70, 3s));
        }
        const auto closing = Clock::now();
        synth.reset();
        std::printf("pulse_p%dx3_close_ms: %.1f\n", period, Ms(Clock::now() - closing));
        std::fflush(stdout);
    }
}

// A JACK client that notes when the synthesizer's left output first gets loud.
class JackRecorder
{
public:
    JackRecorder()
    {
        client_ = jack_client_open("bench", JackNoStartServer, nullptr);
        if (!client_) return;
        port_ = jack_port_register(client_, "in", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &JackRecorder::Process, this);
        jack_activate(client_);
    }
    ~JackRecorder()
    {
        if (client_) jack_client_close(client_);
    }
    bool Connect() { return jack_connect(client_, "Vantor Synthesizer:left", "bench:in") == 0; }
    jack_time_t Now() const { return jack_get_time(); }
    void Arm() { onset_ = 0; }
    jack_time_t WaitOnset()
    {
        for (int i = 0; i < 3000 && onset_ == 0; ++i)
            std::this_thread::sleep_for(1ms);
        return onset_;
    }

private:
    static int Process(jack_nframes_t frames, void* data)
    {
        auto* self = static_cast<JackRecorder*>(data);
        const auto* in = static_cast<const float*>(jack_port_get_buffer(self->port_, frames));
        const jack_nframes_t start = jack_last_frame_time(self->client_);
        for (jack_nframes_t i = 0; i < frames && self->onset_ == 0; ++i)
            if (std::fabs(in[i]) >= kOnset) self->onset_ = jack_frames_to_time(self->client_, start + i);
        return 0;
    }
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::atomic<jack_time_t> onset_{0};
};

void JackFigures()
{
    qputenv("JACK_DEFAULT_SERVER", "vantor_bench_" + QByteArray::number(QCoreApplication::applicationPid()));
    for (const int period : {64, 256}) {
        Server server(QStringLiteral("jackd"),
                      {"-n", qEnvironmentVariable("JACK_DEFAULT_SERVER"), "--no-realtime", "-d", "dummy",
                       "-r", "48000", "-p", QString::number(period)});
        if (!Succeeds(QStringLiteral("jack_wait"), {"--wait", "--timeout", "10"})) {
            std::fprintf(stderr, "no JACK server\n");
            return;
        }
        auto synth = BuiltInSynth::Open(BuiltInSynth::SoundFontFolders(), {128, 3, 0ms});
        if (!synth->WaitUntilLoaded() || synth->AudioDriver() != "jack") {
            std::fprintf(stderr, "the synthesizer did not open on JACK\n");
            return;
        }
        std::vector<double> latencies;
        auto recorder = std::make_unique<JackRecorder>();
        recorder->Connect();
        for (int note = 60; note < 67; ++note) {
            std::this_thread::sleep_for(300ms);
            recorder->Arm();
            const jack_time_t sent = recorder->Now();
            synth->Send({0x90, std::uint8_t(note), 127});
            if (const jack_time_t onset = recorder->WaitOnset(); onset > sent)
                latencies.push_back(double(onset - sent) / 1000.0);
            synth->Send({0x80, std::uint8_t(note), 0});
        }
        recorder.reset();
        std::printf("jack_p%d_send_to_sound_ms: %.2f\n", period, bench::Median(latencies));
        std::printf("jack_p%d_idle_cpu_percent: %.2f\n", period, IdleCpuPercent(3s));
        std::fflush(stdout);
    }

    // A call once the server has died: the MIDI output and the synthesizer.
    for (const bool synthesizer : {false, true}) {
        auto server = std::make_unique<Server>(
            QStringLiteral("jackd"), QStringList{"-n", qEnvironmentVariable("JACK_DEFAULT_SERVER"),
                                                 "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "256"});
        Succeeds(QStringLiteral("jack_wait"), {"--wait", "--timeout", "10"});
        jack_client_t* sink = jack_client_open("Sink", JackNoStartServer, nullptr);
        jack_port_register(sink, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jack_activate(sink);
        MIDIOutput port(CreateSystemDevices());
        int id = -1;
        for (int i = 0, count = synthesizer ? 0 : port.DeviceCount(); i < count; ++i) {
            port.SetDeviceID(i);
            if (port.ProductName() == "JACK: Sink:in") id = i;
        }
        port.SetDeviceID(id);
        port.SetAction(ActionOpen);
        std::this_thread::sleep_for(1s);
        jack_client_close(sink);
        server->Stop();
        std::vector<double> calls;
        for (int i = 0; i < 3000; ++i) {
            const auto start = Clock::now();
            port.SetStatus(0x90);
            port.SetData1(60);
            port.SetData2(i % 2 * 100);
            port.SetAction(ActionSendMessage);
            calls.push_back(Ms(Clock::now() - start));
        }
        const char* what = synthesizer ? "synth" : "midi_out";
        std::printf("jack_dead_%s_call_max_ms: %.3f\n", what, *std::max_element(calls.begin(), calls.end()));
        const auto closing = Clock::now();
        port.SetAction(ActionClose);
        std::printf("jack_dead_%s_close_ms: %.3f\n", what, Ms(Clock::now() - closing));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qputenv("JACK_NO_START_SERVER", "1");
    PulseFigures();
    JackFigures();
    return 0;
}
