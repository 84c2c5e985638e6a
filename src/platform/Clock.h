#pragma once

#include <QtGlobal>

#include <atomic>

namespace pelio::platform {

// Monotonic time in milliseconds, as everything of the program that measures time reads it (time
// limits, cool-downs, playback positions). The program uses one SteadyClock, chosen at start-up with
// the other platform services; tests drive a ManualClock instead of waiting for real time to pass.
// Timers still fire on real time: code that a timer wakes reads the clock to decide what is due.
class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary fixed point; never goes back. Safe from any thread.
    virtual qint64 NowMs() const = 0;
};

// The system's monotonic clock.
class SteadyClock : public Clock {
  public:
    qint64 NowMs() const override;
};

// A clock that moves only when told. Safe from any thread.
class ManualClock : public Clock {
  public:
    explicit ManualClock(qint64 startMs = 0) : m_now(startMs) {}
    qint64 NowMs() const override { return m_now.load(); }
    // Moves the clock forward; a negative step does nothing.
    void Advance(qint64 ms) {
        if (ms > 0) m_now.fetch_add(ms);
    }

  private:
    std::atomic<qint64> m_now;
};

// The clock of a caller that did not choose one: a SteadyClock shared by the whole program.
const Clock& DefaultClock();

}  // namespace pelio::platform
