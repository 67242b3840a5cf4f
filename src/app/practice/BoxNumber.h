#pragma once

#include <QString>

namespace vantor {

// The number in a text box the user types into; text that is not a number
// throws ComponentError, which the boxes' handlers count as a passed test.
double BoxNumber(const QString& text);

}  // namespace vantor
