#include "song/StepMap.h"

#include <string>

#include "common/ComponentError.h"
#include "song/Midifile.h"
#include "song/NoteKind.h"

namespace vantor {

namespace {

enum class NoteKind
{
    On,
    Off,
    Other
};

NoteKind KindAt(Midifile& reader, int index)
{
    reader.SetCurrentEvent(index);
    const int status = reader.EventStatus();
    // Only note messages need their velocity read.
    if ((status & 0xF0) == 0x80) return NoteKind::Off;
    if ((status & 0xF0) != 0x90) return NoteKind::Other;
    return IsNoteOn(status, reader.EventData2()) ? NoteKind::On : NoteKind::Off;
}

}  // namespace

void MarkStepMap(Midifile& reader, std::span<std::int16_t> map)
{
    const int count = reader.EventCount();
    if (map.size() != static_cast<std::size_t>(count) + 2) {
        throw ComponentError("The step map does not match the track's " + std::to_string(count) + " events");
    }
    int c = 1;
    bool atNoteOn = false;  // Follow stopped on a note-on that Search need not read again
    while (c < count) {
        // Search: the next note-on starts a chord.
        for (;;) {
            if (atNoteOn || KindAt(reader, c) == NoteKind::On) {
                map[c] = StepNoteOn;
                break;
            }
            if (c == count) break;
            ++c;
        }
        atNoteOn = false;
        // Follow: the first note event after it either extends the chord or ends it.
        while (c != count) {
            ++c;
            const NoteKind kind = KindAt(reader, c);
            if (kind == NoteKind::On) {
                map[c] = StepNoteOn;
                atNoteOn = true;
                break;
            }
            if (kind == NoteKind::Off) {
                map[c] = StepRelease;
                break;
            }
        }
    }
}

std::vector<std::int16_t> BuildStepMap(Midifile& reader)
{
    std::vector<std::int16_t> map(static_cast<std::size_t>(reader.EventCount()) + 2, 0);
    MarkStepMap(reader, map);
    return map;
}

int StepMapAt(std::span<const std::int16_t> map, std::int64_t position)
{
    if (position < 0 || static_cast<std::uint64_t>(position) >= map.size()) {
        throw ComponentError("Step " + std::to_string(position) + " lies outside the selected track");
    }
    return map[static_cast<std::size_t>(position)];
}

float ComputeMsPerTick(int tempo, int division)
{
    if (division == 0) throw ComponentError("The file's division is 0, so its timing is unknown");
    return static_cast<float>(static_cast<double>(tempo) / 1000.0 / static_cast<double>(division));
}

}  // namespace vantor
