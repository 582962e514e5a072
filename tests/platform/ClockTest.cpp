#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <utility>

namespace kestrix::platform {
namespace {

// The tick count wraps at 2^32 and unsigned differences keep measuring across the wrap;
// Advance moves both clocks and wakes every listener.
TEST(ClockTest, TicksWrapAtTwoToTheThirtyTwoAndAdvanceWakesEveryListener) {
    ManualClock clock((1ULL << 32) - 10, 5000);
    const uint32_t first = clock.TickCount();
    uint64_t total = 0;
    for (auto [advance, tick] : {std::pair<uint64_t, uint32_t>{0, 0xFFFFFFF6u}, {5, 0xFFFFFFFBu}, {4, 0xFFFFFFFFu},
                                 {1, 0u}, {10, 10u}}) {
        clock.Advance(advance);
        total += advance;
        EXPECT_EQ(clock.TickCount(), tick) << "after " << total << " ms";
        EXPECT_EQ(static_cast<uint32_t>(clock.TickCount() - first), total);
    }
    int woken = 0;
    clock.AddWakeListener([&] { ++woken; });
    clock.AddWakeListener([&] { woken += 10; });
    clock.Advance(250);
    EXPECT_EQ(clock.MonotonicMs(), (1ULL << 32) + 260);
    EXPECT_EQ(clock.UtcFileTime(), 5000u + 270u * 10000u);
    EXPECT_EQ(woken, 11);
}

}  // namespace
}  // namespace kestrix::platform
