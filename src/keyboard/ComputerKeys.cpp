#include "keyboard/ComputerKeys.h"

#include <algorithm>
#include <array>
#include <utility>

namespace vantor {

namespace {

// Semitones above the bottom row's C.
constexpr std::array<std::pair<int, int>, 34> KeyOffsets{{
    {Qt::Key_Z, 0},          {Qt::Key_S, 1},      {Qt::Key_X, 2},      {Qt::Key_D, 3},  {Qt::Key_C, 4},
    {Qt::Key_V, 5},          {Qt::Key_G, 6},      {Qt::Key_B, 7},      {Qt::Key_H, 8},  {Qt::Key_N, 9},
    {Qt::Key_J, 10},         {Qt::Key_M, 11},     {Qt::Key_Comma, 12}, {Qt::Key_L, 13}, {Qt::Key_Period, 14},
    {Qt::Key_Semicolon, 15}, {Qt::Key_Slash, 16}, {Qt::Key_Q, 12},     {Qt::Key_2, 13}, {Qt::Key_W, 14},
    {Qt::Key_3, 15},         {Qt::Key_E, 16},     {Qt::Key_R, 17},     {Qt::Key_5, 18}, {Qt::Key_T, 19},
    {Qt::Key_6, 20},         {Qt::Key_Y, 21},     {Qt::Key_7, 22},     {Qt::Key_U, 23}, {Qt::Key_I, 24},
    {Qt::Key_9, 25},         {Qt::Key_O, 26},     {Qt::Key_0, 27},     {Qt::Key_P, 28},
}};

}  // namespace

int ComputerKeyNote(int key, int lowerC)
{
    const auto* found = std::find_if(KeyOffsets.begin(), KeyOffsets.end(),
                                     [key](const auto& entry) { return entry.first == key; });
    return found == KeyOffsets.end() ? -1 : lowerC + found->second;
}

int ComputerKeyOctaveStep(int key)
{
    // Shifted, the two keys report their other symbols.
    if (key == Qt::Key_Minus || key == Qt::Key_Underscore) return -1;
    if (key == Qt::Key_Equal || key == Qt::Key_Plus) return 1;
    return 0;
}

int ShiftedLowerC(int lowerC, int octaves)
{
    return std::clamp(lowerC + 12 * octaves, ComputerKeysLowestC, ComputerKeysHighestC);
}

}  // namespace vantor
