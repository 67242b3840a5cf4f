#include "app/practice/BoxNumber.h"

#include "common/ComponentError.h"
#include "song/NumberText.h"

namespace vantor {

double BoxNumber(const QString& text)
{
    const auto value = ParseNumber(text);
    if (!value) throw ComponentError("\"" + text.toStdString() + "\" is not a number");
    return *value;
}

}  // namespace vantor
