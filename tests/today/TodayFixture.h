// The fixture of the item's tests: the plug-in loaded, the controller's services replaced by
// the doubles of tests/core, a home screen window that answers the item's colour and
// background requests (text red, background #102030, so both are told apart from any
// default), a stepped clock, a real registry file. Item() makes the item window as the home
// screen does (InitializeCustomItem, then sized 480 x 24).
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "core/ControllerServices.h"
#include "core/ServiceDoubles.h"
#include "core/TrackerController.h"
#include "platform/Clock.h"
#include "platform/Gdi.h"
#include "platform/MessageLoop.h"
#include "platform/Power.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/TodayScreen.h"
#include "platform/Window.h"
#include "support/TestSupport.h"
#include "today/ItemView.h"
#include "today/PluginEntry.h"

namespace kestrix::test {

constexpr uintptr_t kInstance = 1;
constexpr platform::Colorref kHomeText = platform::Rgb(255, 0, 0);
constexpr platform::Colorref kHomeBackground = platform::Rgb(0x10, 0x20, 0x30);

class TodayTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetDeviceClock(&clock_);
        std::string error;
        ASSERT_TRUE(platform::ConfigureRegistry(dir_.File("registry.reg"), &error)) << error;
        platform::SetShellHost(&shell_);
        platform::SetPowerSourceFactory([] { return nullptr; });
        loop_ = std::make_unique<platform::MessageLoop>(clock_);
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
        loop_.reset();
        SetControllerServices(DefaultControllerServices());
        platform::ResetSystemMetrics();
        platform::SetPowerSourceFactory(nullptr);
        platform::SetShellHost(nullptr);
        platform::SetDeviceClock(nullptr);
    }

    // Loads the plug-in (its view reads the metrics now) with the doubles as its services.
    void Load() {
        ASSERT_TRUE(today::PluginLoad());
        ControllerServices s;
        s.makeReceiver = [this](GpsFixListener& l) { return Keep(receiver_, l); };
        s.makeSession = [this](IStatusListener& l) { return Keep(session_, l); };
        s.makeLog = [this](IStatusListener& l) { return Keep(log_, l); };
        s.statusModel = [this] { return &model_; };
        SetControllerServices(std::move(s));
    }

    template <class Double, class Listener>
    std::unique_ptr<Double> Keep(Double*& slot, Listener& l) {
        auto d = std::make_unique<Double>(l, journal_);
        slot = d.get();
        return d;
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

    // The painting's elements of one tag, each as "attr=value" pairs in document order.
    static std::vector<std::string> Shapes(const std::string& svg, const std::string& tag,
                                           const std::vector<std::string>& attrs) {
        std::vector<std::string> out;
        const std::regex element("<" + tag + "\\b([^>]*)>");
        for (std::sregex_iterator it(svg.begin(), svg.end(), element), end; it != end; ++it) {
            const std::string body = (*it)[1].str();
            std::string shape;
            for (const auto& a : attrs) {
                std::smatch m;
                const std::regex value("\\b" + a + "=\"([^\"]*)\"");
                shape += (shape.empty() ? "" : " ") + (std::regex_search(body, m, value) ? m[1].str() : "-");
            }
            out.push_back(shape);
        }
        return out;
    }
    // Every image as "resource x y width height".
    static std::vector<std::string> Images(const std::string& svg) {
        return Shapes(svg, "image", {"data-resource", "x", "y", "width", "height"});
    }

    platform::ManualClock clock_{1000, 133'000'000'000'000'000ULL};
    TempDir dir_;
    Journal journal_;
    ShellDouble shell_{journal_};
    StatusModelDouble model_{journal_};
    std::unique_ptr<platform::MessageLoop> loop_;
    platform::GdiHandle background_ = 0;
    platform::WindowHandle home_ = platform::kNoWindow;
    platform::WindowHandle item_ = platform::kNoWindow;
    ReceiverDouble* receiver_ = nullptr;
    SessionDouble* session_ = nullptr;
    LogDouble* log_ = nullptr;
};

}  // namespace kestrix::test
