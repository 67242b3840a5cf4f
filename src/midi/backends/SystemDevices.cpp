#include "midi/backends/SystemDevices.h"

#include "ComponentError.h"

namespace vantor {

std::shared_ptr<DeviceProvider> CreateSystemDevices()
{
    throw ComponentError("CreateSystemDevices is not built yet");
}

}  // namespace vantor
