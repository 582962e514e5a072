#include "today/PluginEntry.h"

#include "TodayFixture.h"
#include "core/MainWindow.h"
#include "ui/ColorText.h"
#include "ui/Hyperlink.h"

namespace kestrix::test {
namespace {

using V = std::vector<std::string>;
using namespace platform;

// The journal without the bubble's refreshes.
V ServiceCalls(Journal& journal) {
    V out;
    for (auto& call : journal.Take()) {
        if (call.rfind("shell.", 0) != 0) out.push_back(call);
    }
    return out;
}

TEST_F(TodayTest, KeysMoveTheSelectionAndLeaveAtEitherEnd) {
    struct Case {
        uint32_t msg;
        int key;
        uint32_t before;
        uint32_t after;
        LResult result;
    };
    const Case cases[] = {
        {WM_TODAYCUSTOM_USERNAVIGATION, VK_DOWN, 0, 2, 1},
        {WM_TODAYCUSTOM_USERNAVIGATION, VK_UP, 0, 5, 1},
        {WM_TODAYCUSTOM_USERNAVIGATION, VK_DOWN, 3, 4, 1},
        {WM_TODAYCUSTOM_USERNAVIGATION, VK_UP, 3, 2, 1},
        {WM_TODAYCUSTOM_USERNAVIGATION, VK_DOWN, 5, 0, 0},
        {WM_TODAYCUSTOM_USERNAVIGATION, VK_UP, 2, 0, 0},
        {WM_TODAYCUSTOM_USERNAVIGATION, VK_RIGHT, 3, 3, 1},
        {WM_TODAYCUSTOM_RECEIVEDSELECTION, VK_DOWN, 0, 2, 1},
        {WM_TODAYCUSTOM_RECEIVEDSELECTION, VK_LEFT, 0, 5, 1},
        {WM_TODAYCUSTOM_RECEIVEDSELECTION, VK_RETURN, 4, 4, 1},
        {WM_TODAYCUSTOM_LOSTSELECTION, 0, 3, 3, 0},
    };
    Item();
    for (const Case& c : cases) {
        View().SetSelection(c.before);
        EXPECT_EQ(Send(c.msg, static_cast<WParam>(c.key)), c.result) << c.msg << " key " << c.key << " from " << c.before;
        EXPECT_EQ(View().GetSelection(), c.after) << c.msg << " key " << c.key << " from " << c.before;
    }
    // The repaint erases: the home screen's background comes first, across the item.
    Send(WM_TODAYCUSTOM_USERNAVIGATION, VK_DOWN);
    loop_->RunPending();
    EXPECT_EQ(SvgShapes(GetWindowPainting(item_), "rect", {"x", "y", "width", "height", "fill"})[0], "0 0 480 24 #102030");
}

// The buttons switch their service; the tracker's also stops a session that has not
// reported its start yet (still connecting).
TEST_F(TodayTest, ButtonsSwitchTheirService) {
    struct Case {
        int x;
        const char* call;  // the first of the service's calls; the rest are the controller's table
        const char* logger;
        const char* tracker;
    };
    const Case cases[] = {
        {392, "session.Start", "132", "136"},
        {400, "session.Stop", "132", "104"},
        {412, "log.Open", "115", "104"},
        {420, "log.Close", "132", "104"},
    };
    Item();
    Paint();
    session_->reportsStart = false;
    for (const Case& c : cases) {
        EXPECT_EQ(Tap(c.x), 1);
        EXPECT_EQ(ServiceCalls(journal_).at(0), c.call) << c.x;
        const V images = Images(Paint());
        EXPECT_EQ(images[3].substr(0, 3) + " " + images[4].substr(0, 3), std::string(c.logger) + " " + c.tracker) << c.x;
    }
}

TEST_F(TodayTest, LoadMakesTheObjectsInOrderAndUnloadRemovesThem) {
    const Atom colour = GlobalFindAtom(ui::kColorTextProperty);
    const Atom link = GlobalFindAtom(ui::kHyperlinkProperty);
    ASSERT_NE(colour, 0);
    EXPECT_LT(colour, link);
    const RegisteredMessages& m = GetRegisteredMessages();
    const uint32_t satView = RegisterWindowMessage("WM_UPDATE_SAT_VIEW");
    const uint32_t ldpNotify = RegisterWindowMessage("WM_LDP_NOTIFY");
    EXPECT_TRUE(satView < ldpNotify && ldpNotify < m.changeState && m.changeState < m.showHtml &&
                m.showHtml < m.dummy);
    EXPECT_NE(today::GetItemView(), nullptr);

    today::PluginUnload();
    EXPECT_EQ(GlobalFindAtom(ui::kColorTextProperty), 0);
    EXPECT_EQ(GlobalFindAtom(ui::kHyperlinkProperty), 0);
    EXPECT_EQ(today::GetItemView(), nullptr);
    Load();
}

TEST_F(TodayTest, NoWindowForADisabledItemOrAFailedStart) {
    struct Case {
        const char* name;
        bool enabled;
        uintptr_t instance;
    };
    for (const Case& c : {Case{"disabled", false, kInstance}, Case{"no instance: Init fails", true, 0}}) {
        TodayListItem d;
        d.fEnabled = c.enabled;
        d.hinstDLL = c.instance;
        EXPECT_EQ(today::InitializeCustomItem(&d, home_), kNoWindow) << c.name;
        EXPECT_FALSE(TrackerController::Exists()) << c.name;
        EXPECT_TRUE(GetChildren(home_).empty()) << c.name;
    }
    // Destroying the item window destroys the controller.
    Item();
    EXPECT_TRUE(TrackerController::Exists());
    DestroyWindow(item_);
    EXPECT_FALSE(TrackerController::Exists());
}

}  // namespace
}  // namespace kestrix::test
