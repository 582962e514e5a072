#include "platform/MessageLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include <poll.h>

#include "platform/Event.h"
#include "platform/Thread.h"
#include "support/TestSupport.h"

namespace kestrix::platform {
namespace {

constexpr uint32_t kAsk = WM_USER + 1;

// A loop on the test thread with one window whose procedure records what it gets.
struct Fixture {
    ManualClock clock{1000};
    MessageLoop loop{clock};
    WindowHandle window = kNoWindow;
    std::vector<uint32_t> messages;  // loop thread only
    std::function<LResult(uint32_t, WParam)> onMessage;

    Fixture() {
        loop.RegisterClass("probe", [this](WindowHandle, uint32_t msg, WParam w, LParam) -> LResult {
            messages.push_back(msg);
            return onMessage ? onMessage(msg, w) : static_cast<LResult>(w * 2);
        });
        window = loop.CreateWindow("probe", "Probe");
    }
};

bool SentMessageWaiting(const MessageLoop& loop) {
    pollfd p{loop.SentMessageFd(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

// What a posted message carries is freed once whatever becomes of the message: by its
// procedure when handled, else by its release.
TEST(MessageLoopTest, APostedMessageThatNoProcedureGetsIsReleasedOnce) {
    enum Fate { Handled, WindowGone, LoopGone, NoWindow };
    for (Fate fate : {Handled, WindowGone, LoopGone, NoWindow}) {
        int released = 0;
        auto f = std::make_unique<Fixture>();
        const WindowHandle to = fate == NoWindow ? kNoWindow : f->window;
        EXPECT_EQ(PostMessageWithRelease(to, kAsk, 0, 0, [&] { ++released; }), fate != NoWindow) << fate;
        if (fate == WindowGone) f->loop.DestroyWindow(f->window);
        if (fate != LoopGone) f->loop.RunPending();
        const auto handled = std::count(f->messages.begin(), f->messages.end(), kAsk);
        f.reset();
        EXPECT_EQ(handled, fate == Handled ? 1 : 0) << fate;
        EXPECT_EQ(released, fate == Handled ? 0 : 1) << fate;
    }
}

TEST(MessageLoopTest, DestroyingTheLoopReleasesWaitingSenders) {
    std::atomic<WindowHandle> window{kNoWindow};
    Event created(true), release(true);
    std::atomic<LResult> result{-1};
    Thread loopThread, sender;
    loopThread.Start([&] {
        MessageLoop loop;
        loop.RegisterClass("c", [](WindowHandle, uint32_t, WParam, LParam) { return LResult{5}; });
        window = loop.CreateWindow("c", "");
        created.Set();
        test::WaitFor([&] { return SentMessageWaiting(loop); });
        // The loop ends without answering.
    });
    ASSERT_TRUE(created.Wait(10000));
    sender.Start([&] { result = SendMessage(window.load(), kAsk, 0, 0); });
    ASSERT_TRUE(sender.Join(10000));
    ASSERT_TRUE(loopThread.Join(10000));
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(IsWindow(window.load()));
}

TEST(MessageLoopTest, TwoLoopsSendingToEachOtherDoNotDeadlock) {
    Fixture f;  // the test thread's loop
    std::atomic<WindowHandle> other{kNoWindow};
    Event ready(true), finish(true);
    std::atomic<LResult> fromOther{0};
    Thread second;
    second.Start([&] {
        MessageLoop loop;
        loop.RegisterClass("echo", [&](WindowHandle, uint32_t, WParam w, LParam) -> LResult {
            // While the first loop waits for this answer, ask it something in turn.
            return SendMessage(f.window, kAsk, w, 0) + 1;
        });
        other = loop.CreateWindow("echo", "");
        ready.Set();
        finish.Wait(-1);  // answers sent messages while it waits
    });
    ASSERT_TRUE(ready.Wait(10000));
    fromOther = SendMessage(other.load(), kAsk, 10, 0);
    finish.Set();
    ASSERT_TRUE(second.Join(10000));
    EXPECT_EQ(fromOther.load(), 21);
}

}  // namespace
}  // namespace kestrix::platform
