#include "midi/MIDIInput.h"

#include <QMetaObject>
#include <deque>
#include <mutex>
#include <optional>

#include "ComponentError.h"

namespace vantor {

namespace {
// A UI thread that stalls for seconds under a flood of input must not grow without
// bound; beyond this the newest messages are dropped.
constexpr std::size_t kMaxWaiting = 1 << 16;
}  // namespace

struct MIDIInput::Impl
{
    Impl(MIDIInput& owner, std::shared_ptr<DeviceProvider> provider)
        : port(owner), devices(std::move(provider))
    {
    }

    MIDIInput& port;
    std::shared_ptr<DeviceProvider> devices;
    std::optional<std::vector<QString>> names;
    int deviceId = 0;

    std::unique_ptr<InputDevice> device;
    int openId = 0;
    QString openName;
    bool receiving = false;
    std::optional<std::pair<int, QString>> quietFailure;

    // Filled by the device's thread, read by the UI thread. A stop bumps the
    // generation, so an arrival notice posted before it is dropped.
    mutable std::mutex lock;
    std::deque<ShortMessage> waiting;
    std::uint64_t generation = 0;
    bool noticePosted = false;

    std::vector<QString>& Names()
    {
        if (!names) names = devices->InputNames();
        return *names;
    }

    std::optional<QString> NameOf(int id)
    {
        auto& list = Names();
        if (id < 0 || id >= static_cast<int>(list.size())) return std::nullopt;
        return list[static_cast<std::size_t>(id)];
    }

    void Fail(int id, const QString& name, int code, const QString& description)
    {
        const std::pair<int, QString> failed{id, name};
        if (quietFailure == failed) return;
        quietFailure = failed;
        emit port.Error(code, description);
    }

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
        const std::optional<QString> name = NameOf(deviceId);
        if (device) {
            if (name && openId == deviceId && openName == *name) return;
            emit port.Error(
                PortErrorCode::DeviceBusy,
                QStringLiteral("The MIDI input is already open on \"%1\"; close it before opening "
                               "another device.")
                    .arg(openName));
            return;
        }
        if (!name) {
            Fail(deviceId, {}, PortErrorCode::BadDeviceId,
                 QStringLiteral("There is no MIDI input device number %1.").arg(deviceId));
            return;
        }
        try {
            device = devices->OpenInput(deviceId, *name);
            if (!device)
                throw DeviceError(PortErrorCode::Unspecified, QStringLiteral("No device was opened."));
            openId = deviceId;
            openName = *name;
            quietFailure.reset();
        } catch (const DeviceError& error) {
            Fail(deviceId, *name, error.Code(), error.Description());
        } catch (const std::exception& error) {
            Fail(deviceId, *name, PortErrorCode::Unspecified,
                 QStringLiteral("The MIDI input \"%1\" could not be opened: %2")
                     .arg(*name, QString::fromLocal8Bit(error.what())));
        }
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
    return impl_->deviceId;
}

void MIDIInput::SetDeviceID(int id)
{
    if (id != impl_->deviceId) impl_->quietFailure.reset();
    impl_->deviceId = id;
}

QString MIDIInput::ProductName() const
{
    return impl_->NameOf(impl_->deviceId).value_or(QString());
}

int MIDIInput::DeviceCount()
{
    impl_->names = impl_->devices->InputNames();
    return static_cast<int>(impl_->names->size());
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
