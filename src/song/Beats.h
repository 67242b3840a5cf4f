#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vantor {

// A time signature as the file states it: numerator and the power of two of the
// denominator, in force from its tick until the next one.
struct TimeSignature
{
    std::int64_t tick;
    int numerator;
    int denominatorPower;
};

// How a time signature is counted: compound metres (6/8, 9/8, 12/8) click on the
// dotted groups, the others on every denominator note. Nonsense signatures count as 4/4.
struct Meter
{
    std::int64_t beatNumerator;  // ticks per beat = beatNumerator / beatDenominator
    std::int64_t beatDenominator;
    int beatsPerBar;

    double BeatTicks() const
    {
        return static_cast<double>(beatNumerator) / static_cast<double>(beatDenominator);
    }
};
Meter MeterOf(int numerator, int denominatorPower, int ticksPerQuarter);
// The meter in force at tick (4/4 before the first signature).
Meter MeterAt(std::span<const TimeSignature> signatures, int ticksPerQuarter, std::int64_t tick);

struct Beat
{
    std::int64_t tick;
    bool barStart;

    friend bool operator==(const Beat&, const Beat&) = default;
};

// The beats with from <= tick < to, counted from tick 0 (and anew from every time
// signature), so they fall on the music's bars wherever playback starts.
std::vector<Beat> BeatsBetween(std::span<const TimeSignature> signatures, int ticksPerQuarter,
                               std::int64_t from, std::int64_t to);

}  // namespace vantor
