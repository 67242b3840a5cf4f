#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "midi/backends/MidiDevice.h"

namespace vantor::test {

// Memory MIDI devices: outputs record every message with its send time, inputs
// let a test inject messages. Thread-safe (the timed queue sends from its worker).
class MemoryDevices : public DeviceProvider, public std::enable_shared_from_this<MemoryDevices>
{
public:
    // A device's setup; an input uses its name and its failure only.
    struct DeviceSetup
    {
        // NOLINTNEXTLINE(google-explicit-constructor): {"name"} in lists
        DeviceSetup(QString deviceName = {}, int code = 0) : name(std::move(deviceName)), failCode(code) {}
        QString name;
        int failCode = 0;  // non-zero: opening fails with this code and failText
        QString failText;
        std::uint32_t capabilities = 0;
        bool hasStereoVolume = false;
        std::int32_t volume = 0;
        std::int32_t rightVolume = 0;
        int sendFailCode = 0;  // non-zero: every send to the open device fails (a device unplugged)
    };
    using OutputSpec = DeviceSetup;  // the window tests' name
    struct Sent
    {
        int device;  // -1 default output, else the device number
        ShortMessage message;
        std::chrono::steady_clock::time_point time;
    };

    static std::shared_ptr<MemoryDevices> Create() { return std::make_shared<MemoryDevices>(); }

    // Configure before the ports enumerate (or change later: ports re-read on DeviceCount()).
    void SetDefaultOutput(DeviceSetup setup) { Put(&MemoryDevices::default_, std::move(setup)); }
    void SetOutputs(std::vector<DeviceSetup> setups) { Put(&MemoryDevices::outputs_, std::move(setups)); }
    void SetInputs(std::vector<DeviceSetup> setups) { Put(&MemoryDevices::inputs_, std::move(setups)); }
    DeviceSetup Output(int id) const  // current setup with its volumes
    {
        return id < 0 ? Get(&MemoryDevices::default_)
                      : Get(&MemoryDevices::outputs_).at(static_cast<std::size_t>(id));
    }

    // Everything sent so far, over every output, in order.
    std::vector<Sent> SentLog() const { return Get(&MemoryDevices::sent_); }
    std::vector<ShortMessage> SentMessages() const { return SentTo(kAnyDevice); }
    std::vector<ShortMessage> SentTo(int device) const;
    void ClearSent() { Put(&MemoryDevices::sent_, {}); }

    int OutputOpenCount(int id) const { return Get(&MemoryDevices::openCounts_)[id]; }
    int OutputsOpen() const { return Get(&MemoryDevices::outputsOpen_); }
    bool InputRunning() const { return static_cast<bool>(Get(&MemoryDevices::callback_)); }
    int OpenInputDevice() const { return Get(&MemoryDevices::openInput_); }  // -1 when none is open

    // Delivers a message to the running input device, on the calling thread.
    // Returns false when no input is running.
    bool Inject(const ShortMessage& message);

    // DeviceProvider
    QString DefaultOutputName() override { return Get(&MemoryDevices::default_).name; }
    std::vector<QString> OutputNames() override { return Names(Get(&MemoryDevices::outputs_)); }
    std::vector<QString> InputNames() override { return Names(Get(&MemoryDevices::inputs_)); }
    std::unique_ptr<OutputDevice> OpenOutput(int id, const QString& name) override;
    std::unique_ptr<InputDevice> OpenInput(int id, const QString& name) override;

private:
    friend class MemoryOutput;
    friend class MemoryInput;
    static constexpr int kAnyDevice = -2;

    template <class T>
    T Get(T MemoryDevices::*member) const
    {
        const std::lock_guard lock(mutex_);
        return this->*member;
    }
    template <class T>
    void Put(T MemoryDevices::*member, std::type_identity_t<T> value)
    {
        const std::lock_guard lock(mutex_);
        this->*member = std::move(value);
    }
    static std::vector<QString> Names(const std::vector<DeviceSetup>& setups);
    DeviceSetup& SetupLocked(int id) { return id < 0 ? default_ : outputs_.at(static_cast<std::size_t>(id)); }

    mutable std::mutex mutex_;
    DeviceSetup default_{QStringLiteral("Memory Default Output")};
    std::vector<DeviceSetup> outputs_;
    std::vector<DeviceSetup> inputs_;
    std::vector<Sent> sent_;
    std::map<int, int> openCounts_;
    int outputsOpen_ = 0;
    int openInput_ = -1;
    InputDevice::Callback callback_;
};

}  // namespace vantor::test
