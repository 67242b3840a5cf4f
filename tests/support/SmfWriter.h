#pragma once

#include <QTemporaryDir>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace vantor::test {

using Ticks = std::uint32_t;

// One track of a Standard MIDI File under construction. Every call appends one
// event exactly as given: the writer never adds or drops status bytes, so tests
// can state running status and malformed bytes literally. A temporary works too:
// SmfTrack().NoteOn(0, 0, 60, 90).Body().
class SmfTrack
{
public:
    SmfTrack& Raw(Ticks dt, const std::vector<std::uint8_t>& bytes);  // running status allowed
    SmfTrack& NoteOn(Ticks dt, int ch, int note, int vel) { return Channel(dt, 0x90 | ch, {note, vel}); }
    SmfTrack& NoteOff(Ticks dt, int ch, int note, int v = 64) { return Channel(dt, 0x80 | ch, {note, v}); }
    SmfTrack& Control(Ticks dt, int ch, int cc, int value) { return Channel(dt, 0xB0 | ch, {cc, value}); }
    SmfTrack& Program(Ticks dt, int ch, int program) { return Channel(dt, 0xC0 | ch, {program}); }
    SmfTrack& Meta(Ticks dt, int type, const QByteArray& data);
    SmfTrack& Name(Ticks dt, const QByteArray& name) { return Meta(dt, 0x03, name); }
    SmfTrack& Tempo(Ticks dt, int microsecondsPerQuarter);
    SmfTrack& WithoutEndOfTrack()
    {
        omitEnd_ = true;
        return *this;
    }

    // The chunk body (events only, no MTrk header).
    QByteArray Body() const { return hasEnd_ || omitEnd_ ? body_ : body_ + QByteArray("\0\xFF\x2F\0", 4); }

private:
    SmfTrack& Channel(Ticks dt, int status, std::initializer_list<int> data);

    QByteArray body_;
    bool hasEnd_ = false;
    bool omitEnd_ = false;
};

// A Standard MIDI File assembled from tracks, written to memory.
class SmfWriter
{
public:
    explicit SmfWriter(int format = 1, int division = 96) : format_(format), division_(division) {}
    SmfTrack& AddTrack() { return tracks_.emplace_back(); }
    QByteArray Bytes() const;  // MThd + one MTrk per track

    // Writes the bytes into dir under name and returns the full path.
    static QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);
    // The bytes as the reader's LoadFromMemory takes them (valid while bytes lives).
    static std::span<const std::uint8_t> Span(const QByteArray& bytes)
    {
        return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                static_cast<std::size_t>(bytes.size())};
    }

    static QByteArray Vlq(Ticks value);  // the variable-length quantity of the format
    static QByteArray Be16(int value) { return Be32(static_cast<std::uint32_t>(value)).mid(2); }
    static QByteArray Be32(std::uint32_t value);

private:
    int format_;
    int division_;
    std::deque<SmfTrack> tracks_;  // deque: references handed out stay valid
};

}  // namespace vantor::test
