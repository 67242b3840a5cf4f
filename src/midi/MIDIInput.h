#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "midi/PortAction.h"
#include "midi/backends/MidiDevice.h"

namespace vantor {

// The MIDI input port: buffers received short messages and reports their arrival
// on the UI thread. Status/Data1/Data2 are those of the oldest waiting message.
class MIDIInput : public QObject
{
    Q_OBJECT
public:
    explicit MIDIInput(std::shared_ptr<DeviceProvider> devices, QObject* parent = nullptr);
    ~MIDIInput() override;

    void SetAction(int action);

    int DeviceID() const;
    void SetDeviceID(int id);  // 0 .. DeviceCount()-1
    // The user chose the device: its next failure is reported even if it was before.
    void RetryDevice();
    QString ProductName() const;
    int DeviceCount();  // refreshes the device list snapshot
    int OpenState() const;

    int Status() const;
    int Data1() const;
    int Data2() const;
    int PendingCount() const;

signals:
    void Error(int code, QString description);
    void MessageReceived();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantor
