// Reader throughput on a generated file of dense notes under running status:
// load speed, the time to walk every event through the members, the memory per
// event and the cost of switching a filter on a track that needs it.
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "song/Midifile.h"
#include "support/SmfWriter.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Two tracks of chords, notes struck and released under running status, with
// now and then a program change on channel 1 so the filter has work to do.
QByteArray DenseSong(std::size_t atLeastBytes)
{
    vantor::test::SmfWriter writer(1, 480);
    writer.AddTrack().Name(0, "Tempo").Tempo(0, 500000);
    const std::size_t perTrack = atLeastBytes / 2 / 3 + 1;
    for (int t = 0; t < 2; ++t) {
        vantor::test::SmfTrack& track = writer.AddTrack();
        track.Name(0, t == 0 ? "Right hand" : "Left hand").NoteOn(0, t, 60, 80);
        for (std::size_t i = 1; i < perTrack; ++i) {
            const auto note = static_cast<std::uint8_t>(36 + i % 60);
            if (i % 4096 == 0) {
                track.Program(0, 0, static_cast<int>(i / 4096 % 128));
                track.NoteOn(0, t, note, 80);
            } else {
                track.Raw(static_cast<std::uint32_t>(i % 3 == 0 ? 24 : 0),
                          {note, static_cast<std::uint8_t>(i % 2 == 0 ? 0 : 1 + i % 126)});
            }
        }
    }
    return writer.Bytes();
}

template <typename F>
double BestOf(int rounds, F&& work)
{
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        work();
        best = std::min(best, Seconds(Clock::now() - start));
    }
    return best;
}

}  // namespace

int main()
{
    const QByteArray file = DenseSong(6 * 1024 * 1024);
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(file.constData()),
                                              static_cast<std::size_t>(file.size()));
    const double megabytes = static_cast<double>(file.size()) / 1e6;

    vantor::Midifile song;
    const double firstLoad = BestOf(1, [&] { song.LoadFromMemory(bytes); });
    const double load = BestOf(15, [&] { song.LoadFromMemory(bytes); });

    std::int64_t events = 0;
    for (int t = 1; t <= song.TrackCount(); ++t) {
        song.SetCurrentTrack(t);
        events += song.EventCount();
    }

    volatile std::int64_t sink = 0;  // keeps the walk from being optimised away
    const double walk = BestOf(5, [&] {
        std::int64_t checksum = 0;
        for (int t = 1; t <= song.TrackCount(); ++t) {
            song.SetCurrentTrack(t);
            const int count = song.EventCount();
            for (int e = 1; e <= count; ++e) {
                song.SetCurrentEvent(e);
                checksum += song.EventStatus() + song.EventData1() + song.EventData2() + song.EventDelta();
            }
        }
        sink = checksum;
    });

    const std::size_t memory = song.MemoryBytes();
    const double filterOn = BestOf(5, [&] {
        song.SetFilter(192, true);
        song.SetFilter(192, false);
    });

    QTemporaryDir dir;
    const QString path = vantor::test::SmfWriter::WriteFile(dir, QStringLiteral("dense.mid"), file);
    song.SetFilePath(path);
    const double open = BestOf(5, [&] { song.SetFileAction(vantor::FileActionOpen); });

    std::printf("reader_file_MB: %.2f\n", megabytes);
    std::printf("reader_events: %lld\n", static_cast<long long>(events));
    std::printf("reader_first_load_MBps: %.1f\n", megabytes / firstLoad);
    std::printf("reader_load_MBps: %.1f\n", megabytes / load);
    std::printf("reader_load_Meventsps: %.1f\n", static_cast<double>(events) / load / 1e6);
    std::printf("reader_open_file_MBps: %.1f\n", megabytes / open);
    std::printf("reader_walk_ms: %.1f\n", walk * 1e3);
    std::printf("reader_walk_ns_per_event: %.2f\n", walk * 1e9 / static_cast<double>(events));
    std::printf("reader_bytes_per_event: %.1f\n", static_cast<double>(memory) / static_cast<double>(events));
    std::printf("reader_filter_on_off_ms: %.1f\n", filterOn * 1e3);
    return 0;
}
