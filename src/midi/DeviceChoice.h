#pragma once

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "midi/backends/MidiDevice.h"

namespace vantor {

// What a port knows of its devices: the list as it stood when last counted (a
// number stands for the name recorded then), the number chosen, the device open,
// and the one failing device whose retries stay quiet (stepping opens the output
// before every event; a message box each time would make the program unusable).
// A device that failed while open (a server gone, a SoundFont that would not
// load) is not opened again by those retries, since it would open "fine" and fail
// again; the user's own choice of a device (Retry) tries it and reports again.
// Devices fail on threads of their own; the port hears it on its own thread,
// tagged with the open it belongs to so a late report of a closed device is ignored.
template <class Device, class Handler>
void ForwardFailures(Device& device, QObject& port, std::uint64_t serial, Handler failed)
{
    device.OnFailure([&port, serial, failed](const DeviceError& error) {
        QMetaObject::invokeMethod(
            &port,
            [failed, serial, code = error.Code(), text = error.Description()] { failed(serial, code, text); },
            Qt::QueuedConnection);
    });
}

class DeviceChoice
{
public:
    using Lister = std::function<std::vector<QString>()>;
    using ErrorSink = std::function<void(int code, const QString& description)>;

    // kind names the port in messages ("output", "input"); defaultName, when given,
    // names device -1.
    DeviceChoice(QString kind, Lister list, std::function<QString()> defaultName = {})
        : kind_(std::move(kind)), list_(std::move(list)), defaultName_(std::move(defaultName))
    {
    }

    int Id() const { return id_; }
    void SetId(int id)
    {
        if (id != id_) Retry();
        id_ = id;
    }

    void Retry()
    {
        quietFailure_.reset();
        broken_.reset();
    }

    // The open device failed (and has been closed): report it unless reported before.
    void Broke(const ErrorSink& error, int code, const QString& description)
    {
        broken_ = std::pair{openId_, openName_};
        Fail(error, openName_, code, description, openId_);
    }

    int Count()
    {
        names_ = list_();
        return static_cast<int>(names_->size());
    }

    std::optional<QString> NameOf(int id)
    {
        if (id == -1 && defaultName_) return defaultName_();
        if (!names_) names_ = list_();
        if (id < 0 || id >= static_cast<int>(names_->size())) return std::nullopt;
        return (*names_)[static_cast<std::size_t>(id)];
    }

    // Opens the chosen device through open(id, name). A device already open under
    // the same number and name stays as it is; failures reach error, once per
    // failing device. Returns what was opened, or nothing.
    template <class Device, class Opener>
    std::unique_ptr<Device> Open(bool alreadyOpen, Opener&& open, const ErrorSink& error)
    {
        const std::optional<QString> name = NameOf(id_);
        if (alreadyOpen) {
            if (!(name && openId_ == id_ && openName_ == *name))
                error(PortErrorCode::DeviceBusy,
                      QStringLiteral("The MIDI %1 is already open on \"%2\"; close it before opening "
                                     "another device.")
                          .arg(kind_, openName_));
            return nullptr;
        }
        if (broken_ && *broken_ == std::pair{id_, name.value_or(QString())}) return nullptr;
        if (!name) {
            Fail(error, {}, PortErrorCode::BadDeviceId,
                 QStringLiteral("There is no MIDI %1 device number %2.").arg(kind_).arg(id_));
            return nullptr;
        }
        try {
            std::unique_ptr<Device> device = std::forward<Opener>(open)(id_, *name);
            if (!device)
                throw DeviceError(PortErrorCode::Unspecified, QStringLiteral("No device was opened."));
            openId_ = id_;
            openName_ = *name;
            quietFailure_.reset();
            return device;
        } catch (const DeviceError& failure) {
            Fail(error, *name, failure.Code(), failure.Description());
        } catch (const std::exception& failure) {
            Fail(error, *name, PortErrorCode::Unspecified,
                 QStringLiteral("The MIDI %1 \"%2\" could not be opened: %3")
                     .arg(kind_, *name, QString::fromLocal8Bit(failure.what())));
        }
        return nullptr;
    }

private:
    void Fail(const ErrorSink& error, const QString& name, int code, const QString& description)
    {
        Fail(error, name, code, description, id_);
    }
    void Fail(const ErrorSink& error, const QString& name, int code, const QString& description, int id)
    {
        std::pair<int, QString> failed{id, name};
        if (quietFailure_ == failed) return;
        quietFailure_ = std::move(failed);
        error(code, description);
    }

    QString kind_;
    Lister list_;
    std::function<QString()> defaultName_;
    std::optional<std::vector<QString>> names_;
    int id_ = 0;
    int openId_ = 0;
    QString openName_;
    std::optional<std::pair<int, QString>> quietFailure_;
    std::optional<std::pair<int, QString>> broken_;
};

}  // namespace vantor
