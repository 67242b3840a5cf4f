#include "support/SmfWriter.h"

#include <QFile>
#include <stdexcept>

namespace vantor::test {

namespace {

char Byte(int value)
{
    return static_cast<char>(static_cast<std::uint8_t>(value));
}

}  // namespace

SmfTrack& SmfTrack::Raw(std::uint32_t delta, std::vector<std::uint8_t> bytes)
{
    body_ += SmfWriter::Vlq(delta);
    for (const std::uint8_t b : bytes)
        body_ += static_cast<char>(b);
    return *this;
}

SmfTrack& SmfTrack::NoteOn(std::uint32_t delta, int channel, int note, int velocity)
{
    return Raw(delta, {static_cast<std::uint8_t>(0x90 | (channel & 0x0F)), static_cast<std::uint8_t>(note),
                       static_cast<std::uint8_t>(velocity)});
}

SmfTrack& SmfTrack::NoteOff(std::uint32_t delta, int channel, int note, int velocity)
{
    return Raw(delta, {static_cast<std::uint8_t>(0x80 | (channel & 0x0F)), static_cast<std::uint8_t>(note),
                       static_cast<std::uint8_t>(velocity)});
}

SmfTrack& SmfTrack::Control(std::uint32_t delta, int channel, int controller, int value)
{
    return Raw(delta, {static_cast<std::uint8_t>(0xB0 | (channel & 0x0F)),
                       static_cast<std::uint8_t>(controller), static_cast<std::uint8_t>(value)});
}

SmfTrack& SmfTrack::Program(std::uint32_t delta, int channel, int program)
{
    return Raw(delta,
               {static_cast<std::uint8_t>(0xC0 | (channel & 0x0F)), static_cast<std::uint8_t>(program)});
}

SmfTrack& SmfTrack::Meta(std::uint32_t delta, int type, const QByteArray& data)
{
    body_ += SmfWriter::Vlq(delta);
    body_ += Byte(0xFF);
    body_ += Byte(type);
    body_ += SmfWriter::Vlq(static_cast<std::uint32_t>(data.size()));
    body_ += data;
    if (type == 0x2F) hasEnd_ = true;
    return *this;
}

SmfTrack& SmfTrack::Name(std::uint32_t delta, const QByteArray& name)
{
    return Meta(delta, 0x03, name);
}

SmfTrack& SmfTrack::Tempo(std::uint32_t delta, int microsecondsPerQuarter)
{
    QByteArray data;
    data += Byte(microsecondsPerQuarter >> 16);
    data += Byte(microsecondsPerQuarter >> 8);
    data += Byte(microsecondsPerQuarter);
    return Meta(delta, 0x51, data);
}

SmfTrack& SmfTrack::SysEx(std::uint32_t delta, int status, const QByteArray& data)
{
    body_ += SmfWriter::Vlq(delta);
    body_ += Byte(status);
    body_ += SmfWriter::Vlq(static_cast<std::uint32_t>(data.size()));
    body_ += data;
    return *this;
}

SmfTrack& SmfTrack::EndOfTrack(std::uint32_t delta)
{
    return Meta(delta, 0x2F, {});
}

SmfTrack& SmfTrack::WithoutEndOfTrack()
{
    omitEnd_ = true;
    return *this;
}

QByteArray SmfTrack::Body() const
{
    QByteArray body = body_;
    if (!hasEnd_ && !omitEnd_) {
        body += SmfWriter::Vlq(0);
        body += Byte(0xFF);
        body += Byte(0x2F);
        body += Byte(0x00);
    }
    return body;
}

SmfWriter::SmfWriter(int format, int division) : format_(format), division_(division) {}

SmfTrack& SmfWriter::AddTrack()
{
    return tracks_.emplace_back();
}

QByteArray SmfWriter::Bytes() const
{
    QByteArray out("MThd");
    out += Be32(6);
    out += Be16(format_);
    out += Be16(static_cast<int>(tracks_.size()));
    out += Be16(division_);
    for (const SmfTrack& track : tracks_) {
        const QByteArray body = track.Body();
        out += "MTrk";
        out += Be32(static_cast<std::uint32_t>(body.size()));
        out += body;
    }
    return out;
}

QString SmfWriter::WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        throw std::runtime_error("cannot write test file " + path.toStdString());
    }
    return path;
}

QByteArray SmfWriter::Vlq(std::uint32_t value)
{
    QByteArray out;
    out += Byte(value & 0x7F);
    while ((value >>= 7) != 0)
        out.prepend(Byte((value & 0x7F) | 0x80));
    return out;
}

QByteArray SmfWriter::Be16(int value)
{
    QByteArray out;
    out += Byte(value >> 8);
    out += Byte(value);
    return out;
}

QByteArray SmfWriter::Be32(std::uint32_t value)
{
    QByteArray out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += Byte(static_cast<int>(value >> shift));
    return out;
}

}  // namespace vantor::test
