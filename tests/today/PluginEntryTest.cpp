#include "today/PluginEntry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ServiceDoubles.h"
#include "platform/Gdi.h"
#include "platform/SvgElements.h"
#include "platform/TodayScreen.h"
#include "platform/Window.h"
#include "today/ItemView.h"

// The item's tests, on one fixture: the controller's fixture of tests/core with the plug-in
// loaded and the doubles as its services, and a home screen window that answers the item's
// colour and background requests (text red, background #102030, so both are told apart
// from any default). Item() makes the item window as the home screen does
// (InitializeCustomItem, then sized 480 x 24).
namespace kestrix::test {
namespace {

using V = std::vector<std::string>;

constexpr uintptr_t kInstance = 1;
constexpr platform::Colorref kHomeText = platform::Rgb(255, 0, 0);
constexpr platform::Colorref kHomeBackground = platform::Rgb(0x10, 0x20, 0x30);

class TodayTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        background_ = platform::CreateSolidBrush(kHomeBackground);
        platform::RegisterWindowClass({"home", 0, [this](platform::WindowHandle w, uint32_t m, platform::WParam wp,
                                                         platform::LParam lp) -> platform::LResult {
                                           if (m == platform::TODAYM_GETCOLOR) {
                                               return wp == platform::TODAYCOLOR_TEXT ? kHomeText : 0;
                                           }
                                           if (m == platform::TODAYM_DRAWWATERMARK) {
                                               const auto* i = reinterpret_cast<const platform::TodayDrawWatermarkInfo*>(lp);
                                               return platform::FillRect(i->hdc, i->rc, background_);
                                           }
                                           return platform::DefWindowProc(w, m, wp, lp);
                                       }});
        home_ = platform::CreateWindowEx({"home", "", platform::WS_VISIBLE, 0, 0, {0, 0, 480, 640}, 0});
        Load();
    }

    void TearDown() override {
        if (platform::IsWindow(item_)) platform::DestroyWindow(item_);
        TrackerController::Destroy();
        today::PluginUnload();
        platform::DestroyWindow(home_);
        platform::UnregisterWindowClass("home");
        platform::DeleteObject(background_);
        platform::ResetSystemMetrics();
        ControllerTest::TearDown();
    }

    // Loads the plug-in (its view reads the metrics now) with the doubles as its services.
    void Load() {
        ASSERT_TRUE(today::PluginLoad());
        SetControllerServices(Doubles());
    }

    platform::WindowHandle Item() {
        platform::TodayListItem description;
        description.hinstDLL = kInstance;
        item_ = today::InitializeCustomItem(&description, home_);
        EXPECT_NE(item_, platform::kNoWindow);
        platform::MoveWindow(item_, 0, 0, 480, 24, false);
        loop_->RunPending();
        journal_.Take();
        return item_;
    }
    platform::LResult Send(uint32_t msg, platform::WParam wp = 0, platform::LParam lp = 0) {
        return platform::SendMessage(item_, msg, wp, lp);
    }
    platform::LResult Tap(int x) { return Send(platform::WM_LBUTTONUP, 0, platform::MakeLParam(uint16_t(x), 8)); }

    // Runs what is pending (a repaint asked for included), then paints the item afresh.
    std::string Paint(platform::WindowHandle w = platform::kNoWindow) {
        if (w == platform::kNoWindow) w = item_;
        loop_->RunPending();
        platform::InvalidateRect(w, nullptr, false);
        platform::UpdateWindow(w);
        return platform::GetWindowPainting(w);
    }

    // Every image as "resource x y width height".
    static std::vector<std::string> Images(const std::string& svg) {
        return SvgShapes(svg, "image", {"data-resource", "x", "y", "width", "height"});
    }

    platform::GdiHandle background_ = 0;
    platform::WindowHandle home_ = platform::kNoWindow;
    platform::WindowHandle item_ = platform::kNoWindow;
};

// The journal without the bubble's refreshes.
V ServiceCalls(Journal& journal) {
    V out;
    for (auto& call : journal.Take()) {
        if (call.rfind("shell.", 0) != 0) out.push_back(call);
    }
    return out;
}

// The buttons switch their service; the tracker's also stops a session that has not
// reported its start yet (still connecting).
TEST_F(TodayTest, ButtonsSwitchTheirService) {
    // call: the first of the service's calls; the rest are the controller's table
    struct Case { int x; const char* call; const char* logger; const char* tracker; };
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

TEST_F(TodayTest, IconsBelow32PixelsComeFromTheFirstColumn) {
    today::PluginUnload();
    platform::SetSystemMetric(platform::SM_CXICON, 16);
    Load();
    Item();
    EXPECT_EQ(Images(Paint()),
              (V{"156 4 4 16 16", "119 452 4 24 16", "158 432 4 16 16", "155 412 4 16 16", "149 392 4 16 16"}));
}

}  // namespace
}  // namespace kestrix::test
