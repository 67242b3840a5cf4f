#include "midi/MIDIOutput.h"

#include "ComponentError.h"

namespace vantor {

struct MIDIOutput::Impl
{
    std::shared_ptr<DeviceProvider> devices;
    int deviceId = -1;
};

MIDIOutput::MIDIOutput(std::shared_ptr<DeviceProvider> devices, QObject* parent)
    : QObject(parent), impl_(std::make_unique<Impl>())
{
    impl_->devices = std::move(devices);
}

MIDIOutput::~MIDIOutput() = default;

void MIDIOutput::SetAction(int)
{
    throw ComponentError("MIDIOutput::SetAction is not built yet");
}
int MIDIOutput::DeviceID() const
{
    return impl_->deviceId;
}
void MIDIOutput::SetDeviceID(int id)
{
    impl_->deviceId = id;
}
QString MIDIOutput::ProductName() const
{
    return {};
}
int MIDIOutput::DeviceCount()
{
    return 0;
}
int MIDIOutput::OpenState() const
{
    return 0;
}
std::uint32_t MIDIOutput::Capabilities() const
{
    return 0;
}
bool MIDIOutput::HasVolume() const
{
    return false;
}
bool MIDIOutput::HasStereoVolume() const
{
    return false;
}
std::int32_t MIDIOutput::Volume() const
{
    return 0;
}
void MIDIOutput::SetVolume(std::int32_t) {}
std::int32_t MIDIOutput::RightVolume() const
{
    return 0;
}
void MIDIOutput::SetRightVolume(std::int32_t) {}
void MIDIOutput::SetStatus(int) {}
void MIDIOutput::SetData1(int) {}
void MIDIOutput::SetData2(int) {}
void MIDIOutput::SetTimeStamp(double) {}
void MIDIOutput::SetTag(std::int32_t) {}

}  // namespace vantor
