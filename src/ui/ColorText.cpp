#include "ui/ColorText.h"

#include "platform/Controls.h"
#include "ui/ParentHook.h"

namespace kestrix::ui {

using namespace platform;

namespace {

Atom g_atom = 0;
Colorref g_colour = kInitialTextColour;
int g_count = 0;

const WndProcRef& ParentHook() {
    static const WndProcRef hook = detail::MakeParentHook(ColorTextAtom, [](uintptr_t) { return g_colour; });
    return hook;
}

}  // namespace

bool AddColorTextAtom() {
    if (g_atom == 0) g_atom = GlobalAddAtom(kColorTextProperty);
    return g_atom != 0;
}

void DeleteColorTextAtom() {
    if (g_atom != 0) GlobalDeleteAtom(g_atom);
    g_atom = 0;
}

Atom ColorTextAtom() { return g_atom; }
Colorref ColorTextColour() { return g_colour; }
int AttachedColorTexts() { return g_count; }

ColorText::~ColorText() { Detach(); }

void ColorText::Detach() {
    if (control_ != kNoWindow && GetProp(control_, g_atom) == reinterpret_cast<uintptr_t>(this)) {
        SetWindowProc(control_, previous_);
        RemoveProp(control_, g_atom);
        --g_count;
    }
    control_ = kNoWindow;
    previous_.reset();
}

LResult ColorText::ControlProc(WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
    WndProcRef previous = previous_;
    if (msg == WM_DESTROY) Detach();
    return CallWindowProc(previous, w, msg, wp, lp);
}

bool AttachColorText(ColorText& object, WindowHandle dialog, int controlId, Colorref colour) {
    const WindowHandle control = GetDlgItem(dialog, controlId);
    if (control == kNoWindow || g_atom == 0) return false;
    object.Detach();
    g_colour = colour;
    if (!detail::HookParent(dialog, g_atom, ParentHook())) return false;
    SetWindowStyle(control, GetWindowStyle(control) | SS_NOTIFY);
    ++g_count;
    object.previous_ = GetWindowProc(control);
    object.control_ = control;
    SetProp(control, g_atom, reinterpret_cast<uintptr_t>(&object));
    SetWindowProc(control, MakeWndProc([&object](WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
                      return object.ControlProc(w, msg, wp, lp);
                  }));
    return true;
}

}  // namespace kestrix::ui
