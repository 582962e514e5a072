// What a person does to an open dialog, turned into the messages its code expects.
#include "platform/Dialog.h"

#include "platform/linux/WindowTable.h"

namespace kestrix::platform {

namespace {

using internal::ControlKind;

constexpr WParam kMkLButton = 0x0001;
constexpr uint16_t kHtClient = 1;

// An open dialog a person can reach: it exists, has not ended, is shown and takes input
// (a dialog under a modal one does not). Counts as input for the unattended time-out.
bool Reachable(WindowHandle dialog) {
    auto state = internal::DialogOf(dialog);
    if (!state || state->ended || state->sheet != kNoWindow) return false;
    if (MessageLoop* loop = MessageLoop::Current()) internal::NoteInput(loop->GetClock().MonotonicMs());
    return IsWindowVisible(dialog) && IsWindowEnabled(dialog);
}

// The window whose controls a person sees: the dialog, or a sheet's shown page.
WindowHandle ControlsWindow(WindowHandle dialog) {
    if (!IsPropertySheet(dialog)) return dialog;
    return SheetPageWindow(dialog, SheetCurrentPage(dialog));
}

// The control a person can act on, of the kind asked for (None: any kind).
std::shared_ptr<internal::WindowData> Target(WindowHandle dialog, int controlId, ControlKind kind) {
    if (!Reachable(dialog)) return nullptr;
    const WindowHandle control = GetDlgItem(ControlsWindow(dialog), controlId);
    auto data = internal::Own(control);
    if (!data || (kind != ControlKind::None && data->Kind() != kind)) return nullptr;
    if (!IsWindowVisible(control) || !IsWindowEnabled(control)) return nullptr;
    return data;
}

LParam CentreOf(const internal::WindowData& control) {
    return MakeLParam(static_cast<uint16_t>(control.rect.Width() / 2), static_cast<uint16_t>(control.rect.Height() / 2));
}

// The control a person taps takes the focus first, as a field does when touched.
void Touch(WindowHandle control) { SetFocus(control); }

int CharOf(int virtualKey) {
    if (virtualKey == VK_ESCAPE || virtualKey == VK_RETURN || virtualKey == VK_SPACE) return virtualKey;
    if (virtualKey >= '0' && virtualKey <= '9') return virtualKey;
    if (virtualKey >= 'A' && virtualKey <= 'Z') return virtualKey - 'A' + 'a';
    return 0;
}

bool IsWithin(WindowHandle window, WindowHandle ancestor) {
    for (auto d = internal::Own(window); d; d = internal::Own(d->parent)) {
        if (d->handle == ancestor) return true;
    }
    return false;
}

}  // namespace

bool ClickControl(WindowHandle dialog, int controlId) {
    auto control = Target(dialog, controlId, ControlKind::None);
    if (!control) return false;
    const WindowHandle window = control->handle;
    if (control->Kind() == ControlKind::Button) {
        const uint32_t type = control->style & BS_TYPEMASK;
        if (type == BS_GROUPBOX) return false;
        Touch(window);
        if (type == BS_AUTOCHECKBOX) SetCheck(window, !GetCheck(window));
        internal::NotifyParent(window, BN_CLICKED);
        return true;
    }
    if (control->Kind() == ControlKind::Static && (control->style & SS_NOTIFY)) {
        const LParam centre = CentreOf(*control);
        SendMessage(window, WM_LBUTTONDOWN, kMkLButton, centre);
        SendMessage(window, WM_LBUTTONUP, 0, centre);
        internal::NotifyParent(window, STN_CLICKED);
        return true;
    }
    return false;
}

bool SelectListItem(WindowHandle dialog, int controlId, int index) {
    auto control = Target(dialog, controlId, ControlKind::ComboBox);
    if (!control || index < 0 || index >= static_cast<int>(control->items.size())) return false;
    Touch(control->handle);
    ComboSetCurSel(control->handle, index);
    internal::NotifyParent(control->handle, CBN_SELCHANGE);
    return true;
}

bool TypeText(WindowHandle dialog, int controlId, const std::string& text) {
    auto control = Target(dialog, controlId, ControlKind::Edit);
    if (!control) return false;
    Touch(control->handle);
    // SetWindowText: the edit's procedure notifies EN_CHANGE.
    return SetWindowText(control->handle, internal::Utf8Prefix(text, control->editLimit));
}

bool ScrollTrackbar(WindowHandle dialog, int controlId, int position, uint16_t code) {
    auto control = Target(dialog, controlId, ControlKind::Trackbar);
    if (!control || code > TB_ENDTRACK) return false;
    Touch(control->handle);
    TrackbarSetPos(control->handle, position, true);
    const int pos = TrackbarGetPos(control->handle);
    SendMessage(GetParent(control->handle), WM_HSCROLL, MakeWParam(code, static_cast<uint16_t>(pos)),
                static_cast<LParam>(control->handle));
    return true;
}

bool ExpandTreeItem(WindowHandle dialog, int controlId, TreeItem item, bool expand) {
    auto control = Target(dialog, controlId, ControlKind::TreeView);
    if (!control) return false;
    Touch(control->handle);
    return TreeExpand(control->handle, item, expand ? TVE_EXPAND : TVE_COLLAPSE);
}

bool SelectTreeItem(WindowHandle dialog, int controlId, TreeItem item) {
    auto control = Target(dialog, controlId, ControlKind::TreeView);
    if (!control || item == 0) return false;
    Touch(control->handle);
    return internal::TreeSelectBy(control->handle, item, 1);
}

bool HoverControl(WindowHandle dialog, int controlId, bool inside) {
    auto control = Target(dialog, controlId, ControlKind::None);
    if (!control) return false;
    // A static without SS_NOTIFY lets the pointer through to its dialog.
    if (control->Kind() == ControlKind::Static && !(control->style & SS_NOTIFY)) return false;
    const WindowHandle window = control->handle;
    if (inside) {
        SendMessage(window, WM_SETCURSOR, static_cast<WParam>(window), MakeLParam(kHtClient, WM_MOUSEMOVE));
        SendMessage(window, WM_MOUSEMOVE, 0, CentreOf(*control));
        return true;
    }
    const WindowHandle holder = GetCapture();
    if (holder == kNoWindow) return true;
    // Just past the control's bottom-right corner, in the holder's coordinates.
    Rect past{control->rect.Width(), control->rect.Height(), control->rect.Width(), control->rect.Height()};
    MapWindowRect(window, holder, past);
    SendMessage(holder, WM_MOUSEMOVE, 0, MakeLParam(static_cast<uint16_t>(past.left), static_cast<uint16_t>(past.top)));
    return true;
}

bool SelectSheetPage(WindowHandle sheet, int index) {
    return IsPropertySheet(sheet) && Reachable(sheet) && internal::SheetSelectPage(sheet, index);
}

bool PressDone(WindowHandle dialog) {
    if (!Reachable(dialog)) return false;
    if (IsPropertySheet(dialog)) return internal::SheetDone(dialog);
    SendMessage(dialog, WM_COMMAND, MakeWParam(IDOK, BN_CLICKED), 0);
    return true;
}

bool PressCancel(WindowHandle dialog) {
    if (!Reachable(dialog)) return false;
    if (IsPropertySheet(dialog)) return internal::SheetCancel(dialog);
    SendMessage(dialog, WM_COMMAND, MakeWParam(IDCANCEL, BN_CLICKED), 0);
    return true;
}

bool PressKey(WindowHandle dialog, int virtualKey) {
    if (!Reachable(dialog) || virtualKey <= 0 || virtualKey > 0xFE) return false;
    const WindowHandle focus = GetFocus();
    const WindowHandle target = focus != kNoWindow && IsWithin(focus, dialog) ? focus : dialog;
    const auto key = static_cast<WParam>(virtualKey);
    SendMessage(target, WM_KEYDOWN, key, 1);
    if (int ch = CharOf(virtualKey); ch != 0 && IsWindow(target)) SendMessage(target, WM_CHAR, static_cast<WParam>(ch), 1);
    if (IsWindow(target)) SendMessage(target, WM_KEYUP, key, static_cast<LParam>(0xC0000001u));
    return true;
}

}  // namespace kestrix::platform
