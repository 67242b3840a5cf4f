#include "midi/NoteTag.h"

#include <string>

#include "common/ComponentError.h"

namespace vantor {

namespace {
constexpr std::int32_t NoteBits = 0x7F;
constexpr std::int32_t OnFlag = 0x80;
constexpr int IndexShift = 8;
}  // namespace

std::int32_t PackNoteTag(std::int32_t eventIndex, int note, bool noteOn)
{
    if (eventIndex < 1 || eventIndex > MaxTaggedEvent) {
        throw ComponentError("Event " + std::to_string(eventIndex) +
                             " cannot be followed during playback (tracks of up to " +
                             std::to_string(MaxTaggedEvent) + " events are supported).");
    }
    if (note < 0 || note > NoteBits) {
        throw ComponentError("Note number " + std::to_string(note) + " is not a MIDI note (0 to 127).");
    }
    return (eventIndex << IndexShift) | note | (noteOn ? OnFlag : 0);
}

std::int32_t NoteTagStep(std::int32_t tag)
{
    // Bit 31 is never set by PackNoteTag; masking it keeps a foreign tag from
    // turning into a negative step.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(tag) >> IndexShift) & MaxTaggedEvent;
}

int NoteTagNote(std::int32_t tag)
{
    return tag & NoteBits;
}

bool NoteTagIsOn(std::int32_t tag)
{
    return (tag & OnFlag) != 0;
}

}  // namespace vantor
