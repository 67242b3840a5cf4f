#pragma once

#include <QString>

namespace vantor {

// "Version 1.2.1": each number in decimal without leading zeros, so a file
// version 1.02.0001 reads the same.
QString VersionText(int major, int minor, int revision);

}  // namespace vantor
