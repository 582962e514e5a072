// The frame colour-text and hyperlink controls share: each kind has a window-property atom
// and one hook object for the parents of its controls. The parent hook colours the text of
// the kind's controls (WM_CTLCOLORSTATIC) and puts the parent's own procedure back when the
// parent is destroyed; on the parent, the kind's property holds the procedure the hook
// replaced, on a control the control's object.
// Threads: UI thread.
#pragma once
#include <cstdint>

#include "platform/Gdi.h"
#include "platform/Window.h"

namespace kestrix::ui::detail {

// Adds the atom once (true when it exists afterwards) and deletes it once.
bool AddAtom(platform::Atom& atom, const char* name);
void DeleteAtom(platform::Atom& atom);

// The text colour for a control that carries the kind's property (its object).
using ColourOf = platform::Colorref (*)(uintptr_t object);

// The parent hook of one kind. Make it once per kind and keep it: the same object is
// installed on every parent.
platform::WndProcRef MakeParentHook(platform::Atom (*atom)(), ColourOf colour);

// Readies the dialog's control of that id for a kind: hooks the parent unless it carries
// the kind's property already (checking the property rather than the current procedure
// keeps the chain intact when the other kind was hooked in between, where a second hook
// would call itself through the other), and gives the control SS_NOTIFY. The control, or
// kNoWindow (nothing changed) when it or the atom is missing.
platform::WindowHandle PrepareControl(platform::WindowHandle dialog, int controlId, platform::Atom atom,
                                      const platform::WndProcRef& parentHook);
// Keeps the control's procedure in previous, puts the object in its property and installs
// the hook.
void HookControl(platform::WindowHandle control, platform::Atom atom, const void* object,
                 platform::WndProcRef& previous, platform::WndProcRef hook);
// Puts previous back and removes the property when the control still carries this object.
// True when it did.
bool UnhookControl(platform::WindowHandle control, platform::Atom atom, const void* object,
                   const platform::WndProcRef& previous);

}  // namespace kestrix::ui::detail
