#include "midi/backends/SystemDevices.h"

#include <alsa/asoundlib.h>

#include "midi/backends/BuiltInSynth.h"
#include "midi/backends/JackEnvironment.h"
#include "midi/backends/RtMidiPorts.h"

namespace vantor {

namespace {

// libasound prints to stderr when there is no sequencer; that is no error for
// us: the ALSA list is simply empty.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

class SystemDevices : public DeviceProvider
{
public:
    QString DefaultOutputName() override { return BuiltInSynth::ProductName(); }
    std::vector<QString> OutputNames() override { return lister_.OutputNames(); }
    std::vector<QString> InputNames() override { return lister_.InputNames(); }

    std::unique_ptr<OutputDevice> OpenOutput(int id, const QString& name) override
    {
        if (id == -1) return BuiltInSynth::Open();
        return rtmidi_ports::OpenOutput(name);
    }
    std::unique_ptr<InputDevice> OpenInput(int, const QString& name) override
    {
        return rtmidi_ports::OpenInput(name);
    }

private:
    rtmidi_ports::PortLister lister_;
};

}  // namespace

std::shared_ptr<DeviceProvider> CreateSystemDevices()
{
    KeepJackFromStartingServers();
    RouteJackLog();
    snd_lib_error_set_handler(&QuietAlsa);
    RouteFluidSynthLog();
    return std::make_shared<SystemDevices>();
}

}  // namespace vantor
