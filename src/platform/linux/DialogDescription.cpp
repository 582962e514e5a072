// DescribeDialogs: every open dialog and sheet as the shell shows it.
#include "platform/Dialog.h"

#include <optional>

#include "platform/linux/WindowTable.h"

namespace kestrix::platform {

namespace {

using internal::ControlKind;
using internal::WindowData;

constexpr uint16_t kHtClient = 1;

std::optional<ControlType> TypeOf(const WindowData& control, bool painted) {
    switch (control.Kind()) {
        case ControlKind::Static: return painted ? ControlType::Image : ControlType::Static;
        case ControlKind::Button:
            if ((control.style & BS_TYPEMASK) == BS_GROUPBOX) return ControlType::Group;
            return internal::IsCheckBox(control) ? ControlType::Check : ControlType::Button;
        case ControlKind::Edit: return (control.style & ES_PASSWORD) ? ControlType::Password : ControlType::Edit;
        case ControlKind::ComboBox: return ControlType::List;
        case ControlKind::Trackbar: return ControlType::Trackbar;
        case ControlKind::TreeView: return ControlType::Tree;
        default:
            // A control of a registered class is shown by what it paints, if anything.
            if (painted) return ControlType::Image;
            return std::nullopt;
    }
}

// The static's look as painting it would give: its parent's WM_CTLCOLORSTATIC sets the
// text colour of a fresh DC, and its font says whether it is underlined.
void DescribeStatic(WindowHandle container, const WindowData& control, ControlInfo& info) {
    const WindowHandle window = control.handle;
    if (const DcHandle dc = GetDC(window)) {
        SendMessage(container, WM_CTLCOLORSTATIC, static_cast<WParam>(dc), static_cast<LParam>(window));
        info.color = GetTextColor(dc);
        ReleaseDC(window, dc);
    }
    if (!IsWindow(window)) return;
    LogFont font;
    const auto handle = static_cast<GdiHandle>(SendMessage(window, WM_GETFONT, 0, 0));
    info.underline = handle != 0 && GetFontInfo(handle, font) && font.underline;
    info.notify = (control.style & SS_NOTIFY) != 0;
    if (info.notify && IsWindow(window)) {
        // Asked as the pointer over it would ask; the current cursor is left as it was.
        const CursorHandle previous = SetCursor(0);
        SendMessage(window, WM_SETCURSOR, static_cast<WParam>(window), MakeLParam(kHtClient, WM_MOUSEMOVE));
        info.cursor = CursorId(GetCursor());
        SetCursor(previous);
    }
}

std::vector<ControlInfo> DescribeControls(WindowHandle container) {
    std::vector<ControlInfo> out;
    for (WindowHandle child : GetChildren(container)) {
        auto control = internal::Own(child);
        if (!control) continue;
        std::string painting = GetWindowPainting(child);
        const auto type = TypeOf(*control, !painting.empty());
        if (!type) continue;
        ControlInfo info;
        info.id = control->id;
        info.type = *type;
        info.enabled = IsWindowEnabled(child);
        info.visible = (control->style & WS_VISIBLE) != 0;
        info.rect = control->rect;
        switch (*type) {
            case ControlType::Password: info.length = internal::Utf8Length(control->text); break;
            case ControlType::Check:
                info.text = control->text;
                info.checked = control->checked;
                break;
            case ControlType::List:
                info.items = control->items;
                info.selected = control->selected;
                info.text = ComboGetText(child);
                break;
            case ControlType::Trackbar:
                info.min = control->rangeMin;
                info.max = control->rangeMax;
                info.pos = control->pos;
                break;
            case ControlType::Tree:
                info.tree = internal::DescribeTree(child);
                info.treeSelected = TreeGetNextItem(child, 0, TVGN_CARET);
                break;
            case ControlType::Static:
                info.text = control->text;
                DescribeStatic(container, *control, info);
                break;
            case ControlType::Image:
                info.text = control->text;
                info.svg = std::move(painting);
                break;
            default: info.text = control->text; break;
        }
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace

std::vector<DialogInfo> DescribeDialogs() {
    std::vector<DialogInfo> out;
    for (const auto& window : internal::OwnWindows()) {
        const auto& state = window->dialog;
        if (!state || window->parent != kNoWindow || state->ended || !(window->style & WS_VISIBLE)) continue;
        const WindowHandle dialog = window->handle;
        DialogInfo info;
        info.id = dialog;
        info.caption = window->text;
        info.modal = state->modal;
        const uint32_t flags = DialogShellFlags(dialog);
        info.doneButton = (flags & SHIDIF_DONEBUTTON) != 0;
        info.cancelButton = (flags & SHIDIF_CANCELBUTTON) != 0;
        WindowHandle container = dialog;
        if (state->sheetState) {
            info.sheet = true;
            info.pages = internal::SheetPageTitles(dialog);
            info.page = SheetCurrentPage(dialog);
            container = SheetPageWindow(dialog, info.page);
        }
        if (auto shown = internal::DialogOf(container)) info.templateId = shown->templateId;
        info.controls = DescribeControls(container);
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace kestrix::platform
