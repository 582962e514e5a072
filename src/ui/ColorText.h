// ColorText: makes an existing static control of a dialog draw its text in a chosen
// colour (the red notice of the Account page). Attaching subclasses the control and hooks
// its parent (see ParentHook.h), which sets the colour on the device context of the
// control's WM_CTLCOLORSTATIC. The colour is module-wide: every attach replaces it, so all
// colour-text controls show the colour of the last attach. The control's object is kept in
// its window property kColorTextProperty; the object is detached when the control is
// destroyed (or when the object goes first).
// Threads: UI thread. The atom is added when the plug-in loads and deleted when it unloads.
#pragma once
#include "platform/Gdi.h"
#include "platform/Window.h"

namespace kestrix::ui {

inline constexpr const char* kColorTextProperty =
    "_ColorText_Object_Pointer_\\{BFEED740-CC6D-47c5-831D-9848FD916EEF}";
inline constexpr platform::Colorref kInitialTextColour = 0x00FF0000;

// The property's global atom: added once, deleted once (0 before it is added).
bool AddColorTextAtom();
void DeleteColorTextAtom();
platform::Atom ColorTextAtom();

class ColorText {
public:
    ColorText() = default;
    virtual ~ColorText();
    ColorText(const ColorText&) = delete;
    ColorText& operator=(const ColorText&) = delete;

    // The control it is attached to, kNoWindow when none.
    platform::WindowHandle Control() const { return control_; }

private:
    friend bool AttachColorText(ColorText& object, platform::WindowHandle dialog, int controlId,
                                platform::Colorref colour);
    platform::LResult ControlProc(platform::WindowHandle w, uint32_t msg, platform::WParam wp, platform::LParam lp);
    void Detach();

    platform::WndProcRef previous_;
    platform::WindowHandle control_ = platform::kNoWindow;
};

// Attaches the object to the dialog's control of that id and makes colour the text colour
// of every colour-text control. False (nothing changed) when the control does not exist or
// the atom was never added.
bool AttachColorText(ColorText& object, platform::WindowHandle dialog, int controlId, platform::Colorref colour);
// The number of attached controls.
int AttachedColorTexts();

}  // namespace kestrix::ui
