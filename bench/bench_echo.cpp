// Echo latency of live input: from a message arriving at the input component to
// its echo being handed to the output device, with the window idle and while a
// dense track plays back.
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "app/Form1.h"
#include "support/MemoryDevices.h"
#include "support/SmfWriter.h"

using namespace vantor;
using namespace vantor::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Messages = 2000;
// The player's keyboard sends on channel 16; the song plays on channel 1.
constexpr std::uint8_t PressStatus = 0x9F;
constexpr std::uint8_t ReleaseStatus = 0x8F;

std::vector<Clock::time_point> EchoTimes(const test::MemoryDevices& devices)
{
    std::vector<Clock::time_point> times;
    for (const auto& sent : devices.SentLog()) {
        if (sent.message.status == PressStatus || sent.message.status == ReleaseStatus)
            times.push_back(sent.time);
    }
    return times;
}

// Plays presses and releases into the input from a thread of its own, as a
// device driver would, one every millisecond, while the window runs its loop.
void Measure(const char* name, test::MemoryDevices& devices)
{
    devices.ClearSent();
    std::vector<Clock::time_point> arrived(Messages);
    std::atomic<bool> done = false;
    std::thread player([&] {
        for (int i = 0; i < Messages; ++i) {
            const auto note = static_cast<std::uint8_t>(30 + (i / 2) % 60);
            const ShortMessage message{i % 2 == 0 ? PressStatus : ReleaseStatus, note, 70};
            arrived[static_cast<std::size_t>(i)] = Clock::now();
            devices.Inject(message);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        done = true;
    });
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while ((!done || EchoTimes(devices).size() < Messages) && Clock::now() < deadline) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    player.join();

    const auto echoed = EchoTimes(devices);
    std::vector<double> latency;
    for (std::size_t k = 0; k < std::min(echoed.size(), arrived.size()); ++k) {
        latency.push_back(std::chrono::duration<double, std::milli>(echoed[k] - arrived[k]).count());
    }
    std::printf("echo_%s_messages: %zu\n", name, latency.size());
    std::printf("echo_%s_ms_p50: %.3f\n", name, Percentile(latency, 0.5));
    std::printf("echo_%s_ms_p99: %.3f\n", name, Percentile(latency, 0.99));
    std::printf("echo_%s_ms_max: %.3f\n", name,
                latency.empty() ? 0.0 : *std::max_element(latency.begin(), latency.end()));
}

// Sixteen-note chords every 10 ms on channel 1 for longer than the measurement.
QString DenseSong(const QTemporaryDir& dir)
{
    test::SmfWriter writer(0, 1000);
    auto& track = writer.AddTrack();
    track.Tempo(0, 1'000'000);
    for (int c = 0; c < 1000; ++c) {
        const int root = 30 + (c * 5) % 40;
        for (int v = 0; v < 16; ++v)
            track.NoteOn(v == 0 && c > 0 ? 1 : 0, 0, root + v * 3, 90);
        for (int v = 0; v < 16; ++v)
            track.NoteOff(v == 0 ? 9 : 0, 0, root + v * 3);
    }
    return test::SmfWriter::WriteFile(dir, QStringLiteral("dense.mid"), writer.Bytes());
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QTemporaryDir dir;

    auto devices = test::MemoryDevices::Create();
    devices->SetInputs({{QStringLiteral("Memory Keyboard")}});
    Form1 form(devices, QuietHooks());
    form.Form_Load();
    form.OpenMidiFileAt(DenseSong(dir));

    Measure("idle", *devices);
    form.CmdPlay_Click();
    Measure("during_playback", *devices);
    form.CmdStop_Click();
    return 0;
}
