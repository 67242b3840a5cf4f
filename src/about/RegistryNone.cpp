// Platforms without a registry: every lookup finds nothing.
#ifndef _WIN32

#include "about/Registry.h"

namespace vantor {

namespace {

class NoRegistry final : public Registry
{
public:
    std::optional<RegistryValue> ReadValue(KeyRoot, const std::string&, const std::string&) const override
    {
        return std::nullopt;
    }
};

}  // namespace

std::shared_ptr<Registry> PlatformRegistry()
{
    return std::make_shared<NoRegistry>();
}

}  // namespace vantor

#endif
