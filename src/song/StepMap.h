#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vantor {

class Midifile;

// Step map entries.
inline constexpr int StepNoteOn = 2;
inline constexpr int StepRelease = 1;

// Marks every event of the reader's current track for stepping: StepNoteOn (2) for
// a note-on, StepRelease (1) for the first note-off after a note-on, 0 otherwise.
// The result has indices 0..EventCount+1; the two ends are always 0. Moves the
// reader's CurrentEvent.
std::vector<std::int16_t> BuildStepMap(Midifile& reader);

// The marking pass over an all-zero map of EventCount+2 entries.
void MarkStepMap(Midifile& reader, std::span<std::int16_t> map);

// Reads one entry with a bounds check: a position outside the map is a fault of
// the caller, never undefined behaviour.
int StepMapAt(std::span<const std::int16_t> map, std::int64_t position);

// Milliseconds per tick for one tempo (microseconds per quarter note) and division
// (ticks per quarter note), worked out in double and kept in single precision.
float ComputeMsPerTick(int tempo, int division);

}  // namespace vantor
