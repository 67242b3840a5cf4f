#include "song/SmfSong.h"

#include <QString>
#include <algorithm>
#include <cstring>

#include "common/ComponentError.h"

namespace vantor {

namespace {

constexpr int kDefaultTempo = 500000;
constexpr int kSmpteTempo = 1000000;  // with SMPTE Division, Tempo / 1000 / Division stays ms per tick
constexpr std::uint8_t kMeta = 0xFF;
constexpr std::uint8_t kEndOfTrack = 0x2F;
constexpr std::uint8_t kSetTempo = 0x51;

[[noreturn]] void Fail(const QString& what, std::size_t offset)
{
    throw ComponentError(QStringLiteral("%1 at byte %2").arg(what).arg(offset).toStdString());
}

[[noreturn]] void FailInTrack(const QString& what, int track, std::size_t offset)
{
    throw ComponentError(
        QStringLiteral("%1 in track %2 at byte %3").arg(what).arg(track).arg(offset).toStdString());
}

QString Hex(int value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

std::uint32_t Be32(const std::uint8_t* at)
{
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) | at[3];
}

std::uint32_t Le32(const std::uint8_t* at)
{
    return (std::uint32_t{at[3]} << 24) | (std::uint32_t{at[2]} << 16) | (std::uint32_t{at[1]} << 8) | at[0];
}

int Be16(const std::uint8_t* at)
{
    return (at[0] << 8) | at[1];
}

bool IsId(const std::uint8_t* at, const char (&id)[5])
{
    return std::equal(at, at + 4, id,
                      [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
}

// The region of a RIFF RMID wrapper that holds the Standard MIDI File.
struct Region
{
    std::size_t begin = 0;
    std::size_t end = 0;
};

Region UnwrapRiff(const std::uint8_t* data, std::size_t size)
{
    if (size < 12) Fail(QStringLiteral("RIFF file truncated"), size);
    if (!IsId(data + 8, "RMID")) Fail(QStringLiteral("RIFF file that is not RIFF MIDI (RMID)"), 8);
    const std::size_t riffEnd = std::min<std::size_t>(size, std::size_t{8} + Le32(data + 4));
    std::size_t at = 12;
    while (riffEnd >= 8 && at <= riffEnd - 8) {
        const std::size_t length = Le32(data + at + 4);
        const std::size_t body = at + 8;
        if (IsId(data + at, "data")) return {body, std::min(size, body + length)};
        at = body + length + (length & 1);  // RIFF chunks are padded to an even length
    }
    Fail(QStringLiteral("RIFF MIDI file without a \"data\" chunk"), std::min(at, size));
}

class TrackParser
{
public:
    TrackParser(const std::uint8_t* data, SmfSong& song, bool& tempoFound)
        : data_(data), song_(song), tempoFound_(tempoFound)
    {
    }

    // Parses the chunk body [start, declaredEnd) of a file whose MIDI data ends at
    // fileEnd. Returns true when the track ended with its End of Track event.
    bool Parse(int track, std::size_t start, std::uint64_t declaredEnd, std::size_t fileEnd,
               SmfTrackEvents& out)
    {
        track_ = track;
        cutByFile_ = declaredEnd > fileEnd;
        limit_ = cutByFile_ ? fileEnd : static_cast<std::size_t>(declaredEnd);
        SmfEventTable& events = out.events;
        events.reserve((limit_ - start) / 3 + 1);  // dense notes under running status take 3 bytes each

        const std::uint8_t* d = data_;
        std::size_t p = start;
        std::uint8_t running = 0;
        bool ended = false;
        while (!ended) {
            if (p == limit_) {
                if (cutByFile_) FailInTrack(QStringLiteral("MIDI file truncated"), track_, limit_);
                break;  // the chunk ended at its declared length without End of Track
            }
            const std::size_t eventStart = p;
            SmfEvent event;
            if (d[p] < 0x80) {
                event.delta = d[p++];
            } else {
                p = Vlq(p, event.delta, eventStart);
            }
            Need(p, 1, eventStart);
            std::uint8_t status = d[p];
            if (status < 0x80) {
                if (running == 0) FailInTrack(QStringLiteral("Data byte without a status byte"), track_, p);
                status = running;
            } else {
                ++p;
            }
            event.status = status;
            if (status < 0xF0) {
                running = status;
                const std::size_t count = (status & 0xE0) == 0xC0 ? 1 : 2;
                Need(p, count, eventStart);
                event.data1 = DataByte(p);
                if (count == 2) event.data2 = DataByte(p + 1);
                p += count;
            } else if (status == kMeta) {
                Need(p, 1, eventStart);
                event.data1 = d[p++];
                std::uint32_t length = 0;
                p = Vlq(p, length, eventStart);
                Need(p, length, eventStart);
                event.payload = Keep(p, length);
                if (event.data1 == kSetTempo) NoteTempo(p, length);
                p += length;
                ended = event.data1 == kEndOfTrack;
            } else if (status == 0xF0 || status == 0xF7) {
                std::uint32_t length = 0;
                p = Vlq(p, length, eventStart);
                Need(p, length, eventStart);
                event.payload = Keep(p, length);
                p += length;
            } else {
                FailInTrack(QStringLiteral("Status byte %1 has no place in a MIDI file").arg(Hex(status)),
                            track_, p - 1);
            }
            out.statuses.set(status);
            events.push_back(event);
        }
        // The reservation fits dense notes; pages past the end stay untouched, so
        // only a gross overestimate (events with long payloads) is worth a copy.
        if (events.capacity() - events.size() > events.size() / 2 + 16) events.shrink_to_fit();
        return ended;
    }

private:
    // Throws unless count more bytes of the event that began at eventStart lie before the limit.
    void Need(std::size_t at, std::size_t count, std::size_t eventStart) const
    {
        if (count <= limit_ - at) return;
        if (cutByFile_) FailInTrack(QStringLiteral("MIDI file truncated"), track_, limit_);
        FailInTrack(QStringLiteral("Event runs past the end of its track chunk"), track_, eventStart);
    }

    std::size_t Vlq(std::size_t at, std::uint32_t& value, std::size_t eventStart) const
    {
        const int length = ReadVlq(data_ + at, data_ + limit_, value);
        if (length == 0) Need(limit_, 1, eventStart);
        if (length > 4) FailInTrack(QStringLiteral("Variable-length number longer than 4 bytes"), track_, at);
        return at + static_cast<std::size_t>(length);
    }

    // Copies a payload into the pool and returns where it went.
    std::uint32_t Keep(std::size_t at, std::uint32_t length)
    {
        std::vector<std::uint8_t>& pool = song_.pool;
        const auto offset = static_cast<std::uint32_t>(pool.size());
        const auto* size = reinterpret_cast<const std::uint8_t*>(&length);
        pool.insert(pool.end(), size, size + sizeof length);
        pool.insert(pool.end(), data_ + at, data_ + at + length);
        return offset;
    }

    std::uint8_t DataByte(std::size_t at) const
    {
        const std::uint8_t value = data_[at];
        if (value >= 0x80) {
            FailInTrack(QStringLiteral("Status byte %1 where a data byte belongs").arg(Hex(value)), track_,
                        at);
        }
        return value;
    }

    void NoteTempo(std::size_t at, std::uint32_t length)
    {
        if (tempoFound_ || length < 3) return;
        const int tempo = (data_[at] << 16) | (data_[at + 1] << 8) | data_[at + 2];
        if (tempo == 0) return;  // a zero tempo would play the whole song at once
        tempoFound_ = true;
        if (song_.rawDivision < 0x8000) song_.tempo = tempo;
    }

    const std::uint8_t* data_;
    SmfSong& song_;
    bool& tempoFound_;
    int track_ = 0;
    bool cutByFile_ = false;
    std::size_t limit_ = 0;
};

}  // namespace

int ReadVlq(const std::uint8_t* at, const std::uint8_t* end, std::uint32_t& value)
{
    std::uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        if (at + i == end) return 0;
        const std::uint8_t byte = at[i];
        result = (result << 7) | (byte & 0x7F);
        if (byte < 0x80) {
            value = result;
            return i + 1;
        }
    }
    return 5;
}

SmfSong SmfSong::Parse(std::span<const std::uint8_t> file)
{
    SmfSong song;
    if (file.size() > kLargestFile) Fail(QStringLiteral("File too large to be a MIDI file"), kLargestFile);
    const std::uint8_t* data = file.data();
    const std::size_t size = file.size();

    Region region{0, size};
    if (size >= 4 && IsId(data, "RIFF")) region = UnwrapRiff(data, size);
    const std::size_t base = region.begin;
    const std::size_t end = region.end;

    if (end - base < 4 || !IsId(data + base, "MThd")) {
        Fail(QStringLiteral("Not a Standard MIDI File (no MThd header)"), base);
    }
    if (end - base < 8) Fail(QStringLiteral("MIDI file header truncated"), end);
    const std::uint32_t headerLength = Be32(data + base + 4);
    if (headerLength < 6)
        Fail(QStringLiteral("MIDI file header too short (%1 bytes)").arg(headerLength), base + 4);
    if (headerLength > end - base - 8) Fail(QStringLiteral("MIDI file header truncated"), end);
    song.format = Be16(data + base + 8);
    song.declaredTracks = Be16(data + base + 10);
    song.rawDivision = Be16(data + base + 12);
    if (song.rawDivision & 0x8000) {
        const int framesPerSecond = 256 - (song.rawDivision >> 8);
        song.division = framesPerSecond * (song.rawDivision & 0xFF);
        song.tempo = kSmpteTempo;
    } else {
        song.division = song.rawDivision;
        song.tempo = kDefaultTempo;
    }
    if (song.division == 0) Fail(QStringLiteral("MIDI file header gives a time division of 0"), base + 12);

    bool tempoFound = false;
    TrackParser parser(data, song, tempoFound);
    std::size_t at = base + 8 + headerLength;
    // A track chunk takes at least 8 bytes: the declared count alone may not size anything.
    song.tracks.reserve(std::min(static_cast<std::size_t>(song.declaredTracks), (end - at) / 8));
    // Chunks past the declared track count, and bytes too few to be a chunk, are ignored.
    while (static_cast<int>(song.tracks.size()) < song.declaredTracks && end - at >= 8) {
        const std::uint64_t bodyEnd = std::uint64_t{at} + 8 + Be32(data + at + 4);
        if (IsId(data + at, "MTrk")) {
            const int number = static_cast<int>(song.tracks.size()) + 1;
            parser.Parse(number, at + 8, bodyEnd, end, song.tracks.emplace_back());
        }
        if (bodyEnd >= end) break;
        at = static_cast<std::size_t>(bodyEnd);
    }
    // Loading what is there would show an empty or partial song as if it were whole.
    if (static_cast<int>(song.tracks.size()) < song.declaredTracks)
        throw ComponentError(QStringLiteral("MIDI file truncated: track %1 of %2 is missing")
                                 .arg(song.tracks.size() + 1)
                                 .arg(song.declaredTracks)
                                 .toStdString());
    return song;
}

std::span<const std::uint8_t> SmfSong::Payload(const SmfEvent& event) const
{
    if (event.status != 0xFF && event.status != 0xF0 && event.status != 0xF7) return {};
    std::uint32_t length = 0;
    std::memcpy(&length, pool.data() + event.payload, sizeof length);
    return {pool.data() + event.payload + sizeof length, length};
}

}  // namespace vantor
