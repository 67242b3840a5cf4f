#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

#include "midi/PortAction.h"
#include "midi/backends/MidiDevice.h"

namespace vantor {

// The MIDI output port: device enumeration, open and close, device volume,
// immediate sends and a timed queue whose tagged messages are reported back.
// Events are delivered on the UI thread. Never throws for what the device does:
// it raises Error and stays closed.
class MIDIOutput : public QObject
{
    Q_OBJECT
public:
    explicit MIDIOutput(std::shared_ptr<DeviceProvider> devices, QObject* parent = nullptr);
    ~MIDIOutput() override;

    void SetAction(int action);

    int DeviceID() const;
    void SetDeviceID(int id);  // -1 (default output) .. DeviceCount()-1
    // The user chose the device: its next failure is reported even if it was before.
    void RetryDevice();
    QString ProductName() const;
    int DeviceCount();  // refreshes the device list snapshot
    int OpenState() const;

    std::uint32_t Capabilities() const;
    bool HasVolume() const;
    bool HasStereoVolume() const;
    std::int32_t Volume() const;
    void SetVolume(std::int32_t volume);
    std::int32_t RightVolume() const;
    void SetRightVolume(std::int32_t volume);

    void SetStatus(int status);
    void SetData1(int data1);
    void SetData2(int data2);
    void SetTimeStamp(double milliseconds);
    void SetTag(std::int32_t tag);
    // The timed queue repeats from its message `first` (0-based, in queueing order)
    // every periodMilliseconds until stopped; ActionClearQueue ends the loop.
    void SetQueueLoop(std::size_t first, double periodMilliseconds);
    // From now on the queue runs `rate` times as fast (speed changes during
    // playback); ActionClearQueue puts it back to 1.
    void SetQueueRate(double rate);

signals:
    void Error(int code, QString description);
    void MessagePlayed(qint32 tag);
    void QueueEmpty();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantor
