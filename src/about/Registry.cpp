#include "about/Registry.h"

namespace vantor {

namespace {

void AppendHex(std::string& text, std::uint8_t byte)
{
    constexpr char digits[] = "0123456789ABCDEF";
    if (byte >= 16) text += digits[byte / 16];
    text += digits[byte % 16];
}

}  // namespace

void FormatRegistryValue(const RegistryValue& value, std::string& keyVal)
{
    std::size_t count = value.Data.size();
    if (count > 0 && value.Data[count - 1] == 0) --count;  // the string terminator
    switch (value.Type) {
        case RegSz:
            keyVal.assign(value.Data.begin(), value.Data.begin() + static_cast<std::ptrdiff_t>(count));
            break;
        case RegDword: {
            std::string text = "&h";
            for (std::size_t i = count; i > 0; --i)
                AppendHex(text, value.Data[i - 1]);
            keyVal = std::move(text);
            break;
        }
        default:
            break;
    }
}

bool GetKeyValue(const Registry& registry, KeyRoot KeyRoot, const std::string& KeyName,
                 const std::string& SubKeyRef, std::string& KeyVal)
{
    const std::optional<RegistryValue> value = registry.ReadValue(KeyRoot, KeyName, SubKeyRef);
    if (!value) {
        KeyVal.clear();
        return false;
    }
    FormatRegistryValue(*value, KeyVal);
    return true;
}

}  // namespace vantor
