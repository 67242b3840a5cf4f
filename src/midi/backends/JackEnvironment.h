#pragma once

#include <QLoggingCategory>

namespace vantor {

// Diagnostics of the device backends that are no error of the program (a driver
// that is not there, the output chosen): off unless asked for with
// QT_LOGGING_RULES="vantor.devices.debug=true". Warnings stay on.
Q_DECLARE_LOGGING_CATEGORY(lcDevices)

// libjack starts a server of its own when none runs, which stalls a client for
// seconds and leaves a server behind; call this before any JACK client is made.
// A value the user set is left alone.
void KeepJackFromStartingServers();

// Whether a JACK server answers, found without libjack (which prints a page of
// complaints when there is none): the server's socket accepts a connection. A
// libjack that is PipeWire's reaches PipeWire instead, which answers when its
// socket is there.
bool JackServerRunning();

// Sends libjack's own messages to the device log instead of stderr: its errors
// as warnings while a server runs (they are real then), as debug output when
// none does (each API asked finds it missing).
void RouteJackLog();

}  // namespace vantor
