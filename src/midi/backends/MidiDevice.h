#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace vantor {

// Error codes of the ports, numbered like the familiar multimedia-system results.
// Callers ignore PortNoError and PortNotSupported.
namespace PortErrorCode {
inline constexpr int NoError = 0;
inline constexpr int Unspecified = 1;
inline constexpr int BadDeviceId = 2;
inline constexpr int DeviceBusy = 4;
inline constexpr int NoDriver = 6;
inline constexpr int NoMemory = 7;
inline constexpr int NotSupported = 8;
inline constexpr int InvalidParameter = 11;
}  // namespace PortErrorCode

constexpr bool IsReportedPortError(int code)
{
    return code != PortErrorCode::NoError && code != PortErrorCode::NotSupported;
}

struct ShortMessage
{
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
    friend bool operator==(const ShortMessage&, const ShortMessage&) = default;
};

// What a device did to us: the port turns it into its Error event.
class DeviceError : public std::runtime_error
{
public:
    DeviceError(int code, const QString& description)
        : std::runtime_error(description.toStdString()), code_(code), description_(description)
    {
    }
    int Code() const { return code_; }
    const QString& Description() const { return description_; }

private:
    int code_;
    QString description_;
};

// How a device that fails while open (its server stopped, its SoundFont broken)
// says so: once, on any thread, while the device lives.
using DeviceFailure = std::function<void(const DeviceError& error)>;

// An opened output device. Send may be called from the queue's worker thread and
// from the UI thread; the port serialises the calls under its send lock.
class OutputDevice
{
public:
    virtual ~OutputDevice() = default;
    virtual void Send(const ShortMessage& message) = 0;  // may throw DeviceError
    virtual std::uint32_t Capabilities() const { return 0; }
    virtual bool HasVolume() const { return false; }
    virtual bool HasStereoVolume() const { return false; }
    virtual std::int32_t Volume() const { return 0; }
    virtual void SetVolume(std::int32_t) {}
    virtual std::int32_t RightVolume() const { return 0; }
    virtual void SetRightVolume(std::int32_t) {}
    using Failure = DeviceFailure;
    virtual void OnFailure(Failure) {}
};

// An opened input device. The callback runs on whatever thread the device uses.
class InputDevice
{
public:
    using Callback = std::function<void(const ShortMessage&)>;
    virtual ~InputDevice() = default;
    virtual void Start(Callback callback) = 0;  // may throw DeviceError
    virtual void Stop() = 0;
    using Failure = DeviceFailure;
    virtual void OnFailure(Failure) {}
};

// Where the ports find their devices. The real one lists the built-in synthesizer
// and the system's MIDI ports; tests give memory devices.
class DeviceProvider
{
public:
    virtual ~DeviceProvider() = default;
    // Output device -1, the default output.
    virtual QString DefaultOutputName() = 0;
    // Devices 0..n-1, as they stand now.
    virtual std::vector<QString> OutputNames() = 0;
    virtual std::vector<QString> InputNames() = 0;
    // Opens the device recorded under this number and name when the list was filled.
    // Throws DeviceError when it cannot.
    virtual std::unique_ptr<OutputDevice> OpenOutput(int id, const QString& name) = 0;
    virtual std::unique_ptr<InputDevice> OpenInput(int id, const QString& name) = 0;
};

}  // namespace vantor
