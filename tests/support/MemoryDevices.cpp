#include "support/MemoryDevices.h"

#include <algorithm>

namespace vantor::test {

using Setup = MemoryDevices::DeviceSetup;

class MemoryOutput : public OutputDevice
{
public:
    MemoryOutput(std::shared_ptr<MemoryDevices> devices, int id) : devices_(std::move(devices)), id_(id) {}
    ~MemoryOutput() override
    {
        const std::lock_guard lock(devices_->mutex_);
        --devices_->outputsOpen_;
    }
    void Send(const ShortMessage& message) override
    {
        const auto now = std::chrono::steady_clock::now();
        const std::lock_guard lock(devices_->mutex_);
        const int failure = devices_->SetupLocked(id_).sendFailCode;
        if (failure != 0) throw DeviceError(failure, QStringLiteral("The memory device was unplugged."));
        devices_->sent_.push_back({id_, message, now});
    }
    std::uint32_t Capabilities() const override { return devices_->Output(id_).capabilities; }
    bool HasStereoVolume() const override { return devices_->Output(id_).hasStereoVolume; }
    std::int32_t Volume() const override { return devices_->Output(id_).volume; }
    std::int32_t RightVolume() const override { return devices_->Output(id_).rightVolume; }
    void SetVolume(std::int32_t value) override { Store(&Setup::volume, value); }
    void SetRightVolume(std::int32_t value) override { Store(&Setup::rightVolume, value); }

private:
    void Store(std::int32_t Setup::*field, std::int32_t value)
    {
        const std::lock_guard lock(devices_->mutex_);
        devices_->SetupLocked(id_).*field = value;
    }
    std::shared_ptr<MemoryDevices> devices_;
    int id_;
};

class MemoryInput : public InputDevice
{
public:
    MemoryInput(std::shared_ptr<MemoryDevices> devices, int id) : devices_(std::move(devices)), id_(id) {}
    ~MemoryInput() override
    {
        const std::lock_guard lock(devices_->mutex_);
        devices_->callback_ = nullptr;
        if (devices_->openInput_ == id_) devices_->openInput_ = -1;
    }
    void Start(Callback callback) override { devices_->Put(&MemoryDevices::callback_, std::move(callback)); }
    void Stop() override { devices_->Put(&MemoryDevices::callback_, nullptr); }

private:
    std::shared_ptr<MemoryDevices> devices_;
    int id_;
};

std::vector<ShortMessage> MemoryDevices::SentTo(int device) const
{
    const std::lock_guard lock(mutex_);
    std::vector<ShortMessage> messages;
    for (const Sent& sent : sent_)
        if (device == kAnyDevice || sent.device == device) messages.push_back(sent.message);
    return messages;
}

std::vector<QString> MemoryDevices::Names(const std::vector<DeviceSetup>& setups)
{
    std::vector<QString> names(setups.size());
    std::ranges::transform(setups, names.begin(), &DeviceSetup::name);
    return names;
}

bool MemoryDevices::Inject(const ShortMessage& message)
{
    const InputDevice::Callback callback = Get(&MemoryDevices::callback_);
    if (callback) callback(message);
    return static_cast<bool>(callback);
}

// Opening checks the recorded name as a real provider does: a device whose number
// now names another has gone.
std::unique_ptr<OutputDevice> MemoryDevices::OpenOutput(int id, const QString& name)
{
    {
        const std::lock_guard lock(mutex_);
        if (id < -1 || id >= static_cast<int>(outputs_.size()) || SetupLocked(id).name != name)
            throw DeviceError(PortErrorCode::BadDeviceId, QStringLiteral("No output \"%1\".").arg(name));
        const DeviceSetup& setup = SetupLocked(id);
        if (setup.failCode != 0) throw DeviceError(setup.failCode, setup.failText);
        ++openCounts_[id];
        ++outputsOpen_;
    }
    return std::make_unique<MemoryOutput>(shared_from_this(), id);
}

std::unique_ptr<InputDevice> MemoryDevices::OpenInput(int id, const QString& name)
{
    const std::lock_guard lock(mutex_);
    if (id < 0 || id >= static_cast<int>(inputs_.size()) ||
        inputs_[static_cast<std::size_t>(id)].name != name)
        throw DeviceError(PortErrorCode::BadDeviceId, QStringLiteral("No input \"%1\".").arg(name));
    const DeviceSetup& setup = inputs_[static_cast<std::size_t>(id)];
    if (setup.failCode != 0) throw DeviceError(setup.failCode, setup.failText);
    openInput_ = id;
    return std::make_unique<MemoryInput>(shared_from_this(), id);
}

}  // namespace vantor::test
