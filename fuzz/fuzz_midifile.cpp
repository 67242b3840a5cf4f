// Loads arbitrary bytes as a MIDI file, then walks every event of every track
// through the reader's members, with and without a filter. Any crash, hang,
// leak or sanitizer report is a finding; so is a broken reader invariant.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "common/ComponentError.h"
#include "song/Midifile.h"
#include "song/SmfDump.h"

namespace {

void Check(bool condition)
{
    if (!condition) std::abort();
}

bool ValidStatus(int status)
{
    return (status >= 0x80 && status <= 0xEF) || status == 0xF0 || status == 0xF7 || status == 0xFF;
}

void Walk(vantor::Midifile& song)
{
    for (int t = 1; t <= song.TrackCount(); ++t) {
        song.SetCurrentTrack(t);
        Check(song.CurrentEvent() == 1);
        for (int e = 1; e <= song.EventCount(); ++e) {
            song.SetCurrentEvent(e);
            const int status = song.EventStatus();
            Check(ValidStatus(status) && !song.Filter(status));
            Check(song.EventData1() >= 0 && song.EventData1() <= 255);
            Check(song.EventData2() >= 0 && song.EventData2() <= 127);
            Check(song.EventDelta() >= 0);
            const QByteArray payload = song.EventBytes();
            const QString text = song.EventText();
            Check(status == 0xFF || text.isEmpty());
            Check(status >= 0xF0 || payload.isEmpty());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vantor::Midifile song;
    try {
        song.LoadFromMemory(std::span<const std::uint8_t>(data, size));
    } catch (const vantor::ComponentError&) {
        Check(song.TrackCount() == 0 && song.EventCount() == 0 && song.CurrentEvent() == 1);
        return 0;
    }
    Check(song.Division() > 0 && song.Tempo() > 0);
    Walk(song);
    song.SetFilter(192, true);
    song.SetFilter(0xFF, true);
    Walk(song);
    song.SetFilter(0xFF, false);
    Check(!vantor::SmfDump(song).isEmpty());
    return 0;
}
