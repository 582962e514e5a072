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

TEST(MessageLoopTest, SendsAndTasksFromAnotherThreadRunOnTheLoopThread) {
    Fixture f;
    std::atomic<bool> onLoopThread{false};
    f.onMessage = [&](uint32_t, WParam w) {
        onLoopThread = f.loop.IsLoopThread();
        return static_cast<LResult>(w + 1);
    };
    std::atomic<LResult> result{0};
    std::atomic<int> ran{0};
    Thread worker;
    worker.Start([&] {
        result = SendMessage(f.window, kAsk, 41, 0);
        f.loop.SendTask([&] { ran += f.loop.IsLoopThread() ? 1 : 100; });
        f.loop.PostTask([&] { ran += f.loop.IsLoopThread() ? 10 : 100; });
    });
    // Join keeps answering sent messages, so this cannot deadlock.
    ASSERT_TRUE(worker.Join(10000));
    EXPECT_EQ(result.load(), 42);
    EXPECT_TRUE(onLoopThread.load());
    EXPECT_EQ(ran.load(), 1);
    f.loop.RunPending();
    EXPECT_EQ(ran.load(), 11);
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

// A timer may also kill itself or another due timer while it runs.
TEST(MessageLoopTest, TimersFireOncePerPassWhenDueAndRestartFromNow) {
    Fixture f;
    int fired = 0;
    uint32_t id = f.loop.SetTimer(100, [&](uint32_t) { ++fired; });
    ASSERT_GT(id, 0u);
    struct Step { uint64_t advance; int total; };
    // 350 ms late still gives one call; the next is due 100 ms after that call.
    const Step steps[] = {{0, 0}, {99, 0}, {1, 1}, {0, 1}, {350, 2}, {99, 2}, {1, 3}};
    for (const auto& s : steps) {
        f.clock.Advance(s.advance);
        f.loop.RunPending();
        EXPECT_EQ(fired, s.total) << "at " << f.clock.MonotonicMs();
    }
    EXPECT_TRUE(f.loop.KillTimer(id));
    EXPECT_FALSE(f.loop.KillTimer(id));
    std::vector<uint32_t> calls;
    uint32_t second = 0;
    uint32_t first = f.loop.SetTimer(10, [&](uint32_t t) {
        calls.push_back(t);
        f.loop.KillTimer(t);
        f.loop.KillTimer(second);
    });
    second = f.loop.SetTimer(10, [&](uint32_t t) { calls.push_back(t); });
    for (int pass = 0; pass < 2; ++pass) {
        f.clock.Advance(1000);
        f.loop.RunPending();
    }
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(calls, std::vector<uint32_t>{first});
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
