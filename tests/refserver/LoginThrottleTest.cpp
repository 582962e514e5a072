#include "LoginThrottle.h"

#include <gtest/gtest.h>

namespace kestrix::refserver {
namespace {

using namespace std::chrono_literals;
using Clock = LoginThrottle::Clock;

TEST(LoginThrottleTest, AnAddressPastItsFreeFailuresTakesTurnsUntilTheyLeaveTheWindow) {
    LoginThrottle throttle(LoginThrottle::Policy{3, 60s, 2s, 2});
    const Clock::time_point t0{};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(throttle.Wait("a", t0 + 1s * i), 0s);
        throttle.Failed("a", t0 + 1s * i);
    }
    EXPECT_EQ(throttle.Wait("a", t0 + 10s), 0s);   // takes the turn
    EXPECT_EQ(throttle.Wait("a", t0 + 11s), 1s);   // waits for the next one
    EXPECT_EQ(throttle.Wait("b", t0 + 11s), 0s);   // another address is not held up
    EXPECT_EQ(throttle.Wait("a", t0 + 12s), 0s);
    EXPECT_EQ(throttle.Wait("a", t0 + 62s), 0s);   // the first failure has left the window
    EXPECT_EQ(throttle.Wait("a", t0 + 62s), 0s);
    // Past two addresses the one whose last failure is oldest is forgotten.
    throttle.Failed("b", t0 + 70s);
    throttle.Failed("c", t0 + 71s);
    EXPECT_EQ(throttle.Failures("a", t0 + 71s), 0u);
    EXPECT_EQ(throttle.Failures("b", t0 + 71s), 1u);
}

}  // namespace
}  // namespace kestrix::refserver
