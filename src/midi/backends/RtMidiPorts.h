#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "midi/backends/MidiDevice.h"

namespace vantor {

class JackClient;

// The system's MIDI ports through RtMidi, over every API compiled in that works
// here. A port is named "<API>: <port>" (for example "JACK: synth:midi_in"), and
// that name is what finds it again when it is opened: port numbers shift whenever
// any client comes or goes. The program's own client, "Vantor", is never listed.
namespace rtmidi_ports {

inline constexpr const char* kClientName = "Vantor";

// Fills the device lists. It keeps one JACK client while a server runs and
// none when it does not.
class PortLister
{
public:
    PortLister();
    ~PortLister();
    PortLister(const PortLister&) = delete;
    PortLister& operator=(const PortLister&) = delete;

    std::vector<QString> OutputNames();
    std::vector<QString> InputNames();

private:
    std::vector<QString> Names(bool outputs);
    std::unique_ptr<JackClient> jack_;
};

// Throw DeviceError when the port has gone or cannot be opened.
std::unique_ptr<OutputDevice> OpenOutput(const QString& name);
std::unique_ptr<InputDevice> OpenInput(const QString& name);

// True for a port of this program's own client ("Vantor:..." or "Vantor-01:..." in JACK).
bool IsOwnPort(const QString& portName);

}  // namespace rtmidi_ports

}  // namespace vantor
