#pragma once

namespace vantor {

// The one rule every part of the program uses to tell notes apart. The channel
// nibble is never looked at.
constexpr bool IsNoteOn(int status, int velocity)
{
    return (status & 0xF0) == 0x90 && velocity != 0;
}

constexpr bool IsNoteOff(int status, int velocity)
{
    return (status & 0xF0) == 0x80 || ((status & 0xF0) == 0x90 && velocity == 0);
}

// Notes that have a key on the 88-key keyboard (A0 to C8).
inline constexpr int LowestKeyNote = 21;
inline constexpr int HighestKeyNote = 108;

constexpr bool HasKey(int note)
{
    return note >= LowestKeyNote && note <= HighestKeyNote;
}

}  // namespace vantor
