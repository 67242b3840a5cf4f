#pragma once

#include <cstdint>

namespace vantor {

// The tag that playback attaches to each queued note message, reported back by
// the output port when the message is sent: bits 0-6 the note, bit 7 set for a
// note-on, bits 8-30 the 1-based event index. Tag 0 means no tag.
inline constexpr std::int32_t MaxTaggedEvent = 8'388'607;
inline constexpr std::int32_t NoTag = 0;

// Throws ComponentError for an event index outside 1..MaxTaggedEvent or a note
// outside 0..127: a wrapped tag would point the display at the wrong event.
std::int32_t PackNoteTag(std::int32_t eventIndex, int note, bool noteOn);

// The event index the tag carries (0 for no tag).
std::int32_t NoteTagStep(std::int32_t tag);
int NoteTagNote(std::int32_t tag);
bool NoteTagIsOn(std::int32_t tag);

}  // namespace vantor
