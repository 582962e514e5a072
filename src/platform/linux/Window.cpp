#include "platform/Window.h"

#include <algorithm>
#include <mutex>

#include "platform/Controls.h"
#include "platform/Gdi.h"
#include "platform/linux/WindowInternal.h"
#include "platform/linux/WindowTable.h"

namespace kestrix::platform {

namespace {

using internal::Own;
using internal::WindowData;

// Focus, capture and cursor belong to a thread's windows, as its input does.
struct ThreadInput {
    WindowHandle focus = kNoWindow;
    WindowHandle capture = kNoWindow;
    CursorHandle cursor = 0;
    uint64_t lastInputMs = 0;
};
thread_local ThreadInput tInput;

struct CursorEntry {
    int id;
    CursorHandle handle;
};
constexpr CursorEntry kCursors[] = {{IDC_ARROW, 1}, {IDC_HAND, 2}};

std::mutex gListenerMutex;
std::shared_ptr<const std::function<void()>> gListener;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when window is ancestor or the same window.
bool IsWithin(WindowHandle window, WindowHandle ancestor) {
    for (auto d = Own(window); d; d = Own(d->parent)) {
        if (d->handle == ancestor) return true;
    }
    return false;
}

// The offset of the window's client origin on the screen.
Point ScreenOrigin(const WindowData& window) {
    Point p{window.rect.left, window.rect.top};
    for (auto d = Own(window.parent); d; d = Own(d->parent)) {
        p.x += d->rect.left;
        p.y += d->rect.top;
    }
    return p;
}

// Sets or clears a state bit of the style (WS_DISABLED, WS_VISIBLE) and tells the window
// with msg (wParam: usable, the window enabled or shown now); a window that is no longer
// usable loses the focus held in it. Returns whether the bit was set before.
bool ChangeStateBit(WindowHandle window, uint32_t bit, bool set, uint32_t msg, bool usable) {
    auto d = Own(window);
    if (!d) return false;
    const bool was = (d->style & bit) != 0;
    if (was == set) return was;
    d->style = set ? d->style | bit : d->style & ~bit;
    if (!usable && tInput.focus != kNoWindow && IsWithin(tInput.focus, window)) SetFocus(kNoWindow);
    SendMessage(window, msg, usable ? 1 : 0, 0);
    NotifyWindowChanged();
    return was;
}

void SendDestroy(const std::shared_ptr<WindowData>& data, std::vector<WindowHandle>& gone) {
    // Destroying an owner takes its owned windows (dialogs it opened) first.
    for (auto& owned : internal::OwnWindows()) {
        if (owned->owner == data->handle && !owned->destroying) internal::DestroyWindowTree(owned->handle);
    }
    if (tInput.focus == data->handle) tInput.focus = kNoWindow;
    if (tInput.capture == data->handle) tInput.capture = kNoWindow;
    internal::CallProc(data->proc, data->handle, WM_DESTROY, 0, 0);
    // The children as they are now: WM_DESTROY may have destroyed some of them already.
    const std::vector<WindowHandle> children = data->children;
    for (WindowHandle child : children) {
        auto c = Own(child);
        if (!c || c->destroying) continue;
        c->destroying = true;
        SendDestroy(c, gone);
    }
    gone.push_back(data->handle);
}

}  // namespace

namespace internal {

bool DestroyWindowTree(WindowHandle window) {
    auto data = Own(window);
    if (!data || data->destroying) return false;
    data->destroying = true;
    std::vector<WindowHandle> gone;  // children before their parents
    SendDestroy(data, gone);
    for (WindowHandle w : gone) {
        auto d = Own(w);
        if (!d) continue;
        if (auto parent = Own(d->parent)) std::erase(parent->children, w);
        RemoveWindow(w);
        ForgetWindowPainting(w);
    }
    NotifyWindowChanged();
    return true;
}

size_t Utf8Length(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuationByte(c); }));
}

std::string Utf8Prefix(const std::string& text, size_t maxChars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (IsContinuationByte(text[i])) continue;
        if (chars == maxChars) return text.substr(0, i);
        ++chars;
    }
    return text;
}

int CompareNoCase(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(FoldAscii(a[i]));
        const auto y = static_cast<unsigned char>(FoldAscii(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && CompareNoCase(text.substr(0, prefix.size()), prefix) == 0;
}

void NotifyParent(WindowHandle control, uint16_t code) {
    auto data = Own(control);
    if (!data || data->parent == kNoWindow) return;
    SendMessage(data->parent, WM_COMMAND, MakeWParam(static_cast<uint16_t>(data->id), code),
                static_cast<LParam>(control));
}

uint64_t LastInputMs() { return tInput.lastInputMs; }
void NoteInput(uint64_t nowMs) { tInput.lastInputMs = nowMs; }

}  // namespace internal

// ---- classes and creation ---------------------------------------------------------------

WndProcRef MakeWndProc(WndProc proc) { return std::make_shared<const WndProc>(std::move(proc)); }

bool RegisterWindowClass(const WindowClass& cls) {
    internal::ClassInfo info;
    info.name = cls.name;
    info.style = cls.style;
    info.background = cls.background;
    info.proc = cls.proc ? MakeWndProc(cls.proc) : nullptr;
    return internal::AddClass(info);
}

bool UnregisterWindowClass(const std::string& name) { return internal::RemoveClass(name); }

WindowHandle CreateWindowEx(const CreateWindowParams& params) {
    auto cls = internal::FindClass(params.className);
    if (!cls) return kNoWindow;
    std::shared_ptr<WindowData> parent;
    if (params.parent != kNoWindow) {
        parent = Own(params.parent);
        if (!parent || parent->destroying) return kNoWindow;
    }
    auto data = internal::NewWindow(cls);
    if (!data) return kNoWindow;
    data->text = params.title;
    data->style = params.style;
    data->id = params.id;
    data->rect = params.rect;
    if (parent && (params.style & WS_CHILD)) {
        data->parent = parent->handle;
        parent->children.push_back(data->handle);
    } else if (parent) {
        data->owner = parent->handle;
    }
    const WindowHandle window = data->handle;
    if (internal::CallProc(data->proc, window, WM_CREATE, 0, params.createParam) == -1) {
        internal::DestroyWindowTree(window);
        return kNoWindow;
    }
    if (!IsWindow(window)) return kNoWindow;  // its WM_CREATE destroyed it
    NotifyWindowChanged();
    return window;
}

bool DestroyWindow(WindowHandle window) {
    MessageLoop* loop = MessageLoop::OwnerOf(window);
    return loop && loop->DestroyWindow(window);
}

// ---- family and identity ----------------------------------------------------------------

WindowHandle GetParent(WindowHandle window) {
    auto d = Own(window);
    if (!d) return kNoWindow;
    return d->parent != kNoWindow ? d->parent : d->owner;
}

std::vector<WindowHandle> GetChildren(WindowHandle window) {
    auto d = Own(window);
    return d ? d->children : std::vector<WindowHandle>{};
}

WindowHandle GetDlgItem(WindowHandle dialog, int id) {
    auto d = Own(dialog);
    if (!d) return kNoWindow;
    for (WindowHandle child : d->children) {
        auto c = Own(child);
        if (c && c->id == id) return child;
    }
    return kNoWindow;
}

int GetDlgCtrlID(WindowHandle window) {
    auto d = Own(window);
    return d ? d->id : 0;
}

// ---- text, style, state -----------------------------------------------------------------

bool SetWindowText(WindowHandle window, const std::string& text) {
    if (!Own(window)) return false;
    return SendMessage(window, WM_SETTEXT, 0, reinterpret_cast<LParam>(&text)) != 0;
}

std::string GetWindowText(WindowHandle window, size_t maxChars) {
    if (!Own(window)) return {};
    std::string text;
    SendMessage(window, WM_GETTEXT, static_cast<WParam>(maxChars), reinterpret_cast<LParam>(&text));
    return internal::Utf8Prefix(text, maxChars);
}

bool SetDlgItemText(WindowHandle dialog, int id, const std::string& text) {
    return SetWindowText(GetDlgItem(dialog, id), text);
}

std::string GetDlgItemText(WindowHandle dialog, int id, size_t maxChars) {
    return GetWindowText(GetDlgItem(dialog, id), maxChars);
}

bool SetDlgItemInt(WindowHandle dialog, int id, int value) {
    return SetDlgItemText(dialog, id, std::to_string(value));
}

uint32_t GetWindowStyle(WindowHandle window) {
    auto d = Own(window);
    return d ? d->style : 0;
}

bool SetWindowStyle(WindowHandle window, uint32_t style) {
    auto d = Own(window);
    if (!d) return false;
    if (d->style != style) {
        d->style = style;
        NotifyWindowChanged();
    }
    return true;
}

bool EnableWindow(WindowHandle window, bool enable) {
    return ChangeStateBit(window, WS_DISABLED, !enable, WM_ENABLE, enable);
}

bool IsWindowEnabled(WindowHandle window) {
    auto d = Own(window);
    return d && !(d->style & WS_DISABLED);
}

bool ShowWindow(WindowHandle window, int command) {
    const bool show = command != SW_HIDE;
    return ChangeStateBit(window, WS_VISIBLE, show, WM_SHOWWINDOW, show);
}

bool IsWindowVisible(WindowHandle window) {
    auto d = Own(window);
    if (!d) return false;
    for (; d; d = Own(d->parent)) {
        if (!(d->style & WS_VISIBLE)) return false;
    }
    return true;
}

// ---- focus, capture, cursor -------------------------------------------------------------

WindowHandle SetFocus(WindowHandle window) {
    WindowHandle old = GetFocus();
    if (window != kNoWindow && (!Own(window) || !IsWindowEnabled(window))) return kNoWindow;
    if (window == old) return old;
    if (old != kNoWindow) SendMessage(old, WM_KILLFOCUS, static_cast<WParam>(window), 0);
    // The old window's WM_KILLFOCUS may have destroyed the new one.
    if (window != kNoWindow && !Own(window)) window = kNoWindow;
    tInput.focus = window;
    if (window != kNoWindow) SendMessage(window, WM_SETFOCUS, static_cast<WParam>(old), 0);
    return old;
}

WindowHandle GetFocus() {
    if (tInput.focus != kNoWindow && !Own(tInput.focus)) tInput.focus = kNoWindow;
    return tInput.focus;
}

WindowHandle SetCapture(WindowHandle window) {
    WindowHandle old = GetCapture();
    if (window != kNoWindow && !Own(window)) return old;
    tInput.capture = window;
    if (old != kNoWindow && old != window) SendMessage(old, WM_CAPTURECHANGED, 0, static_cast<LParam>(window));
    return old;
}

bool ReleaseCapture() {
    WindowHandle holder = GetCapture();
    if (holder == kNoWindow) return false;
    tInput.capture = kNoWindow;
    SendMessage(holder, WM_CAPTURECHANGED, 0, 0);
    return true;
}

WindowHandle GetCapture() {
    if (tInput.capture != kNoWindow && !Own(tInput.capture)) tInput.capture = kNoWindow;
    return tInput.capture;
}

CursorHandle LoadCursor(int cursorId) {
    for (const auto& c : kCursors) {
        if (c.id == cursorId) return c.handle;
    }
    return 0;
}

CursorHandle SetCursor(CursorHandle cursor) {
    CursorHandle old = tInput.cursor;
    if (cursor == 0 || CursorId(cursor) != 0) tInput.cursor = cursor;
    return old;
}

CursorHandle GetCursor() { return tInput.cursor; }

int CursorId(CursorHandle cursor) {
    for (const auto& c : kCursors) {
        if (c.handle == cursor) return c.id;
    }
    return 0;
}

// ---- rectangles -------------------------------------------------------------------------

bool GetClientRect(WindowHandle window, Rect& out) {
    auto d = Own(window);
    if (!d) return false;
    out = Rect{0, 0, d->rect.Width(), d->rect.Height()};
    return true;
}

bool GetWindowRect(WindowHandle window, Rect& out) {
    auto d = Own(window);
    if (!d) return false;
    const Point origin = ScreenOrigin(*d);
    out = Rect{origin.x, origin.y, origin.x + d->rect.Width(), origin.y + d->rect.Height()};
    return true;
}

bool MoveWindow(WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height, bool repaint) {
    auto d = Own(window);
    if (!d) return false;
    const Rect next{x, y, x + std::max(width, 0), y + std::max(height, 0)};
    if (next == d->rect) return true;
    const bool resized = next.Width() != d->rect.Width() || next.Height() != d->rect.Height();
    d->rect = next;
    if (resized) {
        SendMessage(window, WM_SIZE, 0,
                    MakeLParam(static_cast<uint16_t>(next.Width()), static_cast<uint16_t>(next.Height())));
    }
    if (repaint) internal::Invalidate(window, true);
    NotifyWindowChanged();
    return true;
}

bool ClientToScreen(WindowHandle window, Point& p) {
    auto d = Own(window);
    if (!d) return false;
    const Point origin = ScreenOrigin(*d);
    p.x += origin.x;
    p.y += origin.y;
    return true;
}

bool ScreenToClient(WindowHandle window, Point& p) {
    auto d = Own(window);
    if (!d) return false;
    const Point origin = ScreenOrigin(*d);
    p.x -= origin.x;
    p.y -= origin.y;
    return true;
}

bool MapWindowRect(WindowHandle from, WindowHandle to, Rect& r) {
    Point a{r.left, r.top}, b{r.right, r.bottom};
    if (from != kNoWindow && (!ClientToScreen(from, a) || !ClientToScreen(from, b))) return false;
    if (to != kNoWindow && (!ScreenToClient(to, a) || !ScreenToClient(to, b))) return false;
    r = Rect{a.x, a.y, b.x, b.y};
    return true;
}

// ---- properties -------------------------------------------------------------------------

bool SetProp(WindowHandle window, Atom key, uintptr_t value) {
    auto d = Own(window);
    if (!d || key == 0) return false;
    d->props[key] = value;
    return true;
}

uintptr_t GetProp(WindowHandle window, Atom key) {
    auto d = Own(window);
    if (!d) return 0;
    auto it = d->props.find(key);
    return it == d->props.end() ? 0 : it->second;
}

uintptr_t RemoveProp(WindowHandle window, Atom key) {
    auto d = Own(window);
    if (!d) return 0;
    auto it = d->props.find(key);
    if (it == d->props.end()) return 0;
    const uintptr_t value = it->second;
    d->props.erase(it);
    return value;
}

// ---- procedures and subclassing ----------------------------------------------------------

WndProcRef GetWindowProc(WindowHandle window) {
    auto d = Own(window);
    return d ? d->proc : nullptr;
}

WndProcRef SetWindowProc(WindowHandle window, WndProcRef proc) {
    auto d = Own(window);
    if (!d || !proc) return nullptr;
    std::swap(d->proc, proc);
    return proc;
}

LResult CallWindowProc(const WndProcRef& proc, WindowHandle window, uint32_t msg, WParam w, LParam l) {
    return internal::CallProc(proc, window, msg, w, l);
}

LResult DefWindowProc(WindowHandle window, uint32_t msg, WParam w, LParam l) {
    auto d = Own(window);
    if (!d) return 0;
    switch (msg) {
        case WM_SETTEXT: {
            const auto* text = reinterpret_cast<const std::string*>(l);
            std::string next = text ? *text : std::string();
            if (next != d->text) {
                d->text = std::move(next);
                NotifyWindowChanged();
            }
            return 1;
        }
        case WM_GETTEXT: {
            auto* out = reinterpret_cast<std::string*>(l);
            if (!out) return 0;
            *out = internal::Utf8Prefix(d->text, static_cast<size_t>(w));
            return static_cast<LResult>(internal::Utf8Length(*out));
        }
        case WM_SETFONT:
            if (d->font != static_cast<GdiHandle>(w)) {
                d->font = static_cast<GdiHandle>(w);
                NotifyWindowChanged();
            }
            if (l) internal::Invalidate(window, true);
            return 0;
        case WM_GETFONT:
            return static_cast<LResult>(d->font);
        case WM_ERASEBKGND: {
            const GdiHandle brush = d->cls ? d->cls->background : 0;
            if (brush == 0 || w == 0) return 0;
            Rect client{0, 0, d->rect.Width(), d->rect.Height()};
            return FillRect(static_cast<DcHandle>(w), client, brush) ? 1 : 0;
        }
        case WM_CLOSE:
            internal::DestroyWindowTree(window);
            return 0;
        case WM_PAINT:
            internal::Validate(window);
            return 0;
        default:
            return 0;
    }
}

// ---- painting ---------------------------------------------------------------------------

bool InvalidateRect(WindowHandle window, const Rect*, bool erase) { return internal::Invalidate(window, erase); }

bool UpdateWindow(WindowHandle window) { return internal::PaintNow(window); }

// ---- what the shell shows ---------------------------------------------------------------

void SetWindowChangeListener(std::function<void()> listener) {
    std::lock_guard lock(gListenerMutex);
    gListener = listener ? std::make_shared<const std::function<void()>>(std::move(listener)) : nullptr;
}

void NotifyWindowChanged() {
    std::shared_ptr<const std::function<void()>> listener;
    {
        std::lock_guard lock(gListenerMutex);
        listener = gListener;
    }
    if (listener) (*listener)();
}

}  // namespace kestrix::platform
