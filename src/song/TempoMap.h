#pragma once

#include <cstdint>
#include <vector>

#include "song/Beats.h"

namespace vantor {

class Midifile;

// A tempo taking over at a tick of the track.
struct TempoChange
{
    std::int64_t tick;
    float msPerTick;
};

// The file's tempo over time. Times within one tempo are the single-precision
// milliseconds per tick times the ticks, taken in double, as playback has always
// computed them, so a file without tempo changes keeps its old due times.
class TempoMap
{
public:
    // firstMsPerTick holds from tick 0 to the first change; changes in tick order.
    explicit TempoMap(float firstMsPerTick, const std::vector<TempoChange>& changes = {});

    // Milliseconds from tick `from` to tick `to` (from <= to), at the file's speed.
    double Elapsed(std::int64_t from, std::int64_t to) const;
    float MsPerTickAt(std::int64_t tick) const;

private:
    std::size_t SegmentOf(std::int64_t tick) const;

    std::vector<TempoChange> segments_;  // the first starts at tick 0
    std::vector<double> startMs_;        // milliseconds from tick 0 to each segment's start
};

// What the conductor of a track says: its tempo map and its time signatures.
// In a format 1 file they stand in the first track, otherwise in the track itself;
// an SMPTE-timed file has no tempo, only its fixed milliseconds per tick.
struct Conductor
{
    TempoMap tempo;
    std::vector<TimeSignature> meter;
    int ticksPerQuarter;
};

// Reads the conductor of `track`; firstMsPerTick is the tempo in force before the
// first Set Tempo event. Leaves the reader on `track` at event 1.
Conductor ReadConductor(Midifile& reader, int track, float firstMsPerTick);

}  // namespace vantor
