#include "midi/MIDIInput.h"

#include <deque>
#include <mutex>
#include <optional>

#include "common/ComponentError.h"
#include "midi/DeviceChoice.h"

namespace vantor {

namespace {
// A UI thread that stalls for seconds under a flood of input must not grow without
// bound; beyond this the newest messages are dropped.
constexpr std::size_t kMaxWaiting = 1 << 16;
}  // namespace

struct MIDIInput::Impl
{
    Impl(MIDIInput& owner, std::shared_ptr<DeviceProvider> provider)
        : port(owner),
          devices(std::move(provider)),
          choice(QStringLiteral("input"), [this] { return devices->InputNames(); })
    {
    }

    MIDIInput& port;
    std::shared_ptr<DeviceProvider> devices;
    DeviceChoice choice;

    std::unique_ptr<InputDevice> device;
    std::uint64_t opens = 0;  // which opening of a device a failure report belongs to
    bool receiving = false;

    // Filled by the device's thread, read by the UI thread. A stop bumps the
    // generation, so an arrival notice posted before it is dropped.
    mutable std::mutex lock;
    std::deque<ShortMessage> waiting;
    std::uint64_t generation = 0;
    bool noticePosted = false;

    void Receive(const ShortMessage& message)
    {
        std::uint64_t postedGeneration = 0;
        {
            const std::lock_guard guard(lock);
            if (waiting.size() >= kMaxWaiting) return;
            waiting.push_back(message);
            if (noticePosted) return;
            noticePosted = true;
            postedGeneration = generation;
        }
        QMetaObject::invokeMethod(
            &port, [this, postedGeneration] { Notice(postedGeneration); }, Qt::QueuedConnection);
    }

    void Notice(std::uint64_t postedGeneration)
    {
        {
            const std::lock_guard guard(lock);
            if (postedGeneration != generation) return;
            noticePosted = false;
            if (waiting.empty()) return;
        }
        emit port.MessageReceived();
    }

    void Invalidate()
    {
        const std::lock_guard guard(lock);
        ++generation;
        noticePosted = false;
    }

    void Open()
    {
        auto opened = choice.Open<InputDevice>(
            device != nullptr, [this](int id, const QString& name) { return devices->OpenInput(id, name); },
            [this](int code, const QString& description) { emit port.Error(code, description); });
        if (!opened) return;
        device = std::move(opened);
        const std::uint64_t serial = ++opens;
        ForwardFailures(*device, port, serial, [this](std::uint64_t which, int code, const QString& text) {
            Failed(which, code, text);
        });
    }

    // On the UI thread: the device opened as `serial` failed; it may have been closed since.
    void Failed(std::uint64_t serial, int code, const QString& description)
    {
        if (serial != opens || !device) return;
        Close();
        choice.Broke([this](int c, const QString& text) { emit port.Error(c, text); }, code, description);
    }

    void Start()
    {
        if (!device || receiving) return;
        try {
            device->Start([this](const ShortMessage& message) { Receive(message); });
            receiving = true;
        } catch (const DeviceError& error) {
            emit port.Error(error.Code(), error.Description());
        }
    }

    void Stop()
    {
        if (device && receiving) device->Stop();
        receiving = false;
        Invalidate();
    }

    void Close()
    {
        Stop();
        device.reset();
        const std::lock_guard guard(lock);
        waiting.clear();
    }

    ShortMessage Oldest() const
    {
        const std::lock_guard guard(lock);
        return waiting.empty() ? ShortMessage{} : waiting.front();
    }
};

MIDIInput::MIDIInput(std::shared_ptr<DeviceProvider> devices, QObject* parent) : QObject(parent)
{
    if (!devices) throw ComponentError("MIDIInput needs a device provider.");
    impl_ = std::make_unique<Impl>(*this, std::move(devices));
}

MIDIInput::~MIDIInput()
{
    impl_->Close();
}

void MIDIInput::SetAction(int action)
{
    Impl& d = *impl_;
    switch (action) {
        case ActionOpen:
            d.Open();
            return;
        case ActionClose:
            d.Close();
            return;
        case ActionStart:
            d.Start();
            return;
        case ActionStop:
            d.Stop();
            return;
        case ActionRemoveMessage: {
            const std::lock_guard guard(d.lock);
            if (!d.waiting.empty()) d.waiting.pop_front();
            return;
        }
        default:
            throw ComponentError(
                QStringLiteral("%1 is not a command of the MIDI input.").arg(action).toStdString());
    }
}

int MIDIInput::DeviceID() const
{
    return impl_->choice.Id();
}

void MIDIInput::SetDeviceID(int id)
{
    impl_->choice.SetId(id);
}

void MIDIInput::RetryDevice()
{
    impl_->choice.Retry();
}

QString MIDIInput::ProductName() const
{
    return impl_->choice.NameOf(impl_->choice.Id()).value_or(QString());
}

int MIDIInput::DeviceCount()
{
    return impl_->choice.Count();
}

int MIDIInput::OpenState() const
{
    return impl_->device ? 1 : 0;
}
int MIDIInput::Status() const
{
    return impl_->Oldest().status;
}
int MIDIInput::Data1() const
{
    return impl_->Oldest().data1;
}
int MIDIInput::Data2() const
{
    return impl_->Oldest().data2;
}

int MIDIInput::PendingCount() const
{
    const std::lock_guard guard(impl_->lock);
    return static_cast<int>(std::min<std::size_t>(impl_->waiting.size(), 0x7FFF));
}

}  // namespace vantor
