#include "ui/Hyperlink.h"

#include <new>
#include <utility>

#include "platform/Shell.h"
#include "ui/ParentHook.h"

namespace kestrix::ui {

using namespace platform;

namespace {

Atom g_atom = 0;
int g_count = 0;
GdiHandle g_underlinedFont = 0;
CursorHandle g_cursor = 0;

const WndProcRef& ParentHook() {
    static const WndProcRef hook = detail::MakeParentHook(HyperlinkAtom, [](uintptr_t object) {
        return reinterpret_cast<const Hyperlink*>(object)->Visited() ? kVisitedLinkColour : kLinkColour;
    });
    return hook;
}

// The control's window rectangle grown by one pixel, in its parent's client coordinates;
// drawn twice it is gone again.
void DrawFocus(WindowHandle control) {
    Rect r;
    if (!GetWindowRect(control, r)) return;
    r.left -= 1;
    r.top -= 1;
    r.right += 1;
    r.bottom += 1;
    const WindowHandle parent = GetParent(control);
    MapWindowRect(kNoWindow, parent, r);
    if (DcHandle dc = GetDC(parent)) {
        DrawFocusRect(dc, r);
        ReleaseDC(parent, dc);
    }
}

Point PointOf(LParam lp) {
    const auto v = static_cast<uintptr_t>(lp);
    return {static_cast<int16_t>(LoWord(v)), static_cast<int16_t>(HiWord(v))};
}

}  // namespace

bool AddHyperlinkAtom() { return detail::AddAtom(g_atom, kHyperlinkProperty); }
void DeleteHyperlinkAtom() { detail::DeleteAtom(g_atom); }

Atom HyperlinkAtom() { return g_atom; }
int AttachedHyperlinks() { return g_count; }

Hyperlink::~Hyperlink() { Detach(); }

void Hyperlink::Detach() {
    if (detail::UnhookControl(control_, g_atom, this, previous_)) {
        SendMessage(control_, WM_SETFONT, normalFont_, 0);
        if (--g_count < 1) {
            DeleteObject(g_underlinedFont);
            g_underlinedFont = 0;
            g_cursor = 0;
        }
    }
    control_ = kNoWindow;
    previous_.reset();
    hovering_ = 0;
}

void Hyperlink::Open() {
    ShellExecuteOpen(url_);
    // Opened or not, the link counts as visited; repainting shows it purple at once.
    visited_ = 1;
    InvalidateRect(control_, nullptr, true);
}

LResult Hyperlink::ControlProc(WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
    switch (msg) {
        case WM_MOUSEMOVE:
            if (!hovering_) {
                hovering_ = 1;
                SendMessage(w, WM_SETFONT, g_underlinedFont, 1);
                InvalidateRect(w, nullptr, true);
                OnHoverStart();
                SetCapture(w);
            } else {
                Rect client;
                if (GetClientRect(w, client) && !client.Contains(PointOf(lp))) ReleaseCapture();
            }
            return 0;
        case WM_CAPTURECHANGED:
            hovering_ = 0;
            OnHoverEnd();
            SendMessage(w, WM_SETFONT, normalFont_, 1);
            InvalidateRect(w, nullptr, true);
            return 0;
        case WM_LBUTTONUP:
            Open();
            return 0;
        case WM_KEYUP:
            if (wp != static_cast<WParam>(VK_SPACE)) break;
            Open();
            return 0;
        case WM_SETFOCUS:
            OnHoverStart();
            DrawFocus(w);
            return 0;
        case WM_KILLFOCUS:
            OnHoverEnd();
            DrawFocus(w);
            return 0;
        case WM_SETCURSOR:
            SetCursor(g_cursor);
            return 1;
        case WM_DESTROY: {
            WndProcRef previous = previous_;
            Detach();
            return CallWindowProc(previous, w, msg, wp, lp);
        }
        default:
            break;
    }
    return CallWindowProc(previous_, w, msg, wp, lp);
}

bool AttachHyperlink(Hyperlink& object, WindowHandle dialog, int controlId, const std::string& url) {
    std::string copy;
    try {
        copy = url;
    } catch (const std::bad_alloc&) {
        return false;
    }
    const WindowHandle control = detail::PrepareControl(dialog, controlId, g_atom, ParentHook());
    if (control == kNoWindow) return false;
    object.Detach();
    object.url_ = std::move(copy);
    object.normalFont_ = static_cast<GdiHandle>(SendMessage(control, WM_GETFONT, 0, 0));
    if (g_count == 0) {
        // A control without a font of its own draws with the default one.
        LogFont font;
        if (!GetFontInfo(object.normalFont_, font)) GetFontInfo(GetStockObject(DEFAULT_GUI_FONT), font);
        font.underline = true;
        g_underlinedFont = CreateFontIndirect(font);
        g_cursor = LoadCursor(IDC_HAND);
        if (g_cursor == 0) g_cursor = LoadCursor(IDC_ARROW);
    }
    ++g_count;
    object.control_ = control;
    detail::HookControl(control, g_atom, &object, object.previous_,
                        MakeWndProc([&object](WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
                            return object.ControlProc(w, msg, wp, lp);
                        }));
    return true;
}

}  // namespace kestrix::ui
