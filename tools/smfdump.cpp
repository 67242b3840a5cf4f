// smfdump FILE: prints what the reader makes of a Standard MIDI File, one line per
// event, in the reference-dump format of the test data (see tests/song).
#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <cstdio>
#include <exception>
#include <string>

#include "song/Midifile.h"

namespace {

// Meta texts in the dump are Latin-1 with control characters escaped, so every
// byte of the file shows and the line stays one line.
void AppendEscapedLatin1(std::string& out, const QByteArray& bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
            case '\\':
                out += "\\\\";
                continue;
            case '\t':
                out += "\\t";
                continue;
            case '\n':
                out += "\\n";
                continue;
            case '\r':
                out += "\\r";
                continue;
            default:
                break;
        }
        if (byte < 0x20 || (byte >= 0x7F && byte <= 0x9F)) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else if (byte < 0x80) {
            out += static_cast<char>(byte);
        } else {  // Latin-1 to UTF-8
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
}

std::string Dump(vantor::Midifile& song)
{
    std::string out;
    out += "header\t" + std::to_string(song.FileFormat()) + '\t' + std::to_string(song.HeaderTrackCount()) +
           '\t' + std::to_string(song.HeaderDivision()) + '\n';
    for (int t = 1; t <= song.TrackCount(); ++t) {
        song.SetCurrentTrack(t);
        const std::string track = std::to_string(t);
        out += "track\t" + track + '\n';
        for (int e = 1; e <= song.EventCount(); ++e) {
            song.SetCurrentEvent(e);
            const int status = song.EventStatus();
            const int data1 = song.EventData1();
            out += track + '\t' + std::to_string(e) + '\t' + std::to_string(song.EventDelta()) + '\t' +
                   std::to_string(status) + '\t' +
                   std::to_string(status == 0xF0 || status == 0xF7 ? 0 : data1) + '\t' +
                   std::to_string(song.EventData2());
            if (status == 0xFF && data1 >= 1 && data1 <= 7) {
                out += '\t';
                AppendEscapedLatin1(out, song.EventBytes());
            }
            out += '\n';
        }
    }
    return out;
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: smfdump FILE\n", stderr);
        return 2;
    }
    vantor::Midifile song;
    song.SetFilePath(QString::fromLocal8Bit(argv[1]));
    try {
        song.SetFileAction(vantor::FileActionOpen);
        const std::string text = Dump(song);
        std::fwrite(text.data(), 1, text.size(), stdout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
