#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace vantor {

class Midifile;

// A key held on the player's keyboard, with the number of the press that put it down.
struct HeldKey
{
    int note = 0;
    std::uint64_t press = 0;
};

struct WaitVerdict
{
    bool takeStep = false;
    std::vector<int> wrongNotes;  // ascending
};

// Judges the held keys against the next step's notes. Only presses numbered after
// lastStep (the last press before the last step) count: every target must be held
// from such a press, and a key so pressed that is no target is wrong and holds the
// step back. Keys held from before (legato) are neither. No targets: nothing waits.
WaitVerdict JudgeWait(std::span<const int> targets, std::span<const HeldKey> held, std::uint64_t lastStep);

// The keys held on a player's keyboard, from its messages; the channel is not
// looked at, and a note-on of velocity 0 releases.
class HeldKeys
{
public:
    void Apply(int status, int note, int velocity);
    // Forgets every key, as if all were let go (a release lost with a device).
    void Clear() { keys_.clear(); }
    // The number of the latest press, 0 before any.
    std::uint64_t LastPress() const { return presses_; }
    std::span<const HeldKey> Keys() const { return keys_; }

private:
    std::vector<HeldKey> keys_;
    std::uint64_t presses_ = 0;
};

// Tells a sustain pedal going down (controller 64 from below 64 to 64 or more),
// channel by channel.
class PedalWatch
{
public:
    // Takes every message; true when this one puts the pedal down.
    bool PressedBy(int status, int controller, int value);

private:
    std::array<int, 16> values_{};
};

// The notes the next Step Forward from the reader's current event sounds as
// note-ons, in ascending order without repeats: the next note-on, or in Chord Mode
// every note-on up to the next release. The reader's position is put back.
std::vector<int> StepTargets(Midifile& reader, std::span<const std::int16_t> stepMap, bool chordMode);

}  // namespace vantor
