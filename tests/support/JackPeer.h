#pragma once

#include <rtmidi/RtMidi.h>

#include <QTest>
#include <string>
#include <vector>

#include "midi/MIDIOutput.h"

namespace vantor::test {

using Bytes = std::vector<unsigned char>;

// Another program on a real JACK server: "<name>Sound:in" records what it is
// sent, "<name>Keys:out" plays into our input.
class JackPeer
{
public:
    explicit JackPeer(const std::string& name)
        : in_(RtMidi::UNIX_JACK, name + "Sound"), out_(RtMidi::UNIX_JACK, name + "Keys")
    {
        in_.setErrorCallback(&Quiet);
        out_.setErrorCallback(&Quiet);
        in_.openVirtualPort("in");
        out_.openVirtualPort("out");
    }
    // One port after the other, each given time to settle: libjack can crash in its
    // notification thread when a port goes while another change is still being announced.
    ~JackPeer()
    {
        in_.closePort();
        QTest::qSleep(50);
        out_.closePort();
        QTest::qSleep(50);
    }
    std::vector<Bytes> Received()
    {
        for (Bytes message; (in_.getMessage(&message), !message.empty());)
            received_.push_back(message);
        return received_;
    }
    void Play(const Bytes& bytes) { out_.sendMessage(&bytes); }

private:
    static void Quiet(RtMidiError::Type, const std::string&, void*) {}
    std::vector<Bytes> received_;
    RtMidiIn in_;
    RtMidiOut out_;
};

// The id a port lists the device under, or -2 (an id no port accepts).
template <class Port>
int FindDevice(Port& port, const QString& name)
{
    for (int id = 0, count = port.DeviceCount(); id < count; ++id) {
        port.SetDeviceID(id);
        if (port.ProductName() == name) return id;
    }
    return -2;
}

inline void SendBytes(MIDIOutput& port, const Bytes& bytes, PortAction action = ActionSendMessage)
{
    port.SetStatus(bytes[0]);
    port.SetData1(bytes.size() > 1 ? bytes[1] : 0);
    port.SetData2(bytes.size() > 2 ? bytes[2] : 0);
    port.SetAction(action);
}

}  // namespace vantor::test
