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

// Due time of a queued message in whole milliseconds after the queue starts:
// the product is taken in double precision and floored, so 96 ticks at the
// single-precision 500/96 ms per tick are due at 500 ms, not 501.
double QueueDueTime(float msPerTick, std::int64_t totalTicks);

}  // namespace vantor
