#include "midi/TimedQueue.h"

#include <algorithm>
#include <cmath>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#endif

namespace vantor {

// Where granted, the queue keeps its time under load.
void AskForTimelyWakeUps()
{
#if defined(__linux__)
    prctl(PR_SET_TIMERSLACK, 1UL);
    sched_param param{};
    param.sched_priority = std::max(1, sched_get_priority_min(SCHED_FIFO) + 10);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
#endif
}

namespace {

// The worker wakes this much before a due time and waits out the rest awake: a
// wake-up from sleep comes tens of microseconds late, and more under load.
constexpr auto kWakeEarly = std::chrono::microseconds(100);

void SpinUntil(TimedQueue::Clock::time_point due)
{
    while (TimedQueue::Clock::now() < due)
        std::this_thread::yield();
}

// Room for a large chord, so the worker rarely allocates.
constexpr std::size_t kBatchCapacity = 256;

// Above this many spare slots a cleared queue gives its memory back (a long song is a million entries).
constexpr std::size_t kKeptCapacity = 1 << 16;
}  // namespace

TimedQueue::TimedQueue(std::function<void(const ShortMessage&)> send, std::function<void(Report)> notify)
    : send_(std::move(send)), notify_(std::move(notify))
{
}

TimedQueue::~TimedQueue()
{
    Stop();
}

void TimedQueue::Append(const ShortMessage& message, double dueMilliseconds, std::int32_t tag)
{
    double micros = std::isfinite(dueMilliseconds) ? dueMilliseconds * 1000.0 : 0.0;
    micros = std::clamp(micros, 0.0, 1e15);
    const std::lock_guard lock(mutex_);
    entries_.push_back({static_cast<std::int64_t>(micros), tag, message});
    wake_.notify_one();
}

void TimedQueue::Start()
{
    Stop();
    {
        const std::lock_guard lock(mutex_);
        if (next_ < entries_.size()) {
            stopRequested_ = false;
            batch_.reserve(kBatchCapacity);
            anchorClock_ = Clock::now();
            anchorQueueMicroseconds_ = 0.0;
            worker_ = std::thread(&TimedQueue::Run, this);
            return;
        }
    }
    notify_(Report{Report::Kind::Empty, 0, 0, {}});
}

void TimedQueue::Stop()
{
    {
        const std::lock_guard lock(mutex_);
        stopRequested_ = true;
        wake_.notify_all();
    }
    if (worker_.joinable()) worker_.join();
}

void TimedQueue::Clear()
{
    Stop();
    const std::lock_guard lock(mutex_);
    entries_.clear();
    if (entries_.capacity() > kKeptCapacity) entries_.shrink_to_fit();
    next_ = 0;
    loopFirst_ = 0;
    loopPeriodMicroseconds_ = 0.0;
    round_ = 0;
    rate_ = 1.0;
}

void TimedQueue::SetLoop(std::size_t first, double periodMilliseconds)
{
    const std::lock_guard lock(mutex_);
    loopFirst_ = first;
    loopPeriodMicroseconds_ =
        std::isfinite(periodMilliseconds) && periodMilliseconds > 0 ? periodMilliseconds * 1000.0 : 0.0;
    ++changes_;
    wake_.notify_all();
}

void TimedQueue::SetRate(double rate)
{
    if (!std::isfinite(rate) || rate <= 0) return;
    const std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    if (worker_.joinable()) {
        const double since = std::chrono::duration<double, std::micro>(now - anchorClock_).count();
        anchorQueueMicroseconds_ += since * rate_;
        anchorClock_ = now;
    }
    rate_ = rate;
    ++changes_;
    wake_.notify_all();
}

TimedQueue::Clock::time_point TimedQueue::DueLocked(std::size_t index) const
{
    // Rounds are counted from the first, not added up: no drift over any number of them.
    double due = static_cast<double>(entries_[index].dueMicroseconds);
    if (index >= loopFirst_) due += static_cast<double>(round_) * loopPeriodMicroseconds_;
    const double wait = (due - anchorQueueMicroseconds_) / rate_;
    return anchorClock_ +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::micro>(wait));
}

bool TimedQueue::Running() const
{
    const std::lock_guard lock(mutex_);
    return worker_.joinable() && !stopRequested_;
}

std::size_t TimedQueue::Pending() const
{
    const std::lock_guard lock(mutex_);
    return entries_.size() - next_;
}

void TimedQueue::Fail(std::unique_lock<std::mutex>& lock, std::size_t failed, int code,
                      const QString& description)
{
    lock.lock();
    // What came after the failed message in its batch was not sent: it stays queued.
    next_ = failed + 1;
    stopRequested_ = true;
    lock.unlock();
    notify_(Report{Report::Kind::Failed, 0, code, description});
}

void TimedQueue::Run()
{
    AskForTimelyWakeUps();
    std::unique_lock lock(mutex_);
    while (!stopRequested_) {
        if (next_ >= entries_.size() && loopPeriodMicroseconds_ > 0 && loopFirst_ < entries_.size()) {
            next_ = loopFirst_;
            ++round_;
        }
        if (next_ >= entries_.size()) {
            // Marked stopped before the report, so Running() is false once it is handled.
            stopRequested_ = true;
            lock.unlock();
            notify_(Report{Report::Kind::Empty, 0, 0, {}});
            return;
        }
        const auto due = DueLocked(next_);
        const auto now = Clock::now();
        if (now < due - kWakeEarly) {
            // A new loop or rate moves the due time: work it out again.
            const std::uint64_t seen = changes_;
            wake_.wait_until(lock, due - kWakeEarly,
                             [this, seen] { return stopRequested_ || changes_ != seen; });
            continue;
        }
        if (now < due) {
            lock.unlock();
            SpinUntil(due);
            lock.lock();
            continue;
        }
        // Everything due goes out before any report: reporting is slower than
        // sending and would make the last notes of a chord late.
        batch_.clear();
        for (; next_ < entries_.size() && DueLocked(next_) <= now; ++next_)
            if (entries_[next_].message.status < 0xF0) batch_.push_back({next_, entries_[next_]});
        lock.unlock();
        std::size_t sent = 0;
        try {
            for (; sent < batch_.size(); ++sent)
                send_(batch_[sent].entry.message);
        } catch (const DeviceError& error) {
            ReportPlayed(sent);
            Fail(lock, batch_[sent].index, error.Code(), error.Description());
            return;
        } catch (const std::exception& error) {
            // Nothing may escape the worker thread: that would end the program.
            ReportPlayed(sent);
            Fail(lock, batch_[sent].index, PortErrorCode::Unspecified,
                 QStringLiteral("The MIDI output failed: %1").arg(QString::fromLocal8Bit(error.what())));
            return;
        }
        ReportPlayed(sent);
        lock.lock();
    }
}

void TimedQueue::ReportPlayed(std::size_t sent)
{
    for (std::size_t i = 0; i < sent; ++i)
        if (batch_[i].entry.tag != 0) notify_(Report{Report::Kind::Played, batch_[i].entry.tag, 0, {}});
}

}  // namespace vantor
