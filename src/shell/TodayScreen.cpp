#include "shell/TodayScreen.h"

#include "platform/Log.h"
#include "platform/Window.h"
#include "today/PluginEntry.h"

namespace kestrix::shell {

using namespace platform;

TodayScreen::TodayScreen(MessageLoop& loop) : loop_(loop) {
    background_ = CreateSolidBrush(kTodayBackground);
    RegisterWindowClass({kTodayScreenClass, 0,
                         [this](WindowHandle w, uint32_t msg, WParam wp, LParam lp) { return Proc(w, msg, wp, lp); },
                         background_});
    const Rect screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    window_ = CreateWindowEx({kTodayScreenClass, "Today", WS_VISIBLE, kNoWindow, 0, screen, 0});
    if (window_ == kNoWindow) LogError("the home screen's window could not be created");
}

TodayScreen::~TodayScreen() {
    UnloadItem();
    if (window_ != kNoWindow) DestroyWindow(window_);
    UnregisterWindowClass(kTodayScreenClass);
    DeleteObject(background_);
}

bool TodayScreen::LoadItem(uintptr_t instance) {
    if (window_ == kNoWindow || item_ != kNoWindow) return false;
    description_ = TodayListItem{};
    description_.name = "Kestrix";
    description_.hinstDLL = instance;
    const WindowHandle item = today::InitializeCustomItem(&description_, window_);
    if (item == kNoWindow) return false;
    item_ = item;
    Refresh();
    UpdateWindow(item_);
    pollTimer_ = loop_.SetTimer(kRefreshPollMs, [this](uint32_t) { Refresh(); });
    return true;
}

void TodayScreen::UnloadItem() {
    if (pollTimer_ != 0) loop_.KillTimer(pollTimer_);
    pollTimer_ = 0;
    if (item_ != kNoWindow && IsWindow(item_)) DestroyWindow(item_);
    item_ = kNoWindow;
}

int32_t TodayScreen::ItemWidth() const {
    Rect r;
    return item_ != kNoWindow && GetClientRect(item_, r) ? r.Width() : 0;
}

int32_t TodayScreen::ItemHeight() const {
    Rect r;
    return item_ != kNoWindow && GetClientRect(item_, r) ? r.Height() : 0;
}

std::string TodayScreen::ItemPainting() {
    if (item_ == kNoWindow) return {};
    if (GetWindowPaintCount(item_) == 0) {
        InvalidateRect(item_, nullptr, true);
        UpdateWindow(item_);
    }
    return GetWindowPainting(item_);
}

bool TodayScreen::Refresh() {
    if (item_ == kNoWindow) return false;
    if (SendMessage(item_, WM_TODAYCUSTOM_QUERYREFRESHCACHE, reinterpret_cast<WParam>(&description_), 0) == 0) {
        return false;
    }
    // Items span the screen's width; the item chooses its height.
    MoveWindow(item_, 0, 0, GetSystemMetrics(SM_CXSCREEN), description_.cyp, true);
    return true;
}

LResult TodayScreen::Tap(int32_t x) {
    return SendMessage(item_, WM_LBUTTONUP, 0, MakeLParam(static_cast<uint16_t>(x), 0));
}

LResult TodayScreen::Navigate(int key) {
    return SendMessage(item_, WM_TODAYCUSTOM_USERNAVIGATION, static_cast<WParam>(key), 0);
}

LResult TodayScreen::Select(int key) {
    return SendMessage(item_, WM_TODAYCUSTOM_RECEIVEDSELECTION, static_cast<WParam>(key), 0);
}

LResult TodayScreen::Action() { return SendMessage(item_, WM_TODAYCUSTOM_ACTION, 0, 0); }

LResult TodayScreen::Proc(WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
    switch (msg) {
        case TODAYM_DRAWWATERMARK: {
            const auto* info = reinterpret_cast<const TodayDrawWatermarkInfo*>(lp);
            if (!info) return 0;
            return FillRect(info->hdc, info->rc, background_) ? 1 : 0;
        }
        case TODAYM_GETCOLOR:
            return wp == TODAYCOLOR_TEXT ? static_cast<LResult>(kTodayText) : 0;
        default:
            return DefWindowProc(w, msg, wp, lp);
    }
}

}  // namespace kestrix::shell
