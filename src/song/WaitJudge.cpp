#include "song/WaitJudge.h"

#include <algorithm>

#include "song/Midifile.h"
#include "song/NoteKind.h"
#include "song/StepMap.h"

namespace vantor {

WaitVerdict JudgeWait(std::span<const int> targets, std::span<const HeldKey> held, std::uint64_t lastStep)
{
    WaitVerdict verdict;
    if (targets.empty()) return verdict;
    const auto fresh = [lastStep](const HeldKey& key) { return key.press > lastStep; };
    for (const HeldKey& key : held) {
        if (fresh(key) && std::find(targets.begin(), targets.end(), key.note) == targets.end())
            verdict.wrongNotes.push_back(key.note);
    }
    std::sort(verdict.wrongNotes.begin(), verdict.wrongNotes.end());
    verdict.takeStep =
        verdict.wrongNotes.empty() && std::all_of(targets.begin(), targets.end(), [&](int note) {
            return std::any_of(held.begin(), held.end(),
                               [&](const HeldKey& key) { return key.note == note && fresh(key); });
        });
    return verdict;
}

void HeldKeys::Apply(int status, int note, int velocity)
{
    const bool press = IsNoteOn(status, velocity);
    if (!press && !IsNoteOff(status, velocity)) return;
    std::erase_if(keys_, [note](const HeldKey& key) { return key.note == note; });
    // A second press without a release in between counts as a new press.
    if (press) keys_.push_back({note, ++presses_});
}

bool PedalWatch::PressedBy(int status, int controller, int value)
{
    constexpr int SustainPedal = 64;
    if ((status & 0xF0) != 0xB0 || controller != SustainPedal) return false;
    int& before = values_[static_cast<std::size_t>(status & 0x0F)];
    const bool down = before < 64 && value >= 64;
    before = value;
    return down;
}

std::vector<int> StepTargets(Midifile& reader, std::span<const std::int16_t> stepMap, bool chordMode)
{
    const int start = reader.CurrentEvent();
    const int count = reader.EventCount();
    std::vector<int> notes;
    const auto take = [&](int event) {
        reader.SetCurrentEvent(event);
        if (IsNoteOn(reader.EventStatus(), reader.EventData2())) notes.push_back(reader.EventData1());
    };
    // The same walks as Step Forward's, reading instead of sounding.
    if (chordMode) {
        for (int event = start; event < count;) {
            take(event);
            if (StepMapAt(stepMap, ++event) == StepRelease) break;
        }
    } else {
        for (int event = start; event < count;) {
            take(++event);
            if (StepMapAt(stepMap, event) == StepNoteOn) break;
        }
    }
    reader.SetCurrentEvent(start);
    std::sort(notes.begin(), notes.end());
    notes.erase(std::unique(notes.begin(), notes.end()), notes.end());
    return notes;
}

}  // namespace vantor
