// Timing of the output port's queue on the real clock, and the built-in
// synthesizer's open time. One figure per line.
//
// Queue: 10,000 messages at 1 ms spacing through a memory output. Lateness is
// send time minus due time (due = start instant + time stamp); the lag runs from
// a send to its MessagePlayed being handled on an otherwise idle UI thread; drift
// is the mean lateness of the last thousand messages minus that of the first.
// The floor is what the machine gives any thread: a plain timed sleep to the same
// due times with the queue's scheduling, no queue around it.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "midi/MIDIOutput.h"
#include "midi/TimedQueue.h"
#include "midi/backends/BuiltInSynth.h"
#include "midi/backends/SystemDevices.h"
#include "support/MemoryDevices.h"

using namespace vantor;
using namespace vantor::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kMessages = 10'000;

double Ms(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

double Mean(const std::vector<double>& values, std::size_t from, std::size_t to)
{
    return std::accumulate(values.begin() + static_cast<long>(from), values.begin() + static_cast<long>(to),
                           0.0) /
           static_cast<double>(to - from);
}

void QueueTiming()
{
    auto devices = test::MemoryDevices::Create();
    MIDIOutput port(devices);
    port.SetAction(ActionOpen);

    std::vector<Clock::time_point> handled(kMessages + 1);
    bool ended = false;
    QObject::connect(&port, &MIDIOutput::MessagePlayed, &port,
                     [&](qint32 tag) { handled[static_cast<std::size_t>(tag)] = Clock::now(); });
    QObject::connect(&port, &MIDIOutput::QueueEmpty, &port, [&] { ended = true; });

    port.SetAction(ActionClearQueue);
    for (int i = 0; i < kMessages; ++i) {
        port.SetStatus(i % 2 == 0 ? 0x90 : 0x80);
        port.SetData1(60);
        port.SetData2(i % 2 == 0 ? 100 : 0);
        port.SetTag(i + 1);
        port.SetTimeStamp(i);
        port.SetAction(ActionQueueMessage);
    }
    const Clock::time_point start = Clock::now();
    port.SetAction(ActionStartQueue);
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    const auto log = devices->SentLog();
    std::vector<double> lateness, lag;
    for (std::size_t i = 0; i < log.size(); ++i) {
        lateness.push_back(Ms(log[i].time - (start + std::chrono::milliseconds(i))));
        lag.push_back(Ms(handled[i + 1] - log[i].time));
    }
    std::printf("queue_messages_sent: %zu\n", log.size());
    std::printf("queue_lateness_p50_ms: %.3f\n", Percentile(lateness, 0.50));
    std::printf("queue_lateness_p99_ms: %.3f\n", Percentile(lateness, 0.99));
    std::printf("queue_lateness_max_ms: %.3f\n", *std::max_element(lateness.begin(), lateness.end()));
    std::printf("queue_lateness_min_ms: %.3f\n", *std::min_element(lateness.begin(), lateness.end()));
    std::printf("queue_drift_ms: %.3f\n",
                Mean(lateness, log.size() - 1000, log.size()) - Mean(lateness, 0, 1000));
    std::printf("played_lag_p50_ms: %.3f\n", Percentile(lag, 0.50));
    std::printf("played_lag_p99_ms: %.3f\n", Percentile(lag, 0.99));
    std::printf("played_lag_max_ms: %.3f\n", *std::max_element(lag.begin(), lag.end()));
}

void WakeFloor()
{
    std::vector<double> lateness;
    std::thread sleeper([&lateness] {
        AskForTimelyWakeUps();
        const Clock::time_point start = Clock::now();
        for (int i = 1; i <= kMessages; ++i) {
            const auto due = start + std::chrono::milliseconds(i);
            std::this_thread::sleep_until(due);
            lateness.push_back(Ms(Clock::now() - due));
        }
    });
    sleeper.join();
    std::printf("floor_wake_lateness_p99_ms: %.3f\n", Percentile(lateness, 0.99));
    std::printf("floor_wake_lateness_max_ms: %.3f\n", *std::max_element(lateness.begin(), lateness.end()));
}

void SynthOpenTime()
{
    const QString soundFont = BuiltInSynth::FindSoundFont(BuiltInSynth::SoundFontFolders());
    if (soundFont.isEmpty()) {
        std::printf("synth_soundfont: none found\n");
        return;
    }
    std::vector<double> offline;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        auto synth = BuiltInSynth::OpenOffline(soundFont);
        offline.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("synth_load_soundfont_ms: %.1f\n", Percentile(offline, 0.5));

    // The whole open as the port does it: SoundFont and the first audio output
    // that works (under a JACK server, its jack output), or the time to give up.
    MIDIOutput port(CreateSystemDevices());
    QElapsedTimer timer;
    timer.start();
    port.SetDeviceID(-1);
    port.SetAction(ActionOpen);
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    std::printf(port.OpenState() ? "synth_open_ms: %.1f\n" : "synth_open_failed_no_audio_ms: %.1f\n", ms);
    timer.restart();
    port.SetAction(ActionClose);
    std::printf("synth_close_ms: %.1f\n", static_cast<double>(timer.nsecsElapsed()) / 1e6);
}

// A million messages due 1,000 to the millisecond, a tag on every 100,000th: how
// long the queue takes to send them all and report the tags.
void MillionMessages()
{
    constexpr int kCount = 1'000'000;
    auto devices = test::MemoryDevices::Create();
    MIDIOutput port(devices);
    port.SetAction(ActionOpen);
    int tags = 0;
    bool ended = false;
    QObject::connect(&port, &MIDIOutput::MessagePlayed, &port, [&] { ++tags; });
    QObject::connect(&port, &MIDIOutput::QueueEmpty, &port, [&] { ended = true; });
    for (int i = 0; i < kCount; ++i) {
        port.SetStatus(0x90);
        port.SetData1(i % 128);
        port.SetData2(1);
        if (i % 100'000 == 0) port.SetTag(i + 1);
        port.SetTimeStamp(i / 1000);
        port.SetAction(ActionQueueMessage);
    }
    const Clock::time_point start = Clock::now();
    port.SetAction(ActionStartQueue);
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    std::printf("million_sent: %zu\n", devices->SentLog().size());
    std::printf("million_tags_reported: %d\n", tags);
    std::printf("million_seconds: %.3f\n", Ms(Clock::now() - start) / 1000.0);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    QCoreApplication app(argc, argv);
    QueueTiming();
    MillionMessages();
    WakeFloor();
    SynthOpenTime();
    return 0;
}
