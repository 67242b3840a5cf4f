#pragma once

#include <QString>
#include <QStringList>

namespace vantor {

inline constexpr int InstrumentCount = 128;

// The name shown for General MIDI program 0..127; "" outside that range.
QString InstrumentName(int program);
// All 128 names in program-number order.
QStringList InstrumentNames();

}  // namespace vantor
