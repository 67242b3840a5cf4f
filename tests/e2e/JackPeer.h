#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class RtMidiIn;
class RtMidiOut;

namespace vantor::e2e {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

struct Arrival
{
    Clock::time_point time;
    Bytes message;
};

// The other program on the MIDI server: one JACK client records every message that
// reaches its input port with its arrival time, another plays notes from its output
// port. RtMidi gives each port its own client, so the two carry different names.
class JackPeer
{
public:
    JackPeer();
    ~JackPeer();
    JackPeer(const JackPeer&) = delete;
    JackPeer& operator=(const JackPeer&) = delete;

    // Full JACK port names, as the program lists them after its "JACK: " prefix.
    QString RecordPort() const;
    QString PlayPort() const;

    void Play(const Bytes& message);

    std::size_t Count() const;
    // Everything recorded from index `from` on.
    std::vector<Arrival> Since(std::size_t from) const;

    // The full names of the MIDI ports that a program could write to, in the order
    // RtMidi enumerates them (which is the order a program using RtMidi lists them).
    static std::vector<QString> WritablePorts();

private:
    static void OnMessage(double deltaSeconds, std::vector<unsigned char>* message, void* self);

    std::unique_ptr<RtMidiIn> in_;
    std::unique_ptr<RtMidiOut> out_;
    mutable std::mutex mutex_;
    std::vector<Arrival> received_;
};

}  // namespace vantor::e2e
