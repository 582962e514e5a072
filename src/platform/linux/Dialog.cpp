#include "platform/Dialog.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "platform/Log.h"
#include "platform/Text.h"
#include "platform/linux/WindowTable.h"

namespace kestrix::platform {

namespace {

using internal::DialogState;

// The dialog font's average character is 8 x 16 pixels, so one horizontal unit (a quarter
// of its width) and one vertical unit (an eighth of its height) are both 2 pixels: a
// template 240 units wide fills the 480-pixel screen.
constexpr int32_t kCharWidthPx = 8;
constexpr int32_t kCharHeightPx = 16;

std::atomic<int64_t> gUnattendedTimeoutMs{120'000};

Rect DialogUnitsToPixels(int32_t x, int32_t y, int32_t cx, int32_t cy) {
    auto px = [](int32_t units) { return units * kCharWidthPx / 4; };
    auto py = [](int32_t units) { return units * kCharHeightPx / 8; };
    return Rect{px(x), py(y), px(x + cx), py(y + cy)};
}

// The window procedure of every dialog: its dialog procedure first; what that leaves
// (a zero result) gets the default handling.
LResult DialogManagerProc(WindowHandle window, uint32_t msg, WParam w, LParam l) {
    auto state = internal::DialogOf(window);
    if (state && state->dlgProc) {
        const WndProcRef proc = state->dlgProc;  // kept while it runs
        if (LResult result = internal::CallProc(proc, window, msg, w, l)) return result;
    }
    switch (msg) {
        case WM_CLOSE:
            // Closing a dialog is its Cancel button; one that has ended is going anyway.
            if (state && !state->ended) SendMessage(window, WM_COMMAND, MakeWParam(IDCANCEL, BN_CLICKED), 0);
            return 0;
        default:
            return DefWindowProc(window, msg, w, l);
    }
}

std::string Described(WindowHandle dialog) {
    std::string caption = GetWindowText(dialog);
    if (!caption.empty()) return "the dialog \"" + caption + "\"";
    auto state = internal::DialogOf(dialog);
    return "dialog " + std::to_string(state ? state->templateId : 0);
}

std::string Duration(int64_t ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::shared_ptr<DialogState> ModalState(WindowHandle dialog) {
    auto state = internal::DialogOf(dialog);
    return state && state->modal ? state : nullptr;
}

}  // namespace

namespace internal {

std::shared_ptr<const ClassInfo> DialogClass() {
    static const auto cls = [] {
        auto c = std::make_shared<ClassInfo>();
        c->name = "#32770";
        c->kind = ControlKind::Dialog;
        c->proc = MakeWndProc(DialogManagerProc);
        return std::shared_ptr<const ClassInfo>(std::move(c));
    }();
    return cls;
}

std::shared_ptr<DialogState> DialogOf(WindowHandle window) {
    auto d = Own(window);
    return d ? d->dialog : nullptr;
}

WindowHandle TopLevelOf(WindowHandle window) {
    auto d = Own(window);
    while (d && d->parent != kNoWindow) d = Own(d->parent);
    return d ? d->handle : kNoWindow;
}

WindowHandle CreateDialogWindow(const DialogTemplate& tmpl, WindowHandle parent, bool child,
                                std::shared_ptr<DialogState> state, LParam initParam) {
    CreateWindowParams params;
    params.className = DialogClass()->name;
    params.title = tmpl.caption;
    params.style = (tmpl.style & ~(WS_CHILD | WS_POPUP | WS_VISIBLE)) | (child ? WS_CHILD : WS_POPUP);
    params.parent = parent;
    params.rect = child ? DialogUnitsToPixels(0, 0, tmpl.cx, tmpl.cy)
                        : DialogUnitsToPixels(tmpl.x, tmpl.y, tmpl.cx, tmpl.cy);
    const WindowHandle dialog = CreateWindowEx(params);
    auto data = Own(dialog);
    if (!data) return kNoWindow;
    state->templateId = tmpl.id;
    data->dialog = state;

    const GdiHandle font = GetStockObject(DEFAULT_GUI_FONT);
    SendMessage(dialog, WM_SETFONT, font, 0);
    WindowHandle firstTabStop = kNoWindow;
    for (const DialogItemTemplate& item : tmpl.items) {
        CreateWindowParams control;
        control.className = item.className;
        control.title = item.text;
        control.style = (item.style & ~WS_POPUP) | WS_CHILD;
        control.parent = dialog;
        control.id = item.id;
        control.rect = DialogUnitsToPixels(item.x, item.y, item.cx, item.cy);
        const WindowHandle created = CreateWindowEx(control);
        if (created == kNoWindow) {
            LogWarning("dialog " + std::to_string(tmpl.id) + ": cannot create control " + std::to_string(item.id) +
                       " of class \"" + item.className + "\"");
            DestroyWindowTree(dialog);
            return kNoWindow;
        }
        SendMessage(created, WM_SETFONT, font, 0);
        if (firstTabStop == kNoWindow && (control.style & WS_TABSTOP)) firstTabStop = created;
    }
    const LResult focus = SendMessage(dialog, WM_INITDIALOG, static_cast<WParam>(firstTabStop), initParam);
    if (!IsWindow(dialog)) return kNoWindow;
    if (focus != 0 && firstTabStop != kNoWindow && IsWindow(firstTabStop)) SetFocus(firstTabStop);
    return dialog;
}

void EndModal(DialogState& state, int result) {
    if (state.ended) return;
    state.ended = true;
    state.result = result;
    // The owner takes input again at once, before the dialog's window goes.
    const WindowHandle owner = std::exchange(state.disabledOwner, kNoWindow);
    if (owner != kNoWindow) EnableWindow(owner, true);
    NotifyWindowChanged();
}

int RunModal(WindowHandle dialog, const std::shared_ptr<DialogState>& state, const std::function<void()>& cancel,
             int cancelResult) {
    MessageLoop* loop = MessageLoop::Current();
    auto ended = [&] { return state->ended || !IsWindow(dialog); };
    const uint64_t opened = loop->GetClock().MonotonicMs();
    auto cancelNow = [&](const std::string& why) {
        LogWarning(why);
        cancel();
        if (!state->ended) EndModal(*state, cancelResult);
        state->result = cancelResult;
    };
    while (!ended()) {
        const int64_t timeout = UnattendedTimeout();
        int64_t wait = -1;
        if (timeout >= 0) {
            const uint64_t since = std::max(opened, LastInputMs());
            const uint64_t now = loop->GetClock().MonotonicMs();
            const int64_t quiet = now > since ? static_cast<int64_t>(now - since) : 0;
            if (quiet >= timeout) {
                cancelNow("nobody answered " + Described(dialog) + " within " + Duration(timeout) + ": cancelled");
                break;
            }
            wait = timeout - quiet;
        }
        if (loop->PumpUntil(ended, wait)) break;
        if (loop->QuitRequested()) {
            cancelNow(Described(dialog) + " was cancelled: the shell is shutting down");
            break;
        }
    }
    const int result = state->result;
    if (!state->ended) EndModal(*state, result);
    DestroyWindowTree(dialog);
    return result;
}

}  // namespace internal

int DialogBoxIndirectParam(uintptr_t instance, const DialogTemplate& tmpl, WindowHandle owner, DlgProc proc,
                           LParam initParam) {
    if (instance == 0 || !proc || !MessageLoop::Current()) return -1;
    if (owner != kNoWindow && !IsWindow(owner)) return -1;
    auto state = std::make_shared<DialogState>();
    state->dlgProc = MakeWndProc(std::move(proc));
    state->modal = true;
    const WindowHandle dialog = internal::CreateDialogWindow(tmpl, owner, false, state, initParam);
    if (dialog == kNoWindow) return -1;
    // The window the dialog was opened from takes no input while it is open.
    const WindowHandle top = internal::TopLevelOf(owner);
    if (top != kNoWindow && !state->ended && IsWindowEnabled(top)) {
        EnableWindow(top, false);
        state->disabledOwner = top;
    }
    ShowWindow(dialog, SW_SHOW);
    return internal::RunModal(
        dialog, state, [dialog] { SendMessage(dialog, WM_COMMAND, MakeWParam(IDCANCEL, BN_CLICKED), 0); }, IDCANCEL);
}

WindowHandle CreateDialogIndirectParam(uintptr_t instance, const DialogTemplate& tmpl, WindowHandle owner,
                                       DlgProc proc, LParam initParam) {
    if (instance == 0 || !proc || !MessageLoop::Current()) return kNoWindow;
    if (owner != kNoWindow && !IsWindow(owner)) return kNoWindow;
    auto state = std::make_shared<DialogState>();
    state->dlgProc = MakeWndProc(std::move(proc));
    const WindowHandle dialog = internal::CreateDialogWindow(tmpl, owner, false, state, initParam);
    if (dialog != kNoWindow && (tmpl.style & WS_VISIBLE)) ShowWindow(dialog, SW_SHOW);
    return dialog;
}

bool EndDialog(WindowHandle dialog, int result) {
    auto state = ModalState(dialog);
    if (!state) return false;
    internal::EndModal(*state, result);
    return true;
}

void SetUnattendedTimeout(int64_t ms) { gUnattendedTimeoutMs.store(ms < 0 ? -1 : ms); }

int64_t UnattendedTimeout() { return gUnattendedTimeoutMs.load(); }

// ---- shell dialog helpers ---------------------------------------------------------------

bool SHInitDialog(const ShInitDlgInfo& info) {
    auto state = internal::DialogOf(info.dialog);
    if (!state) return false;
    if (!(info.mask & SHIDIM_FLAGS)) return true;
    state->shellFlags = info.flags;
    constexpr uint32_t kFullScreen = SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_FULLSCREENNOMENUBAR;
    // A page fills its sheet already; only a top-level dialog is sized to the screen.
    if ((info.flags & kFullScreen) && internal::TopLevelOf(info.dialog) == info.dialog) {
        MoveWindow(info.dialog, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), false);
    }
    NotifyWindowChanged();
    return true;
}

uint32_t DialogShellFlags(WindowHandle dialog) {
    auto state = internal::DialogOf(dialog);
    if (state && state->sheet != kNoWindow) state = internal::DialogOf(state->sheet);
    return state ? state->shellFlags : 0;
}

bool SHSipPreference(WindowHandle window, int state) {
    if (state != SIP_UP && state != SIP_DOWN) return false;
    auto dialog = internal::DialogOf(window);
    if (!dialog) dialog = internal::DialogOf(GetParent(window));
    return dialog != nullptr;
}

}  // namespace kestrix::platform
