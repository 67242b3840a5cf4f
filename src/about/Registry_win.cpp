// The Windows registry, read through the ANSI functions of the Win32 API.
#include <windows.h>

#include "about/Registry.h"

namespace vantor {

namespace {

HKEY RootHandle(KeyRoot root)
{
    switch (root) {
        case KeyRoot::ClassesRoot:
            return HKEY_CLASSES_ROOT;
        case KeyRoot::CurrentUser:
            return HKEY_CURRENT_USER;
        case KeyRoot::LocalMachine:
            return HKEY_LOCAL_MACHINE;
        case KeyRoot::Users:
            return HKEY_USERS;
    }
    return nullptr;
}

// Closes the key on every path out of a lookup.
class OpenKey
{
public:
    OpenKey(HKEY root, const std::string& name)
    {
        if (root == nullptr) return;
        if (RegOpenKeyExA(root, name.c_str(), 0, KeyReadAccess, &key_) != ERROR_SUCCESS) key_ = nullptr;
    }
    ~OpenKey()
    {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    HKEY Handle() const { return key_; }

private:
    HKEY key_ = nullptr;
};

class WindowsRegistry final : public Registry
{
public:
    std::optional<RegistryValue> ReadValue(KeyRoot root, const std::string& keyName,
                                           const std::string& valueName) const override
    {
        static_assert(KeyReadAccess == KEY_READ);
        static_assert(RegSz == REG_SZ && RegDword == REG_DWORD);
        const OpenKey key(RootHandle(root), keyName);
        if (key.Handle() == nullptr) return std::nullopt;
        RegistryValue value;
        value.Data.resize(ValueBufferSize);
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(value.Data.size());
        if (RegQueryValueExA(key.Handle(), valueName.c_str(), nullptr, &type, value.Data.data(), &size) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        value.Type = type;
        value.Data.resize(size);
        return value;
    }
};

}  // namespace

std::shared_ptr<Registry> PlatformRegistry()
{
    return std::make_shared<WindowsRegistry>();
}

}  // namespace vantor
