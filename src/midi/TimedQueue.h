#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/backends/MidiDevice.h"

namespace vantor {

// Asks for real-time priority and a fine timer slack for the calling thread, as
// musicians' systems often grant (the audio group); refused quietly elsewhere.
void AskForTimelyWakeUps();

// The output port's timed queue: one worker thread sends each message at its due
// time, counted from the start instant (absolute times, so nothing drifts).
// Sent messages are consumed; a stopped queue keeps what it has not sent yet.
// The owner's callbacks run on the worker: Send under the owner's send lock,
// Notify to hand a report over to the UI thread.
class TimedQueue
{
public:
    using Clock = std::chrono::steady_clock;

    struct Report
    {
        enum class Kind
        {
            Played,
            Empty,
            Failed
        };
        Kind kind = Kind::Played;
        std::int32_t tag = 0;
        int code = 0;
        QString description;
    };

    // Send throws DeviceError when the device fails; the queue then ends with a Failed report.
    TimedQueue(std::function<void(const ShortMessage&)> send, std::function<void(Report)> notify);
    ~TimedQueue();
    TimedQueue(const TimedQueue&) = delete;
    TimedQueue& operator=(const TimedQueue&) = delete;

    // Tag 0 reports nothing. Messages with a status of 0xF0 and above keep their
    // place but are never sent (a 0xFF on a MIDI cable is a System Reset).
    void Append(const ShortMessage& message, double dueMilliseconds, std::int32_t tag);
    // Starting with nothing left reports Empty at once, from the calling thread.
    void Start();
    // Returns once the worker has ended: nothing is sent after it.
    void Stop();
    void Clear();  // stops first; also ends the loop and puts the rate back to 1

    // From message `first` (0-based, in append order) on, the messages repeat for
    // ever, round r due r x periodMilliseconds after the first round. An empty
    // period ends the loop.
    void SetLoop(std::size_t first, double periodMilliseconds);
    // From now on the queue's time runs `rate` times as fast as the clock (2: every
    // message still to come is due in half the time), with no jump at the change.
    void SetRate(double rate);

    bool Running() const;
    std::size_t Pending() const;  // messages not yet sent

private:
    struct Entry
    {
        std::int64_t dueMicroseconds;
        std::int32_t tag;
        ShortMessage message;
    };
    struct Batched
    {
        std::size_t index;
        Entry entry;
    };
    void Run();
    // When entry index is due on the clock; under the lock.
    Clock::time_point DueLocked(std::size_t index) const;
    void ReportPlayed(std::size_t sent);
    void Fail(std::unique_lock<std::mutex>& lock, std::size_t failed, int code, const QString& description);

    std::function<void(const ShortMessage&)> send_;
    std::function<void(Report)> notify_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Entry> entries_;
    std::size_t next_ = 0;
    std::size_t loopFirst_ = 0;
    double loopPeriodMicroseconds_ = 0.0;  // 0: no loop
    std::int64_t round_ = 0;
    // The queue's time is anchorQueue_ at anchorClock_ and runs at rate_ since.
    Clock::time_point anchorClock_{};
    double anchorQueueMicroseconds_ = 0.0;
    double rate_ = 1.0;
    std::uint64_t changes_ = 0;  // wakes the worker to work its waits out again
    bool stopRequested_ = false;
    std::vector<Batched> batch_;  // the worker's own: what it sends in one go
    std::thread worker_;
};

}  // namespace vantor
