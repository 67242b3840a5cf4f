#include "support/SmfWriter.h"

#include <QFile>
#include <stdexcept>

namespace vantor::test {

SmfTrack& SmfTrack::Raw(Ticks dt, const std::vector<std::uint8_t>& bytes)
{
    body_ += SmfWriter::Vlq(dt);
    body_.append(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    return *this;
}

SmfTrack& SmfTrack::Channel(Ticks dt, int status, std::initializer_list<int> data)
{
    body_ += SmfWriter::Vlq(dt) + static_cast<char>(status);
    for (const int d : data)
        body_ += static_cast<char>(d);
    return *this;
}

SmfTrack& SmfTrack::Meta(Ticks dt, int type, const QByteArray& data)
{
    body_ += SmfWriter::Vlq(dt) + '\xFF' + char(type) + SmfWriter::Vlq(Ticks(data.size())) + data;
    hasEnd_ = hasEnd_ || type == 0x2F;
    return *this;
}

SmfTrack& SmfTrack::Tempo(Ticks dt, int microsecondsPerQuarter)
{
    return Meta(dt, 0x51, SmfWriter::Be32(Ticks(microsecondsPerQuarter)).mid(1));
}

QByteArray SmfWriter::Bytes() const
{
    QByteArray out = "MThd" + Be32(6) + Be16(format_) + Be16(int(tracks_.size())) + Be16(division_);
    for (const SmfTrack& track : tracks_)
        out += "MTrk" + Be32(Ticks(track.Body().size())) + track.Body();
    return out;
}

QString SmfWriter::WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file " + path.toStdString());
    return path;
}

QByteArray SmfWriter::Vlq(Ticks value)
{
    QByteArray out(1, static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0)
        out.prepend(static_cast<char>((value & 0x7F) | 0x80));
    return out;
}

QByteArray SmfWriter::Be32(std::uint32_t value)
{
    QByteArray out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>(value >> shift);
    return out;
}

}  // namespace vantor::test
