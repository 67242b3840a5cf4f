#include "song/SmfDump.h"

#include "song/Midifile.h"

namespace vantor {

namespace {

// Meta texts are shown as Latin-1 with control characters escaped, so every byte
// of the file shows and the line stays one line.
void AppendEscapedLatin1(QByteArray& out, const QByteArray& bytes)
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

void AppendField(QByteArray& out, int value)
{
    out += '\t';
    out += QByteArray::number(value);
}

}  // namespace

QByteArray SmfDump(Midifile& song)
{
    QByteArray out("header");
    AppendField(out, song.FileFormat());
    AppendField(out, song.HeaderTrackCount());
    AppendField(out, song.HeaderDivision());
    out += '\n';
    for (int t = 1; t <= song.TrackCount(); ++t) {
        song.SetCurrentTrack(t);
        const QByteArray track = QByteArray::number(t);
        out += "track\t" + track + '\n';
        for (int e = 1; e <= song.EventCount(); ++e) {
            song.SetCurrentEvent(e);
            const int status = song.EventStatus();
            const int data1 = song.EventData1();
            out += track;
            AppendField(out, e);
            AppendField(out, song.EventDelta());
            AppendField(out, status);
            AppendField(out, data1);  // the reader gives 0 for system exclusive
            AppendField(out, song.EventData2());
            if (status == 0xFF && data1 >= 1 && data1 <= 7) {
                out += '\t';
                AppendEscapedLatin1(out, song.EventBytes());
            }
            out += '\n';
        }
    }
    return out;
}

}  // namespace vantor
