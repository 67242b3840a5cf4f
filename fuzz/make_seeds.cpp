// Writes the fuzzer's seed corpus: small files that reach every kind of event,
// header and chunk the reader knows, so mutations start close to each branch.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <utility>
#include <vector>

#include "support/SmfWriter.h"

using vantor::test::SmfWriter;

namespace {

QByteArray Le32(std::uint32_t v)
{
    QByteArray out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

std::vector<std::pair<const char*, QByteArray>> Seeds()
{
    std::vector<std::pair<const char*, QByteArray>> seeds;
    {
        SmfWriter w(1, 96);
        w.AddTrack().Name(0, "Conductor").Tempo(0, 500000).Meta(0, 0x58, QByteArray("\x04\x02\x18\x08", 4));
        w.AddTrack()
            .Name(0, "Piano \xC3\xA9")
            .Program(0, 0, 5)
            .NoteOn(0, 0, 60, 100)
            .Raw(48, {64, 90})
            .Raw(48, {60, 0})
            .NoteOff(0, 0, 64)
            .Control(0, 0, 64, 127)
            .Raw(0, {0xE0, 0x00, 0x40})
            .Raw(0, {0xD0, 0x30})
            .Raw(0, {0xA0, 60, 10});
        seeds.emplace_back("format1.mid", w.Bytes());
    }
    {
        SmfWriter w(0, 0xE728);
        w.AddTrack()
            .Raw(0, {0xF0, 4, 0x7E, 0x7F, 0x09, 0x01})
            .Raw(10, {0xF7, 1, 0xF7})
            .Meta(0, 0x01, QByteArray("Latin \xE9\0", 8))
            .NoteOn(0, 9, 36, 1);
        seeds.emplace_back("smpte_sysex.mid", w.Bytes());
    }
    {
        SmfWriter w(1, 480);
        w.AddTrack().NoteOn(0x0FFFFFFF, 1, 21, 1).WithoutEndOfTrack();
        w.AddTrack();
        seeds.emplace_back("no_end_of_track.mid", w.Bytes());
    }
    {
        SmfWriter w(0, 96);
        w.AddTrack().NoteOn(0, 0, 60, 1);
        const QByteArray smf = w.Bytes();
        const QByteArray body =
            QByteArray("RMID") + "data" + Le32(static_cast<std::uint32_t>(smf.size())) + smf;
        seeds.emplace_back("wrapped.rmi",
                           QByteArray("RIFF") + Le32(static_cast<std::uint32_t>(body.size())) + body);
    }
    {
        SmfWriter w(2, 96);
        w.AddTrack().Tempo(0, 250000).NoteOn(0, 0, 60, 1);
        QByteArray bytes = w.Bytes();
        bytes.insert(14, QByteArray("XFIH\0\0\0\3abc", 11));  // an unknown chunk before the track
        seeds.emplace_back("unknown_chunk.mid", bytes);
    }
    return seeds;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: make_seeds FOLDER\n", stderr);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    for (const auto& [name, bytes] : Seeds()) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}
