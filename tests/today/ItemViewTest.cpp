#include "today/ItemView.h"

#include <functional>

#include "TodayFixture.h"
#include "base/TrackPoint.h"

namespace kestrix::test {
namespace {

using V = std::vector<std::string>;
using platform::kNoWindow;

void Fix() { TrackerController::Instance()->OnFix(TrackPoint::Make(48.0, 11.0, 0.0f, 0.0f, 1)); }

// Each button shows the state by its image; the row's layout (icons at y 4, the gauge in its
// box at the right, the name in the home screen's text colour) is the same whatever the state.
TEST_F(TodayTest, ImagesFollowTheState) {
    struct Case {
        const char* name;
        std::function<void()> setUp;
        const char* gauge;
        const char* logger;
        const char* tracker;
    };
    const Case cases[] = {
        {"both off", [] {}, "119", "132", "104"},
        {"both on, fix", [] { C().StartServices(kModeTracker | kModeLogger); Fix(); }, "117", "110", "101"},
        {"both on, no fix", [] { C().StartServices(kModeTracker | kModeLogger); }, "119", "115", "114"},
        {"tracker connecting",
         [this] {
             session_->reportsStart = false;
             C().StartServices(kModeTracker);
         },
         "119", "132", "136"},
    };
    for (const Case& c : cases) {
        Item();
        c.setUp();
        const std::string svg = Paint();
        EXPECT_EQ(Images(svg), (V{"111 4 4 16 16", std::string(c.gauge) + " 452 4 24 16", "134 432 4 16 16",
                                  std::string(c.logger) + " 412 4 16 16", std::string(c.tracker) + " 392 4 16 16"}))
            << c.name;
        EXPECT_EQ(SvgShapes(svg, "text", {"x", "y", "fill"}), V{"40 17 #ff0000"}) << c.name;
        // The gauge is keyed on its corner: nothing of its background is left.
        EXPECT_EQ(SvgShapes(svg, "rect", {"fill"}), V{}) << c.name;
        platform::DestroyWindow(item_);
    }
}

TEST_F(TodayTest, SlotsComeFromTheFirstPaintOnly) {
    today::ItemView view;
    platform::RegisterWindowClass({"view", 0, [&view](platform::WindowHandle w, uint32_t m, platform::WParam wp,
                                                      platform::LParam lp) -> platform::LResult {
                                       if (m != platform::WM_PAINT) return platform::DefWindowProc(w, m, wp, lp);
                                       platform::PaintStruct ps;
                                       view.Paint(w, platform::BeginPaint(w, ps));
                                       platform::EndPaint(w, ps);
                                       return 1;
                                   }});
    const auto w = platform::CreateWindowEx({"view", "", platform::WS_CHILD | platform::WS_VISIBLE, home_, 0,
                                             {0, 0, 480, 24}, 0});
    auto slots = [&view] {
        V out;
        for (const auto& s : view.Slots()) {
            out.push_back(std::to_string(s.id) + " " + std::to_string(s.left) + "-" + std::to_string(s.right));
        }
        return out;
    };
    for (int x : {4, 50, 392, 460}) EXPECT_EQ(view.HitTest(x), 5u) << "before the first paint, at " << x;

    // Not initialised yet, the controller has no gauge: its slot stays empty for good.
    C();
    Paint(w);
    const V first{"1 4-20", "2 392-408", "3 412-428", "4 432-448", "5 0-0"};
    EXPECT_EQ(slots(), first);
    ASSERT_TRUE(C().Init(kInstance, w));
    EXPECT_EQ(Images(Paint(w)), V{"119 452 4 24 16"}) << "the gauge is drawn now";
    EXPECT_EQ(slots(), first);

    struct Hit {
        int x;
        uint32_t id;
    };
    for (Hit h : {Hit{4, 1}, {19, 1}, {20, 5}, {50, 5}, {391, 5}, {392, 2}, {408, 5}, {412, 3}, {432, 4}, {460, 5}}) {
        EXPECT_EQ(view.HitTest(h.x), h.id) << h.x;
    }
    platform::DestroyWindow(w);
    platform::UnregisterWindowClass("view");
}

TEST_F(TodayTest, SelectionFrameSurroundsTheSelectedControl) {
    struct Case {
        uint32_t selected;
        bool receiverRuns;
        V frame;
    };
    const Case cases[] = {
        {0, true, {}},
        {2, false, {"388.5 0.5 23 23 #808080"}},
        {3, false, {"408.5 0.5 23 23 #808080"}},
        {4, false, {"428.5 0.5 23 23 #808080"}},
        {5, true, {"450.5 0.5 27 23 #808080"}},
        {5, false, {}},
    };
    Item();
    for (const Case& c : cases) {
        if (c.receiverRuns) C().StartServices(kModeLogger);
        else C().StopServices(kModeLogger, false);
        View().SetSelection(c.selected);
        EXPECT_EQ(SvgShapes(Paint(), "rect", {"x", "y", "width", "height", "stroke"}), c.frame)
            << c.selected << " receiver " << c.receiverRuns;
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
