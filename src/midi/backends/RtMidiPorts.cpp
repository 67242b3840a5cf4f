#include "midi/backends/RtMidiPorts.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <QFileInfo>
#include <QRegularExpression>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include "midi/backends/JackClient.h"
#include "midi/backends/JackEnvironment.h"

namespace vantor::rtmidi_ports {

namespace {

QString ApiPrefix(RtMidi::Api api)
{
    switch (api) {
        case RtMidi::LINUX_ALSA:
            return QStringLiteral("ALSA");
        case RtMidi::UNIX_JACK:
            return QStringLiteral("JACK");
        case RtMidi::MACOSX_CORE:
            return QStringLiteral("CoreMIDI");
        case RtMidi::WINDOWS_MM:
            return QStringLiteral("Windows MIDI");
        default:
            return QString::fromStdString(RtMidi::getApiDisplayName(api));
    }
}

std::vector<RtMidi::Api> CompiledApis()
{
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    return apis;
}

// Without the sequencer device RtMidi's ALSA code prints to stderr before it
// throws, and without a server its JACK code does: there is nothing to list
// then, so neither is asked.
bool Usable(RtMidi::Api api)
{
    switch (api) {
        case RtMidi::LINUX_ALSA:
            return QFileInfo::exists(QStringLiteral("/dev/snd/seq"));
        case RtMidi::UNIX_JACK:
            return JackServerRunning();
        default:
            return true;
    }
}

// RtMidi reports through this instead of printing or throwing once it is set.
// Only errors count; warnings go to the debug log.
class ErrorLog
{
public:
    static void Callback(RtMidiError::Type type, const std::string& text, void* data)
    {
        auto* log = static_cast<ErrorLog*>(data);
        if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) {
            qCDebug(lcDevices, "RtMidi: %s", text.c_str());
            return;
        }
        const std::lock_guard lock(log->mutex_);
        if (!log->error_) log->error_ = QString::fromStdString(text);
    }
    std::optional<QString> Take()
    {
        const std::lock_guard lock(mutex_);
        return std::exchange(error_, std::nullopt);
    }

private:
    std::mutex mutex_;
    std::optional<QString> error_;
};

// Builds one RtMidi object of the API, or nothing when the API does not work on
// this machine (no ALSA sequencer, no JACK server).
template <class Port>
std::unique_ptr<Port> Connect(RtMidi::Api api, ErrorLog& log)
{
    KeepJackFromStartingServers();
    if (!Usable(api)) return nullptr;
    try {
        auto port = std::make_unique<Port>(api, kClientName);
        port->setErrorCallback(&ErrorLog::Callback, &log);
        return port;
    } catch (const RtMidiError& error) {
        qCDebug(lcDevices, "RtMidi %s: %s", qPrintable(ApiPrefix(api)), error.what());
        return nullptr;
    }
}

template <class Port>
void AppendNames(RtMidi::Api api, std::vector<QString>& names)
{
    ErrorLog log;
    const auto port = Connect<Port>(api, log);
    if (!port) return;
    const unsigned count = port->getPortCount();
    for (unsigned i = 0; i < count; ++i)
        names.push_back(QString::fromStdString(port->getPortName(i)));
}

// The ports of one direction that a JACK client sees: those that take MIDI in
// (ours to send to) or give it out.
void AppendJackNames(jack_client_t* client, unsigned long direction, std::vector<QString>& names)
{
    const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, direction);
    if (!ports) return;
    for (const char** port = ports; *port; ++port)
        names.push_back(QString::fromUtf8(*port));
    jack_free(static_cast<void*>(ports));
}

}  // namespace

PortLister::PortLister() = default;
PortLister::~PortLister() = default;

std::vector<QString> PortLister::OutputNames()
{
    return Names(true);
}
std::vector<QString> PortLister::InputNames()
{
    return Names(false);
}

std::vector<QString> PortLister::Names(bool outputs)
{
    std::vector<QString> names;
    for (const RtMidi::Api api : CompiledApis()) {
        std::vector<QString> ports;
        if (api == RtMidi::UNIX_JACK) {
            if (!JackServerRunning()) {
                jack_.reset();
                continue;
            }
            // RtMidi would make a JACK client per list and keep none; one client
            // without ports serves every list (the names are the ones RtMidi gives).
            if (!jack_ || jack_->ServerGone()) {
                jack_.reset();
                try {
                    jack_ = std::make_unique<JackClient>(kClientName);
                    jack_->Activate();  // only an active client hears its server go
                } catch (const DeviceError& error) {
                    qCDebug(lcDevices, "JACK: %s", qPrintable(error.Description()));
                    jack_.reset();
                }
            }
            if (jack_) AppendJackNames(jack_->Handle(), outputs ? JackPortIsInput : JackPortIsOutput, ports);
        } else if (outputs) {
            AppendNames<RtMidiOut>(api, ports);
        } else {
            AppendNames<RtMidiIn>(api, ports);
        }
        for (const QString& port : ports)
            if (!port.isEmpty() && !IsOwnPort(port))
                names.push_back(ApiPrefix(api) + QStringLiteral(": ") + port);
    }
    return names;
}

namespace {

// The API and the port's own name behind a listed name.
std::optional<std::pair<RtMidi::Api, QString>> Split(const QString& listed)
{
    for (const RtMidi::Api api : CompiledApis()) {
        const QString prefix = ApiPrefix(api) + QStringLiteral(": ");
        if (listed.startsWith(prefix)) return std::pair{api, listed.mid(prefix.size())};
    }
    return std::nullopt;
}

// Opens the port listed under this name on a fresh RtMidi object of its API.
template <class Port>
std::unique_ptr<Port> OpenByName(const QString& listed, ErrorLog& log, const QString& kind,
                                 const std::string& ownPortName)
{
    const QString gone = QStringLiteral(
                             "The MIDI %1 \"%2\" is no longer there. Check that the device is "
                             "connected and switched on, or choose another %1 device.")
                             .arg(kind, listed);
    const auto split = Split(listed);
    if (!split) throw DeviceError(PortErrorCode::BadDeviceId, gone);
    auto port = Connect<Port>(split->first, log);
    if (!port)
        throw DeviceError(PortErrorCode::NoDriver,
                          QStringLiteral("The MIDI system %1 is not available, so \"%2\" cannot be opened.")
                              .arg(ApiPrefix(split->first), listed));
    const unsigned count = port->getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        if (QString::fromStdString(port->getPortName(i)) != split->second) continue;
        port->openPort(i, ownPortName);
        const auto error = log.Take();
        if (error || !port->isPortOpen())
            throw DeviceError(PortErrorCode::DeviceBusy,
                              QStringLiteral("The MIDI %1 \"%2\" could not be opened: %3")
                                  .arg(kind, listed, error.value_or(QString())));
        // A JACK connection takes effect at the start of a later process cycle and
        // what is sent before is lost (the instrument chosen right after opening):
        // wait two cycles of the longest usual period.
        if (split->first == RtMidi::UNIX_JACK) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return port;
    }
    throw DeviceError(PortErrorCode::BadDeviceId, gone);
}

class RtOutput : public OutputDevice
{
public:
    explicit RtOutput(const QString& name)
        : name_(name), port_(OpenByName<RtMidiOut>(name, log_, QStringLiteral("output"), "Vantor Output"))
    {
    }
    ~RtOutput() override { port_->closePort(); }

    void Send(const ShortMessage& message) override
    {
        const unsigned char bytes[3] = {message.status, message.data1, message.data2};
        // Program change and channel pressure have one data byte; a second one
        // would be read as a running-status message by the receiver.
        const int kind = message.status & 0xF0;
        const std::size_t size = message.status < 0x80 ? 0 : (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
        if (size == 0) return;
        port_->sendMessage(bytes, size);
        if (const auto error = log_.Take())
            throw DeviceError(
                PortErrorCode::NoDriver,
                QStringLiteral("Sending to the MIDI output \"%1\" failed: %2").arg(name_, *error));
    }

private:
    QString name_;
    ErrorLog log_;  // before the port: RtMidi holds a pointer to it
    std::unique_ptr<RtMidiOut> port_;
};

class RtInput : public InputDevice
{
public:
    explicit RtInput(const QString& name)
        : name_(name), port_(OpenByName<RtMidiIn>(name, log_, QStringLiteral("input"), "Vantor Input"))
    {
        // System exclusive, MIDI clock and active sensing are no short messages worth echoing.
        port_->ignoreTypes(true, true, true);
        port_->setCallback(&RtInput::Arrived, this);
        // RtMidi's JACK input just falls silent when its server goes: a client of ours hears it.
        if (port_->getCurrentApi() == RtMidi::UNIX_JACK) {
            watch_ = std::make_unique<JackClient>("Vantor Input Watch");
            watch_->Activate();
        }
    }
    // RtMidi's cancelCallback clears the callback unsynchronised while its thread
    // may be calling it; Stop has already disarmed ours under our own lock.
    ~RtInput() override
    {
        Stop();
        port_->closePort();
    }

    void Start(Callback callback) override
    {
        const std::lock_guard lock(mutex_);
        callback_ = std::move(callback);
    }
    // Returns once no call of the callback is running any more.
    void Stop() override
    {
        const std::lock_guard lock(mutex_);
        callback_ = nullptr;
    }
    void OnFailure(Failure failure) override
    {
        if (!watch_) return;
        watch_->OnShutdown([failure = std::move(failure), name = name_] {
            failure(DeviceError(PortErrorCode::NoDriver,
                                JackServerStoppedText(QStringLiteral("the MIDI input \"%1\"").arg(name))));
        });
    }

private:
    static void Arrived(double, std::vector<unsigned char>* bytes, void* data)
    {
        if (!bytes || bytes->empty() || bytes->size() > 3) return;
        ShortMessage message;
        message.status = (*bytes)[0];
        if (bytes->size() > 1) message.data1 = (*bytes)[1];
        if (bytes->size() > 2) message.data2 = (*bytes)[2];
        auto* self = static_cast<RtInput*>(data);
        const std::lock_guard lock(self->mutex_);
        if (self->callback_) self->callback_(message);
    }

    QString name_;
    ErrorLog log_;
    std::mutex mutex_;
    Callback callback_;
    std::unique_ptr<RtMidiIn> port_;
    std::unique_ptr<JackClient> watch_;  // closes first: its hook must not outlive the rest
};

}  // namespace

bool IsOwnPort(const QString& portName)
{
    static const QRegularExpression own(QStringLiteral("^%1(-\\d+)?:").arg(QLatin1String(kClientName)));
    return own.match(portName).hasMatch();
}

std::unique_ptr<OutputDevice> OpenOutput(const QString& name)
{
    // RtMidi's JACK output spins for ever once its server has gone; ours does not.
    const auto split = Split(name);
    if (split && split->first == RtMidi::UNIX_JACK) return OpenJackMidiOutput(name, split->second);
    return std::make_unique<RtOutput>(name);
}
std::unique_ptr<InputDevice> OpenInput(const QString& name)
{
    return std::make_unique<RtInput>(name);
}

}  // namespace vantor::rtmidi_ports
