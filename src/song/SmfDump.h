#pragma once

#include <QByteArray>

namespace vantor {

class Midifile;

// The loaded song as text, one line per event (the reference-dump format of the
// test data: header, track lines, TAB-separated events, escaped Latin-1 meta text).
// Moves the reader's current track and event.
QByteArray SmfDump(Midifile& song);

}  // namespace vantor
