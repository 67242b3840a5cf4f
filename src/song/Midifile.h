#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace vantor {

// Commands for SetFileAction.
enum FileActionCommand : int
{
    FileActionOpen = 1,
    FileActionClose = 5,
};

// The Standard MIDI File reader. Loads a whole file once into one event table per
// track and shows one event of one track at a time through its members. Members
// used against the contract throw ComponentError.
class Midifile
{
public:
    Midifile();
    ~Midifile();
    Midifile(const Midifile&) = delete;
    Midifile& operator=(const Midifile&) = delete;

    // FileActionOpen reads the file at FilePath(); FileActionClose drops the loaded song.
    void SetFileAction(int action);
    // Parses a file already in memory (what FileActionOpen does after reading the file).
    // A malformed file throws ComponentError saying what is wrong at which byte and
    // leaves no song loaded.
    void LoadFromMemory(std::span<const std::uint8_t> bytes);

    QString FilePath() const;
    void SetFilePath(const QString& path);

    int TrackCount() const;
    int Division() const;  // ticks per quarter note (SMPTE: frames per second x ticks per frame)
    int Tempo() const;     // microseconds per quarter note, one value for the whole file

    int CurrentTrack() const;
    void SetCurrentTrack(int track);  // 1..TrackCount(); puts CurrentEvent back to 1

    int EventCount() const;
    int CurrentEvent() const;
    void SetCurrentEvent(int index);            // 1..max(1, EventCount())
    void SetCurrentEvent(const QString& text);  // locale-aware number, rounded to the nearest index

    int EventStatus() const;  // running status resolved; 255 for a meta event
    int EventData1() const;   // note number; meta type for a meta event
    int EventData2() const;   // velocity; 0 where the message has no second data byte
    int EventDelta() const;   // ticks since the previous event of the track
    // A meta event's data as text: UTF-8 where the bytes are valid UTF-8, else
    // Latin-1, trailing NULs dropped. Empty for other events.
    QString EventText() const;

    // Events of exactly this status byte are left out of the event lists while on,
    // for the loaded song and every later one; a left-out event's delta goes to the
    // next event kept, so timing is unchanged.
    void SetFilter(int status, bool on);
    bool Filter(int status) const;

    // The file as written, for the developer's dump and for tests.
    int FileFormat() const;
    int HeaderTrackCount() const;     // as declared; TrackCount() counts the track chunks found
    int HeaderDivision() const;       // the raw unsigned 16-bit value (32768 and above: SMPTE)
    QByteArray EventBytes() const;    // payload of a meta or system-exclusive event, empty otherwise
    std::size_t MemoryBytes() const;  // memory held by the loaded song's tables and payloads

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantor
