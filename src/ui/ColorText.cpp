#include "ui/ColorText.h"

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

bool AddColorTextAtom() { return detail::AddAtom(g_atom, kColorTextProperty); }
void DeleteColorTextAtom() { detail::DeleteAtom(g_atom); }

Atom ColorTextAtom() { return g_atom; }
int AttachedColorTexts() { return g_count; }

ColorText::~ColorText() { Detach(); }

void ColorText::Detach() {
    if (detail::UnhookControl(control_, g_atom, this, previous_)) --g_count;
    control_ = kNoWindow;
    previous_.reset();
}

LResult ColorText::ControlProc(WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
    WndProcRef previous = previous_;
    if (msg == WM_DESTROY) Detach();
    return CallWindowProc(previous, w, msg, wp, lp);
}

bool AttachColorText(ColorText& object, WindowHandle dialog, int controlId, Colorref colour) {
    const WindowHandle control = detail::PrepareControl(dialog, controlId, g_atom, ParentHook());
    if (control == kNoWindow) return false;
    object.Detach();
    g_colour = colour;
    ++g_count;
    object.control_ = control;
    detail::HookControl(control, g_atom, &object, object.previous_,
                        MakeWndProc([&object](WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
                            return object.ControlProc(w, msg, wp, lp);
                        }));
    return true;
}

}  // namespace kestrix::ui
