#include "platform/Clock.h"

#include <atomic>
#include <chrono>

namespace kestrix::platform {

namespace {
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;
std::atomic<Clock*> gInstalled{nullptr};
}  // namespace

uint64_t SystemClock::MonotonicMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t SystemClock::UtcFileTime() {
    using namespace std::chrono;
    auto us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<uint64_t>(us) * 10 + kUnixEpochAsFileTime;
}

ManualClock::ManualClock(uint64_t startMs, uint64_t utcFileTime) : ms_(startMs), utc_(utcFileTime) {}

uint64_t ManualClock::MonotonicMs() {
    std::lock_guard lock(mutex_);
    return ms_;
}

uint64_t ManualClock::UtcFileTime() {
    std::lock_guard lock(mutex_);
    return utc_;
}

void ManualClock::AddWakeListener(std::function<void()> f) {
    std::lock_guard lock(mutex_);
    listeners_.push_back(std::move(f));
}

void ManualClock::Advance(uint64_t ms) {
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard lock(mutex_);
        ms_ += ms;
        utc_ += ms * 10'000;
        listeners = listeners_;
    }
    // Outside the lock: a listener may read the clock.
    for (auto& f : listeners) f();
}

Clock& DeviceClock() {
    static SystemClock system;
    Clock* c = gInstalled.load();
    return c ? *c : system;
}

void SetDeviceClock(Clock* clock) { gInstalled.store(clock); }

}  // namespace kestrix::platform
