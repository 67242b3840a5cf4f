#include "midi/MIDIInput.h"

#include "ComponentError.h"

namespace vantor {

struct MIDIInput::Impl
{
    std::shared_ptr<DeviceProvider> devices;
    int deviceId = 0;
};

MIDIInput::MIDIInput(std::shared_ptr<DeviceProvider> devices, QObject* parent)
    : QObject(parent), impl_(std::make_unique<Impl>())
{
    impl_->devices = std::move(devices);
}

MIDIInput::~MIDIInput() = default;

void MIDIInput::SetAction(int)
{
    throw ComponentError("MIDIInput::SetAction is not built yet");
}
int MIDIInput::DeviceID() const
{
    return impl_->deviceId;
}
void MIDIInput::SetDeviceID(int id)
{
    impl_->deviceId = id;
}
QString MIDIInput::ProductName() const
{
    return {};
}
int MIDIInput::DeviceCount()
{
    return 0;
}
int MIDIInput::OpenState() const
{
    return 0;
}
int MIDIInput::Status() const
{
    return 0;
}
int MIDIInput::Data1() const
{
    return 0;
}
int MIDIInput::Data2() const
{
    return 0;
}
int MIDIInput::PendingCount() const
{
    return 0;
}

}  // namespace vantor
