#include "song/TempoMap.h"

#include <algorithm>

#include "song/Midifile.h"
#include "song/StepMap.h"

namespace vantor {

namespace {

constexpr int MetaStatus = 0xFF;
constexpr int SetTempo = 0x51;
constexpr int TimeSignatureMeta = 0x58;
constexpr int SmpteDivision = 0x8000;

}  // namespace

TempoMap::TempoMap(float firstMsPerTick, const std::vector<TempoChange>& changes)
{
    segments_.push_back({0, firstMsPerTick});
    startMs_.push_back(0.0);
    for (const TempoChange& change : changes) {
        TempoChange& last = segments_.back();
        if (change.tick <= last.tick) {
            last.msPerTick = change.msPerTick;  // a later change at the same tick wins
        } else if (change.msPerTick != last.msPerTick) {
            startMs_.push_back(startMs_.back() + static_cast<double>(last.msPerTick) *
                                                     static_cast<double>(change.tick - last.tick));
            segments_.push_back(change);
        }
        // Merging equal neighbours keeps a repeated tempo from changing any due time.
        if (segments_.size() > 1 && segments_.back().msPerTick == segments_[segments_.size() - 2].msPerTick) {
            segments_.pop_back();
            startMs_.pop_back();
        }
    }
}

std::size_t TempoMap::SegmentOf(std::int64_t tick) const
{
    const auto after = std::upper_bound(segments_.begin(), segments_.end(), tick,
                                        [](std::int64_t t, const TempoChange& c) { return t < c.tick; });
    return after == segments_.begin() ? 0 : static_cast<std::size_t>(after - segments_.begin() - 1);
}

double TempoMap::Elapsed(std::int64_t from, std::int64_t to) const
{
    if (segments_.size() == 1)
        return static_cast<double>(segments_[0].msPerTick) * static_cast<double>(to - from);
    const std::size_t a = SegmentOf(from);
    const std::size_t b = SegmentOf(to);
    const auto span = [this](std::size_t s, std::int64_t ticks) {
        return static_cast<double>(segments_[s].msPerTick) * static_cast<double>(ticks);
    };
    if (a == b) return span(a, to - from);
    return span(a, segments_[a + 1].tick - from) + (startMs_[b] - startMs_[a + 1]) +
           span(b, to - segments_[b].tick);
}

float TempoMap::MsPerTickAt(std::int64_t tick) const
{
    return segments_[SegmentOf(tick)].msPerTick;
}

Conductor ReadConductor(Midifile& reader, int track, float firstMsPerTick)
{
    const bool smpte = reader.HeaderDivision() >= SmpteDivision;
    const int division = reader.Division();
    Conductor conductor{TempoMap(firstMsPerTick), {}, smpte ? std::max(1, division / 2) : division};
    reader.SetCurrentTrack(reader.FileFormat() == 1 ? 1 : track);
    std::vector<TempoChange> changes;
    std::int64_t tick = 0;
    const int count = reader.EventCount();
    for (int i = 1; i <= count; ++i) {
        reader.SetCurrentEvent(i);
        tick += reader.EventDelta();
        if (reader.EventStatus() != MetaStatus) continue;
        const QByteArray data = reader.EventBytes();
        const auto byte = [&data](int k) { return static_cast<int>(static_cast<std::uint8_t>(data[k])); };
        if (reader.EventData1() == SetTempo && data.size() >= 3 && !smpte) {
            const int tempo = byte(0) << 16 | byte(1) << 8 | byte(2);
            if (tempo > 0) changes.push_back({tick, ComputeMsPerTick(tempo, division)});
        } else if (reader.EventData1() == TimeSignatureMeta && data.size() >= 2) {
            conductor.meter.push_back({tick, byte(0), byte(1)});
        }
    }
    conductor.tempo = TempoMap(firstMsPerTick, changes);
    reader.SetCurrentTrack(track);
    return conductor;
}

}  // namespace vantor
