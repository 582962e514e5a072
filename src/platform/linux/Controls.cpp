#include "platform/Controls.h"

#include <algorithm>
#include <array>

#include "platform/linux/WindowTable.h"

namespace kestrix::platform {

namespace {

using internal::ControlKind;
using internal::OwnControl;

LResult EditProc(WindowHandle window, uint32_t msg, WParam w, LParam l) {
    const LResult result = DefWindowProc(window, msg, w, l);
    // Every replacement of the text counts as a change, as a person's typing does.
    if (msg == WM_SETTEXT) internal::NotifyParent(window, EN_CHANGE);
    return result;
}

// A drop-down list's window text is its selected item.
LResult ComboProc(WindowHandle window, uint32_t msg, WParam w, LParam l) {
    if (msg == WM_GETTEXT) {
        auto* out = reinterpret_cast<std::string*>(l);
        if (!out) return 0;
        *out = ComboGetText(window, static_cast<size_t>(w));
        return static_cast<LResult>(internal::Utf8Length(*out));
    }
    return DefWindowProc(window, msg, w, l);
}

std::shared_ptr<const internal::ClassInfo> MakeClass(const char* name, ControlKind kind, WndProc proc) {
    auto cls = std::make_shared<internal::ClassInfo>();
    cls->name = name;
    cls->kind = kind;
    cls->proc = MakeWndProc(std::move(proc));
    return cls;
}

void Changed() { NotifyWindowChanged(); }

}  // namespace

namespace internal {

std::shared_ptr<const ClassInfo> BuiltinClass(const std::string& name) {
    static const std::array<std::shared_ptr<const ClassInfo>, 6> classes{
        MakeClass(kStaticClass, ControlKind::Static, DefWindowProc),
        MakeClass(kButtonClass, ControlKind::Button, DefWindowProc),
        MakeClass(kEditClass, ControlKind::Edit, EditProc),
        MakeClass(kComboBoxClass, ControlKind::ComboBox, ComboProc),
        MakeClass(kTrackbarClass, ControlKind::Trackbar, DefWindowProc),
        MakeClass(kTreeViewClass, ControlKind::TreeView, DefWindowProc),
    };
    for (const auto& cls : classes) {
        if (CompareNoCase(cls->name, name) == 0) return cls;
    }
    auto dialog = DialogClass();
    return CompareNoCase(dialog->name, name) == 0 ? dialog : nullptr;
}

std::shared_ptr<WindowData> OwnControl(WindowHandle window, ControlKind kind) {
    auto d = Own(window);
    return d && d->Kind() == kind ? d : nullptr;
}

bool IsCheckBox(const WindowData& button) {
    const uint32_t type = button.style & BS_TYPEMASK;
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX;
}

}  // namespace internal

// ---- check box --------------------------------------------------------------------------

bool GetCheck(WindowHandle button) {
    auto d = OwnControl(button, ControlKind::Button);
    return d && internal::IsCheckBox(*d) && d->checked;
}

bool SetCheck(WindowHandle button, bool checked) {
    auto d = OwnControl(button, ControlKind::Button);
    if (!d || !internal::IsCheckBox(*d)) return false;
    if (d->checked != checked) {
        d->checked = checked;
        Changed();
    }
    return true;
}

bool IsDlgButtonChecked(WindowHandle dialog, int id) { return GetCheck(GetDlgItem(dialog, id)); }

bool CheckDlgButton(WindowHandle dialog, int id, bool checked) { return SetCheck(GetDlgItem(dialog, id), checked); }

// ---- drop-down list ---------------------------------------------------------------------

int ComboAddString(WindowHandle combo, const std::string& text) {
    auto d = OwnControl(combo, ControlKind::ComboBox);
    if (!d) return CB_ERR;
    d->items.push_back(text);
    Changed();
    return static_cast<int>(d->items.size()) - 1;
}

int ComboGetCount(WindowHandle combo) {
    auto d = OwnControl(combo, ControlKind::ComboBox);
    return d ? static_cast<int>(d->items.size()) : CB_ERR;
}

int ComboGetCurSel(WindowHandle combo) {
    auto d = OwnControl(combo, ControlKind::ComboBox);
    return d ? d->selected : CB_ERR;
}

int ComboSetCurSel(WindowHandle combo, int index) {
    auto d = OwnControl(combo, ControlKind::ComboBox);
    if (!d) return CB_ERR;
    const bool inRange = index >= 0 && index < static_cast<int>(d->items.size());
    const int next = inRange ? index : CB_ERR;
    if (d->selected != next) {
        d->selected = next;
        Changed();
    }
    return next;
}

int ComboSelectString(WindowHandle combo, int startAfter, const std::string& prefix) {
    auto d = OwnControl(combo, ControlKind::ComboBox);
    if (!d || d->items.empty()) return CB_ERR;
    const int count = static_cast<int>(d->items.size());
    // A start outside the list searches the whole list from the first item.
    const int first = startAfter >= 0 && startAfter < count ? startAfter + 1 : 0;
    for (int n = 0; n < count; ++n) {
        const int i = (first + n) % count;
        if (internal::StartsWithNoCase(d->items[static_cast<size_t>(i)], prefix)) return ComboSetCurSel(combo, i);
    }
    return CB_ERR;
}

std::string ComboGetItemText(WindowHandle combo, int index) {
    auto d = OwnControl(combo, ControlKind::ComboBox);
    if (!d || index < 0 || index >= static_cast<int>(d->items.size())) return {};
    return d->items[static_cast<size_t>(index)];
}

std::string ComboGetText(WindowHandle combo, size_t maxChars) {
    return internal::Utf8Prefix(ComboGetItemText(combo, ComboGetCurSel(combo)), maxChars);
}

// ---- edit -------------------------------------------------------------------------------

bool EditLimitText(WindowHandle edit, size_t maxChars) {
    auto d = OwnControl(edit, ControlKind::Edit);
    if (!d) return false;
    d->editLimit = maxChars == 0 ? SIZE_MAX : maxChars;
    return true;
}

// ---- trackbar ---------------------------------------------------------------------------

bool TrackbarSetRange(WindowHandle trackbar, int minimum, int maximum, bool) {
    auto d = OwnControl(trackbar, ControlKind::Trackbar);
    if (!d || minimum > maximum) return false;
    d->rangeMin = minimum;
    d->rangeMax = maximum;
    d->pos = std::clamp(d->pos, minimum, maximum);
    Changed();
    return true;
}

bool TrackbarSetPos(WindowHandle trackbar, int position, bool) {
    auto d = OwnControl(trackbar, ControlKind::Trackbar);
    if (!d) return false;
    const int next = std::clamp(position, d->rangeMin, d->rangeMax);
    if (next != d->pos) {
        d->pos = next;
        Changed();
    }
    return true;
}

int TrackbarGetPos(WindowHandle trackbar) {
    auto d = OwnControl(trackbar, ControlKind::Trackbar);
    return d ? d->pos : 0;
}

}  // namespace kestrix::platform
