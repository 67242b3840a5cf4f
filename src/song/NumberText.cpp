#include "song/NumberText.h"

#include <QLocale>
#include <cmath>

namespace vantor {

std::optional<double> ParseNumber(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) return std::nullopt;
    bool ok = false;
    double value = QLocale::system().toDouble(trimmed, &ok);
    if (!ok) value = QLocale::c().toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace vantor
