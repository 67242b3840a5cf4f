#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <deque>
#include <vector>

namespace vantor::test {

// One track of a Standard MIDI File under construction. Every call appends one
// event exactly as given: the writer never adds or drops status bytes, so tests
// can state running status and malformed bytes literally.
class SmfTrack
{
public:
    // bytes after the delta, as written (running status allowed)
    SmfTrack& Raw(std::uint32_t delta, std::vector<std::uint8_t> bytes);
    SmfTrack& NoteOn(std::uint32_t delta, int channel, int note, int velocity);
    SmfTrack& NoteOff(std::uint32_t delta, int channel, int note, int velocity = 64);  // status 0x8n
    SmfTrack& Control(std::uint32_t delta, int channel, int controller, int value);
    SmfTrack& Program(std::uint32_t delta, int channel, int program);
    SmfTrack& Meta(std::uint32_t delta, int type, const QByteArray& data);
    SmfTrack& Name(std::uint32_t delta, const QByteArray& name);               // meta type 3
    SmfTrack& Tempo(std::uint32_t delta, int microsecondsPerQuarter);          // meta 0x51
    SmfTrack& SysEx(std::uint32_t delta, int status, const QByteArray& data);  // F0 or F7, length added
    SmfTrack& EndOfTrack(std::uint32_t delta = 0);  // otherwise appended by Bytes()
    SmfTrack& WithoutEndOfTrack();                  // for malformed-file tests

    // The chunk body (events only, no MTrk header), End of Track added unless
    // written already or switched off.
    QByteArray Body() const;

private:
    QByteArray body_;
    bool hasEnd_ = false;
    bool omitEnd_ = false;
};

// A Standard MIDI File assembled from tracks, written to memory.
class SmfWriter
{
public:
    explicit SmfWriter(int format = 1, int division = 96);
    SmfTrack& AddTrack();
    QByteArray Bytes() const;  // MThd + one MTrk per track

    // Writes the bytes into dir under name and returns the full path.
    static QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes);

    // The variable-length quantity of the Standard MIDI File format.
    static QByteArray Vlq(std::uint32_t value);
    static QByteArray Be16(int value);
    static QByteArray Be32(std::uint32_t value);

private:
    int format_;
    int division_;
    std::deque<SmfTrack> tracks_;  // deque: references handed out stay valid
};

}  // namespace vantor::test
