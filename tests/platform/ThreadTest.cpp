#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace kestrix::platform {
namespace {

TEST(ThreadTest, JoinTimesOutWhileTheBodyRunsAndOneBodyRunsAtATime) {
    Event release(true);
    Thread t;
    ASSERT_TRUE(t.Start([&] { release.Wait(-1); }, "blocked"));
    EXPECT_TRUE(t.Running());
    EXPECT_FALSE(t.Join(0));
    EXPECT_TRUE(t.Running());
    EXPECT_FALSE(t.Ended());
    release.Set();
    EXPECT_TRUE(t.Join(-1));
    EXPECT_FALSE(t.Running());
    EXPECT_TRUE(t.Ended());
    EXPECT_TRUE(t.Join(0));  // nothing held

    // One body at a time; after a join the thread starts again.
    std::atomic<int> runs{0};
    release.Reset();
    ASSERT_TRUE(t.Start([&] {
        release.Wait(-1);
        ++runs;
    }));
    EXPECT_FALSE(t.Start([&] { ++runs; }));
    release.Set();
    ASSERT_TRUE(t.Join(5000));
    ASSERT_TRUE(t.Start([&] { ++runs; }));
    ASSERT_TRUE(t.Join(5000));
    EXPECT_EQ(runs.load(), 2);
}

TEST(ThreadTest, DestructorWaitsForTheBody) {
    std::atomic<bool> finished{false};
    Event go(true);
    {
        Thread t;
        ASSERT_TRUE(t.Start([&] {
            go.Wait(-1);
            finished = true;
        }));
        go.Set();
    }
    EXPECT_TRUE(finished.load());
}

}  // namespace
}  // namespace kestrix::platform
