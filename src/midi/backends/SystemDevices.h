#pragma once

#include <memory>

#include "midi/backends/MidiDevice.h"

namespace vantor {

// The machine's devices: output -1 is the built-in synthesizer, then the MIDI
// ports of every RtMidi API that works here. The program's own ports are left out.
std::shared_ptr<DeviceProvider> CreateSystemDevices();

}  // namespace vantor
