#include "song/PlaybackPlan.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/ComponentError.h"
#include "song/Midifile.h"
#include "song/NoteKind.h"

namespace vantor {

namespace {

// While the plan is built, a message's due field holds its tick (exact in a double
// far beyond any file): one table, worked into times in place at the end.
using Timed = PlannedMessage;

Timed Message(std::int64_t tick, std::int32_t event, int status, int data1, int data2)
{
    return {static_cast<double>(tick), event, static_cast<std::uint8_t>(status),
            static_cast<std::uint8_t>(data1 & 0x7F), static_cast<std::uint8_t>(data2 & 0x7F)};
}

bool ByTick(const Timed& a, const Timed& b)
{
    return a.due < b.due;
}

constexpr std::uint8_t ClickOn = 0x90 | ClickChannel;
constexpr std::uint8_t ClickOff = 0x80 | ClickChannel;
constexpr int BarClickVelocity = 110;
constexpr int BeatClickVelocity = 80;

// The other tracks' channel messages from base to end; a format 1 file's first
// track only when it holds notes (it is usually the conductor alone).
void AddAccompaniment(Midifile& reader, int selected, std::int64_t base, std::int64_t end,
                      std::vector<Timed>& out, std::vector<std::size_t>& runs)
{
    for (int track = 1; track <= reader.TrackCount(); ++track) {
        if (track == selected) continue;
        reader.SetCurrentTrack(track);
        const std::size_t first = out.size();
        bool notes = false;
        std::int64_t tick = 0;
        const int count = reader.EventCount();
        for (int i = 1; i <= count; ++i) {
            reader.SetCurrentEvent(i);
            tick += reader.EventDelta();
            if (tick > end) break;
            const int status = reader.EventStatus();
            if (tick < base || status >= 0xF0) continue;
            const int data2 = reader.EventData2();
            notes = notes || IsNoteOn(status, data2);
            out.push_back(Message(tick, 0, status, reader.EventData1(), data2));
        }
        if (track == 1 && reader.FileFormat() == 1 && !notes) out.resize(first);
        if (out.size() > first) runs.push_back(out.size());
    }
}

void AddClicks(const Conductor& conductor, std::int64_t base, std::int64_t end, std::vector<Timed>& out)
{
    const std::size_t first = out.size();
    for (const Beat& beat : BeatsBetween(conductor.meter, conductor.ticksPerQuarter, base, end)) {
        const double beatTicks = MeterAt(conductor.meter, conductor.ticksPerQuarter, beat.tick).BeatTicks();
        const std::int64_t off = std::min(end, beat.tick + static_cast<std::int64_t>(beatTicks / 2));
        const int note = beat.barStart ? BarClickNote : BeatClickNote;
        out.push_back(
            Message(beat.tick, 0, ClickOn, note, beat.barStart ? BarClickVelocity : BeatClickVelocity));
        out.push_back(Message(off, 0, ClickOff, note, 0));
    }
    // A signature change inside a beat may bring the next click before this one's end.
    std::stable_sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(), ByTick);
}

// Note-offs for every note of the tracks still sounding at the end of a round.
void EndHangingNotes(std::size_t from, std::int64_t end, std::int32_t lastEvent, std::vector<Timed>& out)
{
    std::array<std::array<std::array<int, 128>, 16>, 2> sounding{};
    for (std::size_t k = from; k < out.size(); ++k) {
        const Timed& m = out[k];
        if (m.status == ClickOn || m.status == ClickOff) continue;
        int& count = sounding[m.event > 0 ? 0 : 1][m.status & 0x0F][m.data1];
        if (IsNoteOn(m.status, m.data2)) ++count;
        if (IsNoteOff(m.status, m.data2) && count > 0) --count;
    }
    for (int source = 0; source < 2; ++source)
        for (int channel = 0; channel < 16; ++channel)
            for (int note = 0; note < 128; ++note)
                if (sounding[source][channel][note] > 0)
                    out.push_back(Message(end, source == 0 ? lastEvent : 0, 0x80 | channel, note, 0));
}

// Merges the sorted runs [from, runs[0]), [runs[0], runs[1]), ...; equal ticks
// keep the runs' order (the selected track first).
void MergeRuns(std::vector<Timed>& all, std::size_t from, std::vector<std::size_t> runs)
{
    while (runs.size() > 1) {
        std::vector<std::size_t> merged;
        std::size_t begin = from;
        for (std::size_t r = 0; r < runs.size(); r += 2) {
            if (r + 1 < runs.size()) {
                std::inplace_merge(all.begin() + static_cast<std::ptrdiff_t>(begin),
                                   all.begin() + static_cast<std::ptrdiff_t>(runs[r]),
                                   all.begin() + static_cast<std::ptrdiff_t>(runs[r + 1]), ByTick);
                begin = runs[r + 1];
                merged.push_back(runs[r + 1]);
            } else {
                merged.push_back(runs[r]);
            }
        }
        runs = std::move(merged);
    }
}

}  // namespace

double DueAtSpeed(double leadMs, double elapsedMs, int speedPercent)
{
    return std::floor((leadMs + elapsedMs) / (speedPercent / 100.0));
}

double DueInRound(const PlaybackPlan& plan, std::size_t k, std::int64_t round)
{
    const double due = plan.messages.at(k).due;
    if (plan.loopPeriod <= 0.0 || k < plan.loopFirst) return due;
    return due + static_cast<double>(round) * plan.loopPeriod;
}

PlaybackPlan PlanPlayback(Midifile& reader, const PlaybackRequest& request)
{
    const int track = reader.CurrentTrack();
    const int position = reader.CurrentEvent();
    const int count = reader.EventCount();
    if (request.start < 1 || request.start > std::max(1, count))
        throw ComponentError("Playback cannot start outside the track");
    if (request.speedPercent <= 0) throw ComponentError("The playback speed must be above 0 %");
    const bool loop = request.loopFrom >= 1 && request.loopFrom < request.start;
    const int first = loop ? request.loopFrom : request.start;
    const int last = loop ? request.start - 1 : count;

    const Conductor conductor = ReadConductor(reader, track, request.msPerTick);
    const double speed = request.speedPercent / 100.0;
    PlaybackPlan plan;
    std::vector<Timed>& messages = plan.messages;
    std::size_t size = static_cast<std::size_t>(std::max(0, last - first + 1));
    for (int other = 1; request.accompaniment && other <= reader.TrackCount(); ++other) {
        reader.SetCurrentTrack(other);
        if (other != track) size += static_cast<std::size_t>(reader.EventCount());
    }
    reader.SetCurrentTrack(track);
    messages.reserve(size);

    std::int64_t tick = 0;
    for (int i = 1; i < first; ++i) {
        reader.SetCurrentEvent(i);
        tick += reader.EventDelta();
    }
    // Times count from the event before the first: the first event's own delta counts.
    const std::int64_t base = tick;
    double lead = 0.0;
    if (request.countIn) {
        const Meter meter = MeterAt(conductor.meter, conductor.ticksPerQuarter, base);
        const double beatMs = meter.BeatTicks() * static_cast<double>(conductor.tempo.MsPerTickAt(base));
        for (int k = 0; k < meter.beatsPerBar; ++k) {
            const int note = k == 0 ? BarClickNote : BeatClickNote;
            const auto velocity = static_cast<std::uint8_t>(k == 0 ? BarClickVelocity : BeatClickVelocity);
            messages.push_back(
                {std::floor(k * beatMs / speed), 0, ClickOn, static_cast<std::uint8_t>(note), velocity});
            messages.push_back(
                {std::floor((k + 0.5) * beatMs / speed), 0, ClickOff, static_cast<std::uint8_t>(note), 0});
        }
        lead = meter.beatsPerBar * beatMs;
    }
    plan.loopFirst = messages.size();

    for (int i = first; i <= last; ++i) {
        reader.SetCurrentEvent(i);
        tick += reader.EventDelta();
        messages.push_back(Message(tick, i, reader.EventStatus(), reader.EventData1(), reader.EventData2()));
    }
    const std::int64_t end = tick;

    std::vector<std::size_t> runs{messages.size()};
    if (request.accompaniment) AddAccompaniment(reader, track, base, end, messages, runs);
    if (request.metronome) {
        AddClicks(conductor, base, end, messages);
        if (messages.size() > runs.back()) runs.push_back(messages.size());
    }
    MergeRuns(messages, plan.loopFirst, runs);
    if (loop) EndHangingNotes(plan.loopFirst, end, last, messages);

    for (std::size_t k = plan.loopFirst; k < messages.size(); ++k) {
        const auto at = static_cast<std::int64_t>(messages[k].due);
        messages[k].due = DueAtSpeed(lead, conductor.tempo.Elapsed(base, at), request.speedPercent);
    }
    if (loop) plan.loopPeriod = std::max(conductor.tempo.Elapsed(base, end), ShortestRoundMs) / speed;

    reader.SetCurrentTrack(track);
    reader.SetCurrentEvent(position);
    return plan;
}

}  // namespace vantor
