#include "midi/MIDIOutput.h"

#include <QMetaObject>
#include <QPointer>
#include <deque>
#include <mutex>
#include <optional>

#include "common/ComponentError.h"
#include "midi/DeviceChoice.h"
#include "midi/TimedQueue.h"

namespace vantor {

namespace {

// Only channel messages go out as short messages; data bytes keep their 7 bits.
std::optional<ShortMessage> ChannelMessage(int status, int data1, int data2)
{
    if (status < 0x80 || status >= 0xF0) return std::nullopt;
    return ShortMessage{static_cast<std::uint8_t>(status), static_cast<std::uint8_t>(data1 & 0x7F),
                        static_cast<std::uint8_t>(data2 & 0x7F)};
}

}  // namespace

struct MIDIOutput::Impl
{
    explicit Impl(MIDIOutput& owner, std::shared_ptr<DeviceProvider> provider)
        : port(owner),
          devices(std::move(provider)),
          choice(
              QStringLiteral("output"), [this] { return devices->OutputNames(); },
              [this] { return devices->DefaultOutputName(); })
    {
        choice.SetId(-1);
    }

    MIDIOutput& port;
    std::shared_ptr<DeviceProvider> devices;
    DeviceChoice choice;

    // The open device; the worker sends to it under sendLock.
    std::mutex sendLock;
    std::unique_ptr<OutputDevice> device;
    std::uint64_t opens = 0;  // which opening of a device a failure report belongs to

    int status = 0, data1 = 0, data2 = 0;
    double timeStamp = 0;
    std::int32_t tag = 0;

    // Reports from the worker waiting for the UI thread. A stop or clear bumps the
    // generation, so reports posted before it are dropped.
    struct Pending
    {
        std::uint64_t generation;
        TimedQueue::Report report;
    };
    std::mutex reportLock;
    std::deque<Pending> reports;
    std::uint64_t generation = 0;
    bool drainPosted = false;

    TimedQueue queue{[this](const ShortMessage& message) { SendLocked(message); },
                     [this](TimedQueue::Report report) { Post(std::move(report)); }};

    void SendLocked(const ShortMessage& message)
    {
        const std::lock_guard lock(sendLock);
        if (device) device->Send(message);
    }

    void Post(TimedQueue::Report report)
    {
        {
            const std::lock_guard lock(reportLock);
            reports.push_back({generation, std::move(report)});
            if (drainPosted) return;
            drainPosted = true;
        }
        QMetaObject::invokeMethod(
            &port, [this] { Drain(); }, Qt::QueuedConnection);
    }

    void Invalidate()
    {
        const std::lock_guard lock(reportLock);
        ++generation;
        reports.clear();
    }

    // Runs on the UI thread. One report at a time, so a handler that yields or
    // stops the queue sees a consistent state, and each report is delivered once.
    void Drain()
    {
        const QPointer<MIDIOutput> alive(&port);
        {
            const std::lock_guard lock(reportLock);
            drainPosted = false;
        }
        for (;;) {
            std::optional<TimedQueue::Report> report;
            {
                const std::lock_guard lock(reportLock);
                while (!reports.empty() && !report) {
                    if (reports.front().generation == generation) report = std::move(reports.front().report);
                    reports.pop_front();
                }
            }
            if (!report) return;
            Deliver(*report);
            if (!alive) return;
        }
    }

    void Deliver(const TimedQueue::Report& report)
    {
        switch (report.kind) {
            case TimedQueue::Report::Kind::Played:
                emit port.MessagePlayed(report.tag);
                break;
            case TimedQueue::Report::Kind::Empty:
                emit port.QueueEmpty();
                break;
            case TimedQueue::Report::Kind::Failed:
                Close();
                choice.Broke(ReportError(), report.code, report.description);
                break;
        }
    }

    DeviceChoice::ErrorSink ReportError()
    {
        return [this](int code, const QString& description) { emit port.Error(code, description); };
    }

    void Open()
    {
        auto opened = choice.Open<OutputDevice>(
            device != nullptr, [this](int id, const QString& name) { return devices->OpenOutput(id, name); },
            ReportError());
        if (!opened) return;
        OutputDevice& fresh = *opened;
        {
            const std::lock_guard lock(sendLock);
            device = std::move(opened);
        }
        const std::uint64_t serial = ++opens;
        ForwardFailures(fresh, port, serial, [this](std::uint64_t which, int code, const QString& text) {
            Failed(which, code, text);
        });
    }

    // On the UI thread: the device opened as `serial` failed; it may have been closed since.
    void Failed(std::uint64_t serial, int code, const QString& description)
    {
        if (serial != opens || !device) return;
        Close();
        choice.Broke(ReportError(), code, description);
    }

    void Close()
    {
        queue.Clear();
        Invalidate();
        std::unique_ptr<OutputDevice> closing;
        {
            const std::lock_guard lock(sendLock);
            closing = std::move(device);
        }
        // Destroyed outside the lock: a backend may take its time to let go.
        closing.reset();
    }

    void SendNow()
    {
        const auto message = ChannelMessage(status, data1, data2);
        if (!message) return;
        try {
            SendLocked(*message);
        } catch (const DeviceError& error) {
            // The device is gone: close first, so handlers that silence the output find it closed.
            Close();
            choice.Broke(ReportError(), error.Code(), error.Description());
        } catch (const std::exception& error) {
            Close();
            choice.Broke(
                ReportError(), PortErrorCode::Unspecified,
                QStringLiteral("The MIDI output failed: %1").arg(QString::fromLocal8Bit(error.what())));
        }
    }

    void QueueMessage()
    {
        const std::int32_t messageTag = tag;
        tag = 0;
        // Anything that is no channel message keeps its place but is never sent.
        const auto message = ChannelMessage(status, data1, data2);
        queue.Append(message.value_or(ShortMessage{0xFF, 0, 0}), timeStamp, messageTag);
    }
};

MIDIOutput::MIDIOutput(std::shared_ptr<DeviceProvider> devices, QObject* parent) : QObject(parent)
{
    if (!devices) throw ComponentError("MIDIOutput needs a device provider.");
    impl_ = std::make_unique<Impl>(*this, std::move(devices));
}

MIDIOutput::~MIDIOutput()
{
    impl_->Close();
}

void MIDIOutput::SetAction(int action)
{
    Impl& d = *impl_;
    switch (action) {
        case ActionOpen:
            d.Open();
            return;
        case ActionClose:
            d.Close();
            return;
        case ActionClearQueue:
            if (!d.device) return;
            d.queue.Clear();
            d.Invalidate();
            return;
        case ActionStartQueue:
            if (!d.device) return;
            d.queue.Stop();
            d.Invalidate();
            d.queue.Start();
            return;
        case ActionStopQueue:
            if (!d.device) return;
            d.queue.Stop();
            d.Invalidate();
            return;
        case ActionQueueMessage:
            if (!d.device) return;
            d.QueueMessage();
            return;
        case ActionSendMessage:
            d.SendNow();
            return;
        default:
            throw ComponentError(
                QStringLiteral("%1 is not a command of the MIDI output.").arg(action).toStdString());
    }
}

int MIDIOutput::DeviceID() const
{
    return impl_->choice.Id();
}

void MIDIOutput::SetDeviceID(int id)
{
    impl_->choice.SetId(id);
}

void MIDIOutput::RetryDevice()
{
    impl_->choice.Retry();
}

QString MIDIOutput::ProductName() const
{
    return impl_->choice.NameOf(impl_->choice.Id()).value_or(QString());
}

int MIDIOutput::DeviceCount()
{
    return impl_->choice.Count();
}

int MIDIOutput::OpenState() const
{
    return impl_->device ? 1 : 0;
}

std::uint32_t MIDIOutput::Capabilities() const
{
    return impl_->device ? impl_->device->Capabilities() : 0;
}
bool MIDIOutput::HasVolume() const
{
    return impl_->device && impl_->device->HasVolume();
}
bool MIDIOutput::HasStereoVolume() const
{
    return impl_->device && impl_->device->HasStereoVolume();
}
std::int32_t MIDIOutput::Volume() const
{
    return impl_->device ? impl_->device->Volume() : 0;
}
std::int32_t MIDIOutput::RightVolume() const
{
    return impl_->device ? impl_->device->RightVolume() : 0;
}

void MIDIOutput::SetVolume(std::int32_t volume)
{
    if (impl_->device) impl_->device->SetVolume(volume);
}

void MIDIOutput::SetRightVolume(std::int32_t volume)
{
    if (impl_->device) impl_->device->SetRightVolume(volume);
}

void MIDIOutput::SetStatus(int status)
{
    impl_->status = status;
}
void MIDIOutput::SetData1(int data1)
{
    impl_->data1 = data1;
}
void MIDIOutput::SetData2(int data2)
{
    impl_->data2 = data2;
}
void MIDIOutput::SetTimeStamp(double milliseconds)
{
    impl_->timeStamp = milliseconds;
}
void MIDIOutput::SetTag(std::int32_t tag)
{
    impl_->tag = tag;
}

void MIDIOutput::SetQueueLoop(std::size_t first, double periodMilliseconds)
{
    impl_->queue.SetLoop(first, periodMilliseconds);
}
void MIDIOutput::SetQueueRate(double rate)
{
    impl_->queue.SetRate(rate);
}

}  // namespace vantor
