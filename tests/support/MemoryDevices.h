#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "midi/backends/MidiDevice.h"

namespace vantor::test {

// Memory MIDI devices: outputs record every message with its send time, inputs
// let a test inject messages. Thread-safe (the timed queue sends from its worker).
class MemoryDevices : public DeviceProvider, public std::enable_shared_from_this<MemoryDevices>
{
public:
    struct OutputSpec
    {
        OutputSpec() = default;
        OutputSpec(QString deviceName) : name(std::move(deviceName)) {}  // NOLINT: {"name"} in lists
        QString name;
        int failCode = 0;  // non-zero: opening fails with this code and failText
        QString failText;
        std::uint32_t capabilities = 0;
        bool hasVolume = false;
        bool hasStereoVolume = false;
        std::int32_t volume = 0;
        std::int32_t rightVolume = 0;
        int sendFailCode = 0;  // non-zero: every send to the open device fails (a device unplugged)
        QString sendFailText;
    };
    struct InputSpec
    {
        InputSpec() = default;
        InputSpec(QString deviceName, int code = 0, QString text = {})  // NOLINT: {"name", ...} in lists
            : name(std::move(deviceName)), failCode(code), failText(std::move(text))
        {
        }
        QString name;
        int failCode = 0;
        QString failText;
    };
    struct Sent
    {
        int device;  // -1 default output, else the device number
        ShortMessage message;
        std::chrono::steady_clock::time_point time;
    };

    static std::shared_ptr<MemoryDevices> Create() { return std::make_shared<MemoryDevices>(); }

    // Configure before the ports enumerate (or change later: ports re-read on DeviceCount()).
    void SetDefaultOutput(OutputSpec spec);
    void SetOutputs(std::vector<OutputSpec> specs);
    void SetInputs(std::vector<InputSpec> specs);
    OutputSpec Output(int id) const;  // current spec with its volumes

    // Everything sent so far, over every output, in order.
    std::vector<Sent> SentLog() const;
    std::vector<ShortMessage> SentMessages() const;
    std::vector<ShortMessage> SentTo(int device) const;
    void ClearSent();

    int OutputOpenCount(int id) const;
    int OutputsOpen() const;
    bool InputRunning() const;
    int OpenInputDevice() const;  // -1 when none is open

    // Delivers a message to the running input device, on the calling thread.
    // Returns false when no input is running.
    bool Inject(const ShortMessage& message);

    // DeviceProvider
    QString DefaultOutputName() override;
    std::vector<QString> OutputNames() override;
    std::vector<QString> InputNames() override;
    std::unique_ptr<OutputDevice> OpenOutput(int id, const QString& name) override;
    std::unique_ptr<InputDevice> OpenInput(int id, const QString& name) override;

private:
    friend class MemoryOutput;
    friend class MemoryInput;
    OutputSpec& SpecLocked(int id);

    mutable std::mutex mutex_;
    OutputSpec default_ = DefaultSpec();
    static OutputSpec DefaultSpec()
    {
        OutputSpec spec;
        spec.name = QStringLiteral("Memory Default Output");
        return spec;
    }
    std::vector<OutputSpec> outputs_;
    std::vector<InputSpec> inputs_;
    std::vector<Sent> sent_;
    std::map<int, int> openCounts_;
    int outputsOpen_ = 0;
    int openInput_ = -1;
    InputDevice::Callback callback_;
};

}  // namespace vantor::test
