#include "platform/Clock.h"

#include <gtest/gtest.h>

namespace kestrix::platform {
namespace {

TEST(ClockTest, TickCountWrapsAtTwoToTheThirtyTwo) {
    constexpr uint64_t kWrap = 1ULL << 32;
    struct Step {
        uint64_t advance;
        uint32_t tick;
    };
    const Step steps[] = {{0, 0xFFFFFFF6u}, {5, 0xFFFFFFFBu}, {4, 0xFFFFFFFFu}, {1, 0u}, {10, 10u}};
    ManualClock clock(kWrap - 10);
    uint32_t first = clock.TickCount();
    uint64_t total = 0;
    for (const auto& s : steps) {
        clock.Advance(s.advance);
        total += s.advance;
        EXPECT_EQ(clock.TickCount(), s.tick) << "after " << total << " ms";
        // Unsigned differences keep measuring elapsed time across the wrap.
        EXPECT_EQ(static_cast<uint32_t>(clock.TickCount() - first), total);
    }
}

TEST(ClockTest, AdvanceMovesBothClocksAndWakesEveryListener) {
    ManualClock clock(1000, 5000);
    int woken = 0;
    clock.AddWakeListener([&] { ++woken; });
    clock.AddWakeListener([&] { woken += 10; });
    clock.Advance(250);
    EXPECT_EQ(clock.MonotonicMs(), 1250u);
    EXPECT_EQ(clock.UtcFileTime(), 5000u + 250u * 10000u);
    EXPECT_EQ(woken, 11);
}

}  // namespace
}  // namespace kestrix::platform
