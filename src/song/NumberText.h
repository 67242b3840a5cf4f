#pragma once

#include <QString>
#include <optional>

namespace vantor {

// Reads a number the way a user types it: the system locale first (so "2,5" is
// two and a half where that is the decimal comma), then the C locale; signs and
// fractions accepted, surrounding spaces ignored. Empty text, letters, NaN and
// infinities are not numbers.
std::optional<double> ParseNumber(const QString& text);

}  // namespace vantor
