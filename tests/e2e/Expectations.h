#pragma once

#include <QImage>
#include <QRect>
#include <QRgb>
#include <QString>
#include <map>
#include <vector>

#include "JackPeer.h"

namespace vantor::e2e {

// ---- the on-screen keyboard as the user sees it (client-area pixels) ----

bool IsBlackKey(int note);
// The 9 x 9 indicator square of a key, notes 21..108.
QRect IndicatorRect(int note);
QString NoteName(int note);  // 60 -> "C4"
// The indicator colours, note by note, that differ from the key's resting colour.
using KeyColours = std::map<int, QRgb>;
// Every indicator of `client` (the window's client area) against `expected`; an
// empty answer when all 88 match, otherwise one line per wrong key.
QString IndicatorMismatch(const QImage& client, const KeyColours& expected);

// ---- MIDI bytes ----

Bytes Msg(int status, int data1, int data2);
QString Hex(const Bytes& message);

// What the peer must receive, in order: exact messages and Midi Reset blocks.
class Expected
{
public:
    Expected& Then(const Bytes& message);
    Expected& Then(const std::vector<Bytes>& messages);
    // Midi Reset: sustain off, a velocity-0 note-on of every note on the selected
    // track's channel (`noteStatus`), then sustain off and All Notes Off on each
    // of the 16 channels in any order.
    Expected& Reset(int noteStatus);

    std::size_t Size() const;
    // Empty when `got` is exactly what is expected; otherwise where it differs.
    QString Mismatch(const std::vector<Bytes>& got) const;

private:
    struct Segment
    {
        bool reset = false;
        int noteStatus = 0;
        std::vector<Bytes> messages;
    };
    std::vector<Segment> segments_;
};

}  // namespace vantor::e2e
