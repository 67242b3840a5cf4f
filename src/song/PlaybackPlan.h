#pragma once

#include <cstdint>
#include <vector>

#include "song/TempoMap.h"

namespace vantor {

class Midifile;

// What Play is asked to do.
struct PlaybackRequest
{
    int start = 1;     // the position: the first event played
    int loopFrom = 0;  // the mark, when rounds from it up to the position are wanted
    int speedPercent = 100;
    bool accompaniment = false;
    bool metronome = false;
    bool countIn = false;
    float msPerTick = 0.0f;  // the file's first tempo
};

// One message for the output queue.
struct PlannedMessage
{
    double due;          // milliseconds after the queue starts (first round)
    std::int32_t event;  // index in the selected track; 0 for accompaniment and clicks
    std::uint8_t status;
    std::uint8_t data1;
    std::uint8_t data2;
};

struct PlaybackPlan
{
    std::vector<PlannedMessage> messages;  // in due order
    std::size_t loopFirst = 0;             // the first message of every round
    double loopPeriod = 0.0;               // milliseconds from one round to the next; 0: no loop
};

// Clicks: General MIDI percussion on channel 10.
inline constexpr int ClickChannel = 9;
inline constexpr int BarClickNote = 76;
inline constexpr int BeatClickNote = 77;
// A round shorter than this (a passage of simultaneous events) is stretched to it,
// so a loop never floods the output.
inline constexpr double ShortestRoundMs = 100.0;

// Due time of one message at a tempo-mapped elapsed time: the lead (count-in) plus
// the elapsed milliseconds, divided by the speed, whole milliseconds. At 100 % it is
// the floored product that playback has always used.
double DueAtSpeed(double leadMs, double elapsedMs, int speedPercent);

// The due time of message k in round r (rounds only repeat from loopFirst on).
double DueInRound(const PlaybackPlan& plan, std::size_t k, std::int64_t round);

// Plans playback of the reader's current track: its events from the request's
// start (or the loop's passage), the other tracks' channel messages when
// accompanied, the clicks, due times from the conductor's tempo map and the speed.
// Leaves the reader on its track and position.
PlaybackPlan PlanPlayback(Midifile& reader, const PlaybackRequest& request);

}  // namespace vantor
