// Hyperlink: makes an existing static control of a dialog a link. Its text is blue (purple
// once the link has been opened), underlined while the pointer is over it (the control
// holds the mouse capture then, and gives up the capture when the pointer leaves its
// client rectangle), shows the hand cursor, draws a focus rectangle on its parent while it
// has the focus, and opens its address with the shell when tapped or on the space key.
// Attaching subclasses the control and hooks its parent (see ParentHook.h); the object is
// kept in the control's window property kHyperlinkProperty and is detached when the
// control is destroyed (or when the object goes first). The underlined font (made from the
// first attached control's font) and the cursor exist while a link is attached.
// Threads: UI thread. The atom is added when the plug-in loads and deleted when it unloads.
#pragma once
#include <string>

#include "platform/Gdi.h"
#include "platform/Window.h"

namespace kestrix::ui {

inline constexpr const char* kHyperlinkProperty =
    "_Hyperlink_Object_Pointer_\\{AFEED740-CC6D-47c5-831D-9848FD916EEF}";
inline constexpr platform::Colorref kLinkColour = 0x00FF0000;
inline constexpr platform::Colorref kVisitedLinkColour = 0x00800080;

// The property's global atom: added once, deleted once (0 before it is added).
bool AddHyperlinkAtom();
void DeleteHyperlinkAtom();
platform::Atom HyperlinkAtom();

class Hyperlink {
public:
    Hyperlink() = default;
    virtual ~Hyperlink();
    // Called when the pointer or the focus arrives and leaves; nothing here.
    virtual void OnHoverStart() {}
    virtual void OnHoverEnd() {}

    Hyperlink(const Hyperlink&) = delete;
    Hyperlink& operator=(const Hyperlink&) = delete;

    bool Visited() const { return visited_ != 0; }
    platform::WindowHandle Control() const { return control_; }

private:
    friend bool AttachHyperlink(Hyperlink& object, platform::WindowHandle dialog, int controlId,
                                const std::string& url);
    platform::LResult ControlProc(platform::WindowHandle w, uint32_t msg, platform::WParam wp, platform::LParam lp);
    void Open();
    void Detach();

    std::string url_;
    int hovering_ = 0;
    int visited_ = 0;
    platform::GdiHandle normalFont_ = 0;
    platform::WndProcRef previous_;
    platform::WindowHandle control_ = platform::kNoWindow;
};

// Attaches the object to the dialog's control of that id with the address it opens. False
// (nothing changed) when the control does not exist, the atom was never added, or the
// address cannot be copied.
bool AttachHyperlink(Hyperlink& object, platform::WindowHandle dialog, int controlId, const std::string& url);
int AttachedHyperlinks();

}  // namespace kestrix::ui
