#pragma once

// The registry reading behind the About dialog. Free of Qt so that the Windows
// implementation can be compiled on its own.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantor {

// Predefined registry roots, with the values Windows gives their handles.
enum class KeyRoot : std::uint32_t
{
    ClassesRoot = 0x80000000,
    CurrentUser = 0x80000001,
    LocalMachine = 0x80000002,
    Users = 0x80000003,
};

// Value types as the registry numbers them.
inline constexpr std::uint32_t RegSz = 1;
inline constexpr std::uint32_t RegDword = 4;

// Keys are opened for reading only: full access is refused to users without
// administrator rights, and nothing here writes.
inline constexpr std::uint32_t KeyReadAccess = 0x20019;
// The most a value may hold to be read.
inline constexpr std::size_t ValueBufferSize = 1024;

// One value as stored: its type and the bytes the registry returned.
struct RegistryValue
{
    std::uint32_t Type = 0;
    std::vector<std::uint8_t> Data;
};

class Registry
{
public:
    virtual ~Registry() = default;
    // Reads a value of a key under a root; nothing when the key cannot be opened
    // or the value cannot be read (missing, or larger than ValueBufferSize).
    virtual std::optional<RegistryValue> ReadValue(KeyRoot root, const std::string& keyName,
                                                   const std::string& valueName) const = 0;
};

// The platform's registry: the Windows one there, one that holds nothing elsewhere.
std::shared_ptr<Registry> PlatformRegistry();

// Turns a value read into text: a trailing zero byte is dropped; REG_SZ gives the
// text, REG_DWORD "&h" and the bytes from last to first, each in upper-case
// hexadecimal without a leading zero. Any other type leaves keyVal as it was.
void FormatRegistryValue(const RegistryValue& value, std::string& keyVal);

// Reads one value as text into keyVal; false, with keyVal empty, when it cannot be read.
bool GetKeyValue(const Registry& registry, KeyRoot KeyRoot, const std::string& KeyName,
                 const std::string& SubKeyRef, std::string& KeyVal);

}  // namespace vantor
