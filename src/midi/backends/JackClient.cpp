#include "midi/backends/JackClient.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "midi/backends/JackEnvironment.h"

namespace vantor {

JackClient::JackClient(const char* name)
{
    KeepJackFromStartingServers();
    jack_status_t status{};
    client_ = jack_client_open(name, JackNoStartServer, &status);
    if (!client_)
        throw DeviceError(PortErrorCode::NoDriver,
                          QStringLiteral("No JACK server is running. Start the JACK server, then choose the "
                                         "device again."));
    jack_on_shutdown(client_, &JackClient::Shutdown, this);
}

void JackClient::Activate()
{
    if (jack_activate(client_) != 0)
        throw DeviceError(PortErrorCode::NoDriver,
                          QStringLiteral("The JACK server refused a client. Restart the JACK server, then "
                                         "choose the device again."));
}

JackClient::~JackClient()
{
    // After a shutdown the client is a husk that libjack deletes itself at the
    // next client it opens; closing it after that would touch freed memory.
    if (!ServerGone()) jack_client_close(client_);
}

void JackClient::Shutdown(void* self)
{
    auto* client = static_cast<JackClient*>(self);
    client->gone_.store(true, std::memory_order_release);
    const std::lock_guard lock(client->hookLock_);
    if (client->hook_) client->hook_();
}

void JackClient::OnShutdown(std::function<void()> hook)
{
    const std::lock_guard lock(hookLock_);
    hook_ = std::move(hook);
    if (hook_ && ServerGone()) hook_();
}

QString JackServerStoppedText(const QString& what)
{
    return QStringLiteral(
               "The JACK server stopped, so %1 was closed. Start the JACK server again, then choose the "
               "device again from the list.")
        .arg(what);
}

namespace {

// Each message in the ring: its length, then up to three bytes.
constexpr std::size_t kRecord = 4;
constexpr std::size_t kRingBytes = 1 << 16;
// A live server empties the ring every period (a few ms); one that stays full
// this long is hung, and waiting any longer would freeze the caller.
constexpr auto kFullRingPatience = std::chrono::milliseconds(200);

// What the process callback reads: it must outlive the client's close.
struct ProcessData
{
    std::unique_ptr<jack_ringbuffer_t, decltype(&jack_ringbuffer_free)> ring{
        jack_ringbuffer_create(kRingBytes), &jack_ringbuffer_free};
    jack_port_t* port = nullptr;
};

class JackMidiOutput : public OutputDevice
{
public:
    JackMidiOutput(const QString& listedName, const QString& target)
        : name_(listedName),
          data_(std::make_unique<ProcessData>()),
          client_(std::make_unique<JackClient>("Vantor"))
    {
        jack_client_t* client = client_->Handle();
        data_->port =
            jack_port_register(client, "Vantor Output", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        if (!data_->ring || !data_->port ||
            jack_set_process_callback(client, &JackMidiOutput::Process, data_.get()) != 0)
            throw DeviceError(PortErrorCode::NoMemory,
                              QStringLiteral("The MIDI output \"%1\" could not be opened: JACK refused a "
                                             "port.")
                                  .arg(name_));
        client_->Activate();
        const QByteArray to = target.toUtf8();
        if (!jack_port_by_name(client, to.constData()) ||
            jack_connect(client, jack_port_name(data_->port), to.constData()) != 0)
            throw DeviceError(
                PortErrorCode::BadDeviceId,
                QStringLiteral("The MIDI output \"%1\" is no longer there. Check that the device "
                               "is connected and switched on, or choose another output device.")
                    .arg(name_));
        // A connection takes effect at the start of a later process cycle and what is
        // sent before is lost (the instrument chosen right after opening): wait two
        // cycles of the longest usual period.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // A hung server holds a close until it runs again or dies: that wait goes to a
    // thread of its own, which keeps what the process callback reads until then.
    ~JackMidiOutput() override
    {
        if (hung_)
            std::thread([client = std::move(client_), data = std::move(data_)]() mutable {
                client.reset();
            }).detach();
    }

    void Send(const ShortMessage& message) override
    {
        const int kind = message.status & 0xF0;
        // Program change and channel pressure have one data byte.
        const std::uint8_t size = message.status < 0x80 ? 0 : (kind == 0xC0 || kind == 0xD0) ? 2 : 3;
        if (size == 0) return;
        const char record[kRecord] = {static_cast<char>(size), static_cast<char>(message.status),
                                      static_cast<char>(message.data1), static_cast<char>(message.data2)};
        const auto giveUp = std::chrono::steady_clock::now() + kFullRingPatience;
        for (;;) {
            if (client_->ServerGone()) throw Stopped();
            if (jack_ringbuffer_write_space(data_->ring.get()) >= kRecord) break;
            if (std::chrono::steady_clock::now() > giveUp) {
                hung_ = true;
                throw DeviceError(
                    PortErrorCode::NoDriver,
                    QStringLiteral("The JACK server does not respond, so the MIDI output \"%1\" "
                                   "was closed. Restart the JACK server, then choose the device "
                                   "again from the list.")
                        .arg(name_));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        jack_ringbuffer_write(data_->ring.get(), record, kRecord);
    }

private:
    DeviceError Stopped() const
    {
        return DeviceError(PortErrorCode::NoDriver,
                           JackServerStoppedText(QStringLiteral("the MIDI output \"%1\"").arg(name_)));
    }

    // The server's real-time thread: no locks, no allocation.
    static int Process(jack_nframes_t frames, void* data)
    {
        auto* self = static_cast<ProcessData*>(data);
        void* buffer = jack_port_get_buffer(self->port, frames);
        jack_midi_clear_buffer(buffer);
        char record[kRecord];
        while (jack_ringbuffer_read_space(self->ring.get()) >= kRecord) {
            jack_ringbuffer_peek(self->ring.get(), record, kRecord);
            const auto size = static_cast<std::size_t>(record[0]);
            jack_midi_data_t* event = jack_midi_event_reserve(buffer, 0, size);
            if (!event) break;  // the period's buffer is full: the rest goes next period
            std::memcpy(event, record + 1, size);
            jack_ringbuffer_read_advance(self->ring.get(), kRecord);
        }
        return 0;
    }

    QString name_;
    // The client closes first (members go in reverse), so no process cycle sees the ring freed.
    std::unique_ptr<ProcessData> data_;
    std::unique_ptr<JackClient> client_;
    bool hung_ = false;
};

}  // namespace

std::unique_ptr<OutputDevice> OpenJackMidiOutput(const QString& listedName, const QString& target)
{
    return std::make_unique<JackMidiOutput>(listedName, target);
}

}  // namespace vantor
