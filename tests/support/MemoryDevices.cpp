#include "support/MemoryDevices.h"

namespace vantor::test {

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
        const MemoryDevices::OutputSpec& spec = devices_->SpecLocked(id_);
        if (spec.sendFailCode != 0) throw DeviceError(spec.sendFailCode, spec.sendFailText);
        devices_->sent_.push_back({id_, message, now});
    }
    std::uint32_t Capabilities() const override { return Spec().capabilities; }
    bool HasVolume() const override { return Spec().hasVolume; }
    bool HasStereoVolume() const override { return Spec().hasStereoVolume; }
    std::int32_t Volume() const override { return Spec().volume; }
    std::int32_t RightVolume() const override { return Spec().rightVolume; }
    void SetVolume(std::int32_t volume) override
    {
        const std::lock_guard lock(devices_->mutex_);
        devices_->SpecLocked(id_).volume = volume;
    }
    void SetRightVolume(std::int32_t volume) override
    {
        const std::lock_guard lock(devices_->mutex_);
        devices_->SpecLocked(id_).rightVolume = volume;
    }

private:
    MemoryDevices::OutputSpec Spec() const { return devices_->Output(id_); }
    std::shared_ptr<MemoryDevices> devices_;
    int id_;
};

class MemoryInput : public InputDevice
{
public:
    MemoryInput(std::shared_ptr<MemoryDevices> devices, int id) : devices_(std::move(devices)), id_(id)
    {
        const std::lock_guard lock(devices_->mutex_);
        devices_->openInput_ = id_;
    }
    ~MemoryInput() override
    {
        const std::lock_guard lock(devices_->mutex_);
        devices_->callback_ = nullptr;
        if (devices_->openInput_ == id_) devices_->openInput_ = -1;
    }
    void Start(Callback callback) override
    {
        const std::lock_guard lock(devices_->mutex_);
        devices_->callback_ = std::move(callback);
    }
    void Stop() override
    {
        const std::lock_guard lock(devices_->mutex_);
        devices_->callback_ = nullptr;
    }

private:
    std::shared_ptr<MemoryDevices> devices_;
    int id_;
};

void MemoryDevices::SetDefaultOutput(OutputSpec spec)
{
    const std::lock_guard lock(mutex_);
    default_ = std::move(spec);
}

void MemoryDevices::SetOutputs(std::vector<OutputSpec> specs)
{
    const std::lock_guard lock(mutex_);
    outputs_ = std::move(specs);
}

void MemoryDevices::SetInputs(std::vector<InputSpec> specs)
{
    const std::lock_guard lock(mutex_);
    inputs_ = std::move(specs);
}

MemoryDevices::OutputSpec& MemoryDevices::SpecLocked(int id)
{
    return id < 0 ? default_ : outputs_.at(static_cast<std::size_t>(id));
}

MemoryDevices::OutputSpec MemoryDevices::Output(int id) const
{
    const std::lock_guard lock(mutex_);
    return id < 0 ? default_ : outputs_.at(static_cast<std::size_t>(id));
}

std::vector<MemoryDevices::Sent> MemoryDevices::SentLog() const
{
    const std::lock_guard lock(mutex_);
    return sent_;
}

std::vector<ShortMessage> MemoryDevices::SentMessages() const
{
    const std::lock_guard lock(mutex_);
    std::vector<ShortMessage> messages;
    messages.reserve(sent_.size());
    for (const Sent& sent : sent_)
        messages.push_back(sent.message);
    return messages;
}

std::vector<ShortMessage> MemoryDevices::SentTo(int device) const
{
    const std::lock_guard lock(mutex_);
    std::vector<ShortMessage> messages;
    for (const Sent& sent : sent_)
        if (sent.device == device) messages.push_back(sent.message);
    return messages;
}

void MemoryDevices::ClearSent()
{
    const std::lock_guard lock(mutex_);
    sent_.clear();
}

int MemoryDevices::OutputOpenCount(int id) const
{
    const std::lock_guard lock(mutex_);
    const auto found = openCounts_.find(id);
    return found == openCounts_.end() ? 0 : found->second;
}

int MemoryDevices::OutputsOpen() const
{
    const std::lock_guard lock(mutex_);
    return outputsOpen_;
}

bool MemoryDevices::InputRunning() const
{
    const std::lock_guard lock(mutex_);
    return static_cast<bool>(callback_);
}

int MemoryDevices::OpenInputDevice() const
{
    const std::lock_guard lock(mutex_);
    return openInput_;
}

bool MemoryDevices::Inject(const ShortMessage& message)
{
    InputDevice::Callback callback;
    {
        const std::lock_guard lock(mutex_);
        callback = callback_;
    }
    if (!callback) return false;
    callback(message);
    return true;
}

QString MemoryDevices::DefaultOutputName()
{
    const std::lock_guard lock(mutex_);
    return default_.name;
}

std::vector<QString> MemoryDevices::OutputNames()
{
    const std::lock_guard lock(mutex_);
    std::vector<QString> names;
    for (const OutputSpec& spec : outputs_)
        names.push_back(spec.name);
    return names;
}

std::vector<QString> MemoryDevices::InputNames()
{
    const std::lock_guard lock(mutex_);
    std::vector<QString> names;
    for (const InputSpec& spec : inputs_)
        names.push_back(spec.name);
    return names;
}

std::unique_ptr<OutputDevice> MemoryDevices::OpenOutput(int id, const QString& name)
{
    {
        const std::lock_guard lock(mutex_);
        if (id < -1 || id >= static_cast<int>(outputs_.size()))
            throw DeviceError(PortErrorCode::BadDeviceId, QStringLiteral("No output device %1.").arg(id));
        const OutputSpec& spec = SpecLocked(id);
        if (spec.name != name)
            throw DeviceError(PortErrorCode::BadDeviceId,
                              QStringLiteral("The device \"%1\" has gone.").arg(name));
        if (spec.failCode != 0) throw DeviceError(spec.failCode, spec.failText);
        ++openCounts_[id];
        ++outputsOpen_;
    }
    return std::make_unique<MemoryOutput>(shared_from_this(), id);
}

std::unique_ptr<InputDevice> MemoryDevices::OpenInput(int id, const QString& name)
{
    {
        const std::lock_guard lock(mutex_);
        if (id < 0 || id >= static_cast<int>(inputs_.size()))
            throw DeviceError(PortErrorCode::BadDeviceId, QStringLiteral("No input device %1.").arg(id));
        const InputSpec& spec = inputs_[static_cast<std::size_t>(id)];
        if (spec.name != name)
            throw DeviceError(PortErrorCode::BadDeviceId,
                              QStringLiteral("The device \"%1\" has gone.").arg(name));
        if (spec.failCode != 0) throw DeviceError(spec.failCode, spec.failText);
    }
    return std::make_unique<MemoryInput>(shared_from_this(), id);
}

}  // namespace vantor::test
