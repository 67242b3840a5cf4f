#pragma once

#include <bitset>
#include <cstdint>
#include <span>
#include <vector>

#include "song/SmfMemory.h"

namespace vantor {

// One event of a track, kept small because a song may hold millions of them.
// Meta and system-exclusive payloads live in the song's pool: `payload` is the
// offset there of their 4-byte length, which the payload bytes follow.
struct SmfEvent
{
    std::uint32_t delta = 0;
    std::uint32_t payload = 0;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    std::uint8_t reserved = 0;
};
static_assert(sizeof(SmfEvent) == 12);

using SmfEventTable = std::vector<SmfEvent, SmfTableAllocator<SmfEvent>>;

struct SmfTrackEvents
{
    SmfEventTable events;
    std::bitset<256> statuses;  // which status bytes occur, so a filter can skip untouched tracks
};

// A parsed Standard MIDI File. Parsing never trusts a length, count or offset
// from the file; a malformed file throws ComponentError saying what and where.
struct SmfSong
{
    // Keeps every offset, and the payload pool with its length prefixes, within 32 bits.
    static constexpr std::size_t kLargestFile = std::size_t{1} << 30;

    std::vector<std::uint8_t> pool;  // meta and system-exclusive payloads, each after its length
    int format = 0;
    int declaredTracks = 0;
    int rawDivision = 0;  // the header's unsigned 16-bit value
    int division = 0;     // ticks per quarter note, or frames per second x ticks per frame
    int tempo = 500000;
    std::vector<SmfTrackEvents> tracks;

    static SmfSong Parse(std::span<const std::uint8_t> file);

    // The payload of a meta or system-exclusive event (empty for channel messages).
    std::span<const std::uint8_t> Payload(const SmfEvent& event) const;
};

// Reads a variable-length quantity of at most four bytes. Returns the number of
// bytes read, 0 when the quantity does not end before `end`, or 5 when it is longer than four bytes.
int ReadVlq(const std::uint8_t* at, const std::uint8_t* end, std::uint32_t& value);

}  // namespace vantor
