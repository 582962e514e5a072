// What colour-text and hyperlink controls share: the hook on a control's parent window
// that colours the control's text (WM_CTLCOLORSTATIC) and puts the parent's own procedure
// back when the parent is destroyed. Each kind has one hook object and one window-property
// atom; on the parent, that property holds the procedure the kind's hook replaced, on a
// control the control's object.
// Threads: UI thread.
#pragma once
#include <cstdint>

#include "platform/Gdi.h"
#include "platform/Window.h"

namespace kestrix::ui::detail {

// The text colour for a control that carries the kind's property (its object).
using ColourOf = platform::Colorref (*)(uintptr_t object);

// The hook procedure of one kind. Make it once per kind and keep it: the same object is
// installed on every parent, so a chain of hooks can be told apart.
platform::WndProcRef MakeParentHook(platform::Atom (*atom)(), ColourOf colour);

// Installs the kind's hook on the parent unless the parent already has it (the parent
// then carries the kind's property). Checking the property rather than the current
// procedure keeps the chain intact when the other kind was hooked in between. False when
// the parent does not exist or the atom is missing.
bool HookParent(platform::WindowHandle parent, platform::Atom atom, const platform::WndProcRef& hook);

}  // namespace kestrix::ui::detail
