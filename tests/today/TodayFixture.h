// The fixture of the item's tests: the controller's fixture of tests/core with the plug-in
// loaded and the doubles as its services, and a home screen window that answers the item's
// colour and background requests (text red, background #102030, so both are told apart
// from any default). Item() makes the item window as the home screen does
// (InitializeCustomItem, then sized 480 x 24).
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ServiceDoubles.h"
#include "platform/Gdi.h"
#include "platform/SvgElements.h"
#include "platform/TodayScreen.h"
#include "platform/Window.h"
#include "today/ItemView.h"
#include "today/PluginEntry.h"

namespace kestrix::test {

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
    static TrackerController& C() { return *TrackerController::Instance(); }
    static today::ItemView& View() { return *today::GetItemView(); }
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

}  // namespace kestrix::test
