#include "ui/ParentHook.h"

#include <memory>

#include "platform/Controls.h"

namespace kestrix::ui::detail {

using namespace platform;

namespace {

LResult ParentHookProc(Atom atom, ColourOf colour, WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
    auto* saved = reinterpret_cast<WndProcRef*>(GetProp(w, atom));
    if (!saved) return DefWindowProc(w, msg, wp, lp);
    // A copy: the previous procedure may destroy the window, which frees the saved one.
    WndProcRef previous = *saved;
    if (msg == WM_DESTROY) {
        delete reinterpret_cast<WndProcRef*>(RemoveProp(w, atom));
        SetWindowProc(w, previous);
        return CallWindowProc(previous, w, msg, wp, lp);
    }
    if (msg == WM_CTLCOLORSTATIC) {
        if (uintptr_t object = GetProp(static_cast<WindowHandle>(lp), atom)) {
            const LResult brush = CallWindowProc(previous, w, msg, wp, lp);
            SetTextColor(static_cast<DcHandle>(wp), colour(object));
            return brush;
        }
    }
    return CallWindowProc(previous, w, msg, wp, lp);
}

bool HookParent(WindowHandle parent, Atom atom, const WndProcRef& hook) {
    if (GetProp(parent, atom) != 0) return true;
    auto saved = std::make_unique<WndProcRef>(GetWindowProc(parent));
    if (!SetProp(parent, atom, reinterpret_cast<uintptr_t>(saved.get()))) return false;
    saved.release();
    SetWindowProc(parent, hook);
    return true;
}

}  // namespace

bool AddAtom(Atom& atom, const char* name) {
    if (atom == 0) atom = GlobalAddAtom(name);
    return atom != 0;
}

void DeleteAtom(Atom& atom) {
    if (atom != 0) GlobalDeleteAtom(atom);
    atom = 0;
}

WndProcRef MakeParentHook(Atom (*atom)(), ColourOf colour) {
    return MakeWndProc([atom, colour](WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
        return ParentHookProc(atom(), colour, w, msg, wp, lp);
    });
}

WindowHandle PrepareControl(WindowHandle dialog, int controlId, Atom atom, const WndProcRef& parentHook) {
    const WindowHandle control = GetDlgItem(dialog, controlId);
    if (control == kNoWindow || atom == 0 || !HookParent(dialog, atom, parentHook)) return kNoWindow;
    SetWindowStyle(control, GetWindowStyle(control) | SS_NOTIFY);
    return control;
}

void HookControl(WindowHandle control, Atom atom, const void* object, WndProcRef& previous, WndProcRef hook) {
    previous = GetWindowProc(control);
    SetProp(control, atom, reinterpret_cast<uintptr_t>(object));
    SetWindowProc(control, std::move(hook));
}

bool UnhookControl(WindowHandle control, Atom atom, const void* object, const WndProcRef& previous) {
    if (control == kNoWindow || GetProp(control, atom) != reinterpret_cast<uintptr_t>(object)) return false;
    SetWindowProc(control, previous);
    RemoveProp(control, atom);
    return true;
}

}  // namespace kestrix::ui::detail
