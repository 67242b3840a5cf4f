#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "midi/backends/MidiDevice.h"

using jack_client_t = struct _jack_client;

namespace vantor {

// A JACK client of our own that knows when its server has gone (stopped,
// restarted, crashed): libjack calls back on shutdown, and from then on nothing
// sent through it can arrive. Closing it never waits for a dead server.
class JackClient
{
public:
    // Throws DeviceError (NoDriver) when no JACK server runs.
    explicit JackClient(const char* name);
    ~JackClient();
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    // Joins the server's graph; until then the client hears no shutdown.
    void Activate();
    jack_client_t* Handle() const { return client_; }
    bool ServerGone() const { return gone_.load(std::memory_order_acquire); }
    // Runs on libjack's thread when the server goes (at once if it has gone already).
    void OnShutdown(std::function<void()> hook);

private:
    static void Shutdown(void* self);
    jack_client_t* client_ = nullptr;
    std::atomic<bool> gone_{false};
    std::mutex hookLock_;
    std::function<void()> hook_;
};

// What a user reads when the server behind `what` went away.
QString JackServerStoppedText(const QString& what);

// A MIDI output port of our own client connected to another program's JACK MIDI
// input `target` (a full port name, "client:port"). Sends never block: they go
// through a lock-free ring that the server's process cycle empties.
std::unique_ptr<OutputDevice> OpenJackMidiOutput(const QString& listedName, const QString& target);

}  // namespace vantor
