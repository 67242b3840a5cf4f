// smfdump FILE: prints what the reader makes of a Standard MIDI File, one line per
// event. The developer's window on the reader; the tests compare its output with
// reference dumps of real files.
#include <QString>
#include <cstdio>
#include <exception>

#include "song/Midifile.h"
#include "song/SmfDump.h"

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("usage: smfdump FILE\n", stderr);
        return 2;
    }
    vantor::Midifile song;
    song.SetFilePath(QString::fromLocal8Bit(argv[1]));
    try {
        song.SetFileAction(vantor::FileActionOpen);
        const QByteArray text = vantor::SmfDump(song);
        if (std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout) !=
                static_cast<std::size_t>(text.size()) ||
            std::fflush(stdout) != 0) {
            std::fputs("error: cannot write the dump\n", stderr);
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
