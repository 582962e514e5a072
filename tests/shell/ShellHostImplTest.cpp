#include "shell/ShellHostImpl.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/Clock.h"
#include "platform/LogCapture.h"
#include "support/TestSupport.h"

namespace kestrix::shell {
namespace {

using platform::Notification;

const char* const kClsid = "{881AB316-7C25-4963-B383-FF47D02D035E}";

Notification Bubble(const std::string& html, int icon = 104, const std::string& title = "Kestrix") {
    Notification n;
    n.id = 137;
    n.clsid = kClsid;
    n.iconId = icon;
    n.html = html;
    n.title = title;
    n.sink = 7;
    return n;
}

TEST(ShellHostImplTest, NotificationLifecycleFollowsAddUpdateDismissAndRemove) {
    platform::MessageLoop loop;
    ShellHostImpl host(loop);
    enum Op { Add, Update, Dismiss, Remove, RemoveOtherId };
    struct Step {
        Op op;
        std::string html;
        bool ok;
        bool shownAfter;
        std::string htmlAfter;
    };
    const Step steps[] = {
        {Update, "a", false, false, ""},       // nothing shown yet
        {Add, "first", true, true, "first"},
        {Update, "second", true, true, "second"},
        {Dismiss, "", true, false, ""},        // the person closed the bubble
        {Update, "third", false, false, ""},   // so the next update fails...
        {Add, "third", true, true, "third"},   // ...and the logic adds it anew
        {RemoveOtherId, "", false, true, "third"},
        {Remove, "", true, false, ""},
        {Update, "fourth", false, false, ""},
        {Dismiss, "", false, false, ""},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const Step& s = steps[i];
        uint64_t before = host.Version();
        bool ok = false;
        switch (s.op) {
        case Add: ok = host.NotificationAdd(Bubble(s.html)); break;
        case Update: ok = host.NotificationUpdate(platform::SHNUM_HTML | platform::SHNUM_SOFTKEYS, Bubble(s.html)); break;
        case Dismiss: ok = host.Dismiss(); break;
        case Remove: ok = host.NotificationRemove(kClsid, 137); break;
        case RemoveOtherId: ok = host.NotificationRemove(kClsid, 138); break;
        }
        EXPECT_EQ(ok, s.ok) << "step " << i;
        EXPECT_EQ(host.Version(), before + (ok ? 1 : 0)) << "step " << i << ": the version moves on every change only";
        auto shown = host.CurrentNotification();
        ASSERT_EQ(shown.has_value(), s.shownAfter) << "step " << i;
        if (shown) {
            EXPECT_EQ(shown->html, s.htmlAfter) << "step " << i;
        }
    }
}

TEST(ShellHostImplTest, UpdateChangesOnlyTheFieldsItsMaskNames) {
    struct Case {
        uint32_t mask;
        int icon;
        std::string html;
        std::string title;
    };
    const Case cases[] = {
        {platform::SHNUM_SOFTKEYS, 104, "old", "Kestrix"},
        {platform::SHNUM_SOFTKEYS | platform::SHNUM_HTML, 104, "new", "Kestrix"},
        {platform::SHNUM_ICON | platform::SHNUM_HTML | platform::SHNUM_TITLE, 110, "new", "Other"},
    };
    for (const Case& c : cases) {
        platform::MessageLoop loop;
        ShellHostImpl host(loop);
        ASSERT_TRUE(host.NotificationAdd(Bubble("old", 104, "Kestrix")));
        Notification change = Bubble("new", 110, "Other");
        change.sink = 99;  // the sink is not an updatable field
        ASSERT_TRUE(host.NotificationUpdate(c.mask, change));
        auto n = host.CurrentNotification();
        ASSERT_TRUE(n);
        EXPECT_EQ(std::tie(n->iconId, n->html, n->title, n->sink), std::make_tuple(c.icon, c.html, c.title, 7u))
            << "mask " << c.mask;
    }
}

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

// Answers for another box or with a button the box does not offer are refused; the first
// offered one ends the modal box with that button.
TEST(ShellHostImplTest, AnswerFromThePageEndsTheModalBoxWithThatButton) {
    struct Case {
        uint32_t flags;
        int button;
        std::vector<int> refused;
    };
    const Case cases[] = {
        {platform::MB_OK, platform::IDOK, {platform::IDCANCEL, platform::IDYES}},
        {platform::MB_OKCANCEL, platform::IDOK, {platform::IDYES}},
        {platform::MB_YESNO | platform::MB_ICONQUESTION, platform::IDYES, {platform::IDOK, platform::IDCANCEL}},
        {platform::MB_YESNO | platform::MB_ICONQUESTION, platform::IDNO, {}},
    };
    for (const Case& c : cases) {
        test::LogCapture log;
        platform::MessageLoop loop;
        ShellHostImpl host(loop);
        int answer = RunBox(host, c.flags, [&](const PendingMessageBox& box) {
            EXPECT_EQ(std::tie(box.text, box.caption, box.flags), std::make_tuple("Delete the track?", "Kestrix", c.flags));
            const auto answer = [&](uint32_t id, int button) {
                bool ok = false;
                loop.SendTask([&] { ok = host.Answer(id, button); });
                return ok;
            };
            EXPECT_FALSE(answer(box.id + 1, c.button)) << "no such box";
            for (int b : c.refused) EXPECT_FALSE(answer(box.id, b)) << "button " << b << " flags " << c.flags;
            EXPECT_TRUE(answer(box.id, c.button));
        });
        EXPECT_EQ(answer, c.button) << "flags " << c.flags;
        EXPECT_TRUE(host.MessageBoxes().empty());
        EXPECT_TRUE(log.Texts(platform::LogLevel::Warning).empty());
    }
}

// Nobody answers: after the box's time-out, or when the shell stops meanwhile, it closes
// with the safe button and says so in the log.
TEST(ShellHostImplTest, AnUnansweredBoxGetsTheSafeButtonWhenItsTimeRunsOutOrTheShellStops) {
    struct Case {
        uint32_t flags;
        bool shutdown;
        int safe;
        const char* log;
    };
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
