// TodayScreen: the home screen as far as the plug-in's item meets it. It is the item
// window's parent: it answers the item's TODAYM_DRAWWATERMARK (fills the rectangle with the
// home screen's background) and TODAYM_GETCOLOR (TODAYCOLOR_TEXT: its text colour); it asks
// the item for its height with WM_TODAYCUSTOM_QUERYREFRESHCACHE when the item is created
// and then every kRefreshPollMs, and sizes the item window to the screen's width and that
// height; and it turns a person's taps and keys into the item's messages.
//
// The page draws the row on the same background colour (kBackgroundCss), so a painting made
// without erasing (a repaint the controller asks for) looks the same as an erased one.
//
// Threads: UI thread (the MessageLoop given at construction) for everything.
#pragma once
#include <cstdint>
#include <string>

#include "platform/Gdi.h"
#include "platform/MessageLoop.h"
#include "platform/TodayScreen.h"
#include "platform/Types.h"

namespace kestrix::shell {

inline constexpr const char* kTodayScreenClass = "Kestrix home screen";
inline constexpr platform::Colorref kTodayBackground = platform::Rgb(0xE8, 0xF0, 0xF6);
inline constexpr const char* kTodayBackgroundCss = "#e8f0f6";
inline constexpr platform::Colorref kTodayText = platform::Rgb(0x1F, 0x29, 0x33);
constexpr uint32_t kRefreshPollMs = 2000;

class TodayScreen {
public:
    // Creates the screen's window (screen-sized, top level).
    explicit TodayScreen(platform::MessageLoop& loop);
    ~TodayScreen();  // UnloadItem, then the window goes
    TodayScreen(const TodayScreen&) = delete;
    TodayScreen& operator=(const TodayScreen&) = delete;

    platform::WindowHandle Window() const { return window_; }

    // Asks the plug-in for its item window (InitializeCustomItem), sizes it and paints it
    // once. False when the plug-in gave no window.
    bool LoadItem(uintptr_t instance);
    // Destroys the item window; the controller goes with it.
    void UnloadItem();
    platform::WindowHandle ItemWindow() const { return item_; }
    // The item window's client size (0 x 0 without one).
    int32_t ItemWidth() const;
    int32_t ItemHeight() const;

    // The item window's last painting (Gdi.h GetWindowPainting); a window never painted
    // is painted first. Empty without an item window.
    std::string ItemPainting();

    // Asks the item whether to size it again; true when it did (and it was sized).
    bool Refresh();

    // A tap at x (item pixels), the arrow and action keys: the item procedure's results.
    platform::LResult Tap(int32_t x);
    platform::LResult Navigate(int key);
    platform::LResult Select(int key);
    platform::LResult Action();

private:
    platform::LResult Proc(platform::WindowHandle w, uint32_t msg, platform::WParam wp, platform::LParam lp);

    platform::MessageLoop& loop_;
    platform::GdiHandle background_ = 0;
    platform::WindowHandle window_ = platform::kNoWindow;
    platform::WindowHandle item_ = platform::kNoWindow;
    platform::TodayListItem description_;
    uint32_t pollTimer_ = 0;
};

}  // namespace kestrix::shell
