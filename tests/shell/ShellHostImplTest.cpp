#include "shell/ShellHostImpl.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/LogCapture.h"
#include "support/TestSupport.h"

namespace kestrix::shell {
namespace {

// Runs a message box on the test's (loop) thread while a helper thread plays the person.
int RunBox(ShellHostImpl& host, uint32_t flags, const std::function<void(const PendingMessageBox&)>& person) {
    std::thread helper([&] {
        ASSERT_TRUE(test::WaitFor([&] { return host.MessageBoxes().size() == 1; }, std::chrono::seconds(30)));
        person(host.MessageBoxes().front());
    });
    int answer = host.MessageBox(platform::kNoWindow, "Delete the track?", "Kestrix", flags);
    helper.join();
    return answer;
}

// Nobody answers: after the box's time-out, or when the shell stops meanwhile, it closes
// with the safe button and says so in the log.
TEST(ShellHostImplTest, AnUnansweredBoxGetsTheSafeButtonWhenItsTimeRunsOutOrTheShellStops) {
    struct Case { uint32_t flags; bool shutdown; int safe; const char* log; };
    const Case cases[] = {
        {platform::MB_OK | platform::MB_ICONWARNING, false, platform::IDOK, "nobody answered in time): answered OK"},
        {platform::MB_OKCANCEL, false, platform::IDCANCEL, "nobody answered in time): answered Cancel"},
        {platform::MB_YESNO | platform::MB_ICONQUESTION, false, platform::IDNO, "nobody answered in time): answered No"},
        {platform::MB_OKCANCEL, true, platform::IDCANCEL, "the shell is shutting down): answered Cancel"},
    };
    for (const Case& c : cases) {
        test::LogCapture log;
        platform::ManualClock clock;
        platform::MessageLoop loop(clock);
        ShellHostImpl host(loop, 120'000);
        int answer = RunBox(host, c.flags, [&](const PendingMessageBox&) {
            if (c.shutdown) return loop.PostTask([&] { loop.Quit(0); });
            loop.SendTask([] {});  // the box is being pumped: its time has started
            clock.Advance(119'999);
            loop.SendTask([] {});  // the pump has seen the new time
            EXPECT_EQ(host.MessageBoxes().size(), 1u) << "closed before its time";
            clock.Advance(1);
        });
        EXPECT_EQ(answer, c.safe) << c.log;
        EXPECT_TRUE(host.MessageBoxes().empty());
        EXPECT_EQ(log.Texts(platform::LogLevel::Warning),
                  std::vector<std::string>{std::string("message box \"Kestrix\" closed unanswered (") + c.log});
    }
}

}  // namespace
}  // namespace kestrix::shell
