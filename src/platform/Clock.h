// The device clock: a monotonic millisecond count (for ticks and timers) and the UTC
// wall clock (FILETIME, 100-ns units since 1601-01-01). One process-wide clock is
// injectable so tests can step time; every thread may read it.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace kestrix::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds on a steady clock with an arbitrary epoch.
    virtual uint64_t MonotonicMs() = 0;
    // UTC now, as FILETIME ticks.
    virtual uint64_t UtcFileTime() = 0;
    // Called with a function that must run whenever the clock jumps (a stepped clock);
    // message loops use it to re-check their timers. The real clock never calls it.
    virtual void AddWakeListener(std::function<void()>) {}
    // GetTickCount's value: monotonic milliseconds, wrapping at 2^32.
    uint32_t TickCount() { return static_cast<uint32_t>(MonotonicMs()); }
};

class SystemClock final : public Clock {
public:
    uint64_t MonotonicMs() override;
    uint64_t UtcFileTime() override;
};

// A clock that moves only when told to. Thread-safe.
class ManualClock final : public Clock {
public:
    explicit ManualClock(uint64_t startMs = 1000, uint64_t utcFileTime = 0);
    uint64_t MonotonicMs() override;
    uint64_t UtcFileTime() override;
    void AddWakeListener(std::function<void()> f) override;
    // Moves both clocks forward and wakes every listener.
    void Advance(uint64_t ms);

private:
    std::mutex mutex_;
    uint64_t ms_;
    uint64_t utc_;
    std::vector<std::function<void()>> listeners_;
};

// The process-wide device clock (the system clock unless a test installed another).
Clock& DeviceClock();
// Installs a clock (nullptr restores the system clock). The caller keeps ownership and
// must keep it alive until it is replaced.
void SetDeviceClock(Clock* clock);

inline uint32_t GetTickCount() { return DeviceClock().TickCount(); }

}  // namespace kestrix::platform
