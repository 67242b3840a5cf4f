#pragma once

#include <QtGlobal>

namespace vantor {

// libjack starts a server of its own when none runs, which stalls a client for
// seconds and leaves a server behind; call this before any JACK client is made.
// A value the user set is left alone.
inline void KeepJackFromStartingServers()
{
    if (!qEnvironmentVariableIsSet("JACK_NO_START_SERVER")) qputenv("JACK_NO_START_SERVER", "1");
}

}  // namespace vantor
