#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/LastError.h"
#include "platform/Thread.h"
#include "support/TestSupport.h"

namespace kestrix::platform {
namespace {

// A manual-reset event releases every waiter and stays set until reset; an auto-reset one
// releases exactly one waiter a signal, the waiter taking the signal.
TEST(EventTest, ManualResetReleasesEveryWaiterAutoResetExactlyOne) {
    for (bool manual : {true, false}) {
        SCOPED_TRACE(manual ? "manual reset" : "auto reset");
        Event e(manual);
        std::atomic<int> woken{0};
        Thread a, b;
        a.Start([&] { woken += e.Wait(-1) ? 1 : 0; });
        b.Start([&] { woken += e.Wait(-1) ? 1 : 0; });
        e.Set();
        if (!manual) {
            ASSERT_TRUE(test::WaitFor([&] { return woken.load() == 1; }));
            EXPECT_FALSE(e.IsSet());
            EXPECT_EQ(woken.load(), 1);
            e.Set();
        }
        ASSERT_TRUE(a.Join(5000));
        ASSERT_TRUE(b.Join(5000));
        EXPECT_EQ(woken.load(), 2);
        EXPECT_EQ(e.IsSet(), manual);
        e.Reset();
        EXPECT_FALSE(e.Wait(0));
    }
}

}  // namespace
}  // namespace kestrix::platform
