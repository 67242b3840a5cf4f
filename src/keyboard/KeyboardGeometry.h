#pragma once

#include <QRect>
#include <array>

namespace vantor {

// The keyboard's layout in the main window's client area, in logical pixels.
namespace keyboard_geometry {

inline constexpr int LowestNote = 21;    // A0
inline constexpr int HighestNote = 108;  // C8
inline constexpr int KeyCount = HighestNote - LowestNote + 1;
inline constexpr int WhiteKeyCount = 52;

inline constexpr int KeyTop = 98;
inline constexpr int WhiteKeyWidth = 17;
inline constexpr int WhiteKeyHeight = 73;
inline constexpr int WhiteKeyPitch = 16;  // neighbours share their outline column
inline constexpr int BlackKeyWidth = 9;
inline constexpr int BlackKeyHeight = 49;
inline constexpr int IndicatorSize = 9;
inline constexpr int WhiteIndicatorTop = 158;
inline constexpr int BlackIndicatorTop = 138;
inline constexpr int KeyboardLeft = 16;

inline constexpr int StripTop = 96;
inline constexpr int StripHeight = 3;
inline constexpr int StripLeft = 16;
inline constexpr int StripRight = 848;  // inclusive
inline constexpr int TickWidth = 3;
// One pixel left of each C from C1 to C8.
inline constexpr std::array<int, 8> TickLefts{47, 159, 271, 383, 495, 607, 719, 831};

constexpr bool IsValidNote(int note)
{
    return note >= LowestNote && note <= HighestNote;
}

constexpr bool IsBlackNote(int note)
{
    switch (note % 12) {
        case 1:
        case 3:
        case 6:
        case 8:
        case 10:
            return true;
        default:
            return false;
    }
}

// White keys from A0 up to and including this note (for a black key: those below it).
constexpr int WhiteKeysThrough(int note)
{
    int count = 0;
    for (int n = LowestNote; n <= note; ++n) {
        if (!IsBlackNote(n)) ++count;
    }
    return count;
}

// How far a black key sits right of the white key just below it, by pitch class.
constexpr int BlackKeyOffset(int note)
{
    switch (note % 12) {
        case 1:
            return 11;
        case 3:
            return 13;
        case 6:
            return 10;
        case 8:
            return 12;
        case 10:
            return 14;
        default:
            return 0;
    }
}

// Key face of a valid note.
constexpr QRect KeyRect(int note)
{
    const int whiteBelow =
        WhiteKeysThrough(note) - 1;  // the white key itself, or the one left of a black key
    const int whiteX = KeyboardLeft + WhiteKeyPitch * whiteBelow;
    if (IsBlackNote(note)) return QRect(whiteX + BlackKeyOffset(note), KeyTop, BlackKeyWidth, BlackKeyHeight);
    return QRect(whiteX, KeyTop, WhiteKeyWidth, WhiteKeyHeight);
}

// Indicator square of a valid note.
constexpr QRect IndicatorRect(int note)
{
    const QRect key = KeyRect(note);
    if (IsBlackNote(note)) return QRect(key.x(), BlackIndicatorTop, IndicatorSize, IndicatorSize);
    return QRect(key.x() + 4, WhiteIndicatorTop, IndicatorSize, IndicatorSize);
}

constexpr QRect StripRect()
{
    return QRect(StripLeft, StripTop, StripRight - StripLeft + 1, StripHeight);
}

}  // namespace keyboard_geometry
}  // namespace vantor
