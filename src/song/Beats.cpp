#include "song/Beats.h"

#include <algorithm>

namespace vantor {

namespace {

constexpr int LongestDenominatorPower = 6;  // 1/64 notes

std::int64_t BeatTick(std::int64_t segmentStart, const Meter& meter, std::int64_t n)
{
    // From the beat number, not by adding beat lengths: nothing drifts on odd divisions.
    return segmentStart + n * meter.beatNumerator / meter.beatDenominator;
}

}  // namespace

Meter MeterOf(int numerator, int denominatorPower, int ticksPerQuarter)
{
    const std::int64_t quarter = std::max(1, ticksPerQuarter);
    if (numerator < 1 || denominatorPower < 0 || denominatorPower > LongestDenominatorPower) {
        numerator = 4;
        denominatorPower = 2;
    }
    const bool compound = numerator > 3 && numerator % 3 == 0 && denominatorPower >= 3;
    const int group = compound ? 3 : 1;
    const std::int64_t denominator = std::int64_t{1} << denominatorPower;
    Meter meter{quarter * 4 * group, denominator, compound ? numerator / 3 : numerator};
    // A beat shorter than a tick cannot be clicked.
    if (meter.beatNumerator < meter.beatDenominator) return MeterOf(4, 2, ticksPerQuarter);
    return meter;
}

Meter MeterAt(std::span<const TimeSignature> signatures, int ticksPerQuarter, std::int64_t tick)
{
    Meter meter = MeterOf(4, 2, ticksPerQuarter);
    for (const TimeSignature& signature : signatures) {
        if (signature.tick > tick) break;
        meter = MeterOf(signature.numerator, signature.denominatorPower, ticksPerQuarter);
    }
    return meter;
}

std::vector<Beat> BeatsBetween(std::span<const TimeSignature> signatures, int ticksPerQuarter,
                               std::int64_t from, std::int64_t to)
{
    std::vector<Beat> beats;
    std::vector<TimeSignature> segments{{0, 4, 2}};
    for (const TimeSignature& signature : signatures) {
        if (signature.tick == segments.back().tick) {
            segments.back() = signature;
        } else {
            segments.push_back(signature);
        }
    }
    for (std::size_t s = 0; s < segments.size(); ++s) {
        const std::int64_t start = segments[s].tick;
        const std::int64_t end = s + 1 < segments.size() ? std::min(to, segments[s + 1].tick) : to;
        if (end <= from || start >= end) continue;
        const Meter meter = MeterOf(segments[s].numerator, segments[s].denominatorPower, ticksPerQuarter);
        std::int64_t n =
            std::max<std::int64_t>(0, (from - start) * meter.beatDenominator / meter.beatNumerator);
        while (n > 0 && BeatTick(start, meter, n - 1) >= from)
            --n;
        while (BeatTick(start, meter, n) < from)
            ++n;
        for (std::int64_t tick = BeatTick(start, meter, n); tick < end; tick = BeatTick(start, meter, ++n))
            beats.push_back({tick, n % meter.beatsPerBar == 0});
    }
    return beats;
}

}  // namespace vantor
