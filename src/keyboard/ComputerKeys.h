#pragma once

#include <Qt>

namespace vantor {

// The computer keyboard as a piano: the bottom letter row from Z plays from a C
// upwards (Z S X D C V G B H N J M , L . ; /), the top row from Q an octave higher
// (Q 2 W 3 E R 5 T 6 Y 7 U I 9 O 0 P); minus and equals move both rows an octave.
inline constexpr int ComputerKeysLowestC = 24;   // C1
inline constexpr int ComputerKeysHighestC = 84;  // C6
inline constexpr int ComputerKeysStartC = 48;    // C3: middle C on Q

// The note a key plays with the bottom row starting at lowerC, or -1 for a key
// that plays none.
int ComputerKeyNote(int key, int lowerC);

// -1 or +1 for the keys that move the octave, else 0.
int ComputerKeyOctaveStep(int key);

// lowerC moved by a number of octaves, kept within the range above.
int ShiftedLowerC(int lowerC, int octaves);

}  // namespace vantor
