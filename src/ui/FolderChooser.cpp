#include "ui/FolderChooser.h"

#include <vector>

#include "platform/Controls.h"
#include "platform/DeviceFs.h"
#include "platform/Dialog.h"
#include "platform/Text.h"
#include "resources/Dialogs.h"
#include "ui/PageSupport.h"

namespace kestrix::ui {

using namespace platform;

namespace {

constexpr int kEndClosed = 16;
constexpr uint32_t kChooserShellFlags =
    SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN | SHIDIF_EMPTYMENU | SHIDIF_CANCELBUTTON;

struct ChooserState {
    bool open = false;
    TreeItem selected = 0;
    std::string result;
};
ChooserState g;

// A folder whose name holds a control character could not be the log's folder (the
// settings refuse such text), so it is neither listed nor made.
bool UsableName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/") == std::string::npos &&
           FindUnprintable(name) == std::string::npos;
}

// The root's path is its text "\"; every other item's is its parent's path, its text and
// a backslash. False when the path would be longer than kMaxFolderChars.
bool ItemPath(WindowHandle tree, TreeItem item, std::string& path) {
    std::vector<std::string> names;
    for (TreeItem i = item; i != 0; i = TreeGetNextItem(tree, i, TVGN_PARENT)) {
        names.push_back(TreeGetItemText(tree, i));
    }
    if (names.empty()) return false;
    path = names.back();
    for (size_t k = names.size() - 1; k-- > 0;) path += names[k] + "\\";
    return detail::CharCount(path) <= kMaxFolderChars;
}

// Room for the folder's path, name and backslash.
bool Fits(const std::string& parentPath, const std::string& name) {
    return detail::CharCount(parentPath) + detail::CharCount(name) + 1 <= kMaxFolderChars;
}

TreeItem InsertFolder(WindowHandle tree, TreeItem parent, const std::string& name) {
    return TreeInsertItem(tree, {parent, TVI_SORT, name, true, 0});
}

TreeItem FindChild(WindowHandle tree, TreeItem parent, const std::string& name) {
    for (TreeItem i = TreeGetNextItem(tree, parent, TVGN_CHILD); i != 0; i = TreeGetNextItem(tree, i, TVGN_NEXT)) {
        if (TreeGetItemText(tree, i) == name) return i;
    }
    return 0;
}

void ListChildren(WindowHandle tree, TreeItem item) {
    if (TreeGetNextItem(tree, item, TVGN_CHILD) != 0) return;  // listed before
    std::string path;
    if (!ItemPath(tree, item, path)) return;
    const auto entries = ListDeviceDirectory(path);
    if (!entries) return;
    for (const DirEntry& e : *entries) {
        if (e.isDirectory && UsableName(e.name) && Fits(path, e.name)) InsertFolder(tree, item, e.name);
    }
}

void OnSelected(WindowHandle dialog, WindowHandle tree, TreeItem item) {
    std::string path;
    if (!ItemPath(tree, item, path)) return;
    SetDlgItemText(dialog, kIdcFolderPath, path);
    g.selected = item;
    EnableWindow(GetDlgItem(dialog, kIdcNewFolderName), true);
    SetDlgItemText(dialog, kIdcNewFolderName, "");
    EnableWindow(GetDlgItem(dialog, kIdcCreateFolder), true);
}

void CreateFolder(WindowHandle dialog) {
    const std::string name = GetDlgItemText(dialog, kIdcNewFolderName, kMaxFolderChars);
    const WindowHandle tree = GetDlgItem(dialog, kIdcFolderTree);
    std::string parentPath;
    if (name.empty() || g.selected == 0 || !UsableName(name) || !ItemPath(tree, g.selected, parentPath) ||
        !Fits(parentPath, name)) {
        return;
    }
    const std::string path = parentPath + name;
    if (!CreateDeviceFolder(path)) return;  // it exists already, or cannot be made
    const TreeItem parent = g.selected;
    // A folder never listed is listed now, new folder included, so its other subfolders
    // are not hidden behind the one just made.
    TreeItem created = 0;
    if (TreeGetNextItem(tree, parent, TVGN_CHILD) == 0) {
        TreeExpand(tree, parent, TVE_EXPAND);
        created = FindChild(tree, parent, name);
    }
    if (created == 0) created = InsertFolder(tree, parent, name);
    TreeExpand(tree, parent, TVE_EXPAND);
    TreeSelectItem(tree, created);
}

bool Expanding(WindowHandle tree, const NmTreeView& nm) {
    return nm.action == TVE_EXPAND || (nm.action == TVE_TOGGLE && !TreeIsExpanded(tree, nm.itemNew.item));
}

LResult ChooserProc(WindowHandle dialog, uint32_t msg, WParam wp, LParam lp) {
    switch (msg) {
        case WM_INITDIALOG: {
            SHInitDialog({SHIDIM_FLAGS, dialog, kChooserShellFlags});
            EditLimitText(GetDlgItem(dialog, kIdcNewFolderName), kMaxFolderChars);
            // Nothing to create a folder in until one is selected.
            EnableWindow(GetDlgItem(dialog, kIdcNewFolderName), false);
            EnableWindow(GetDlgItem(dialog, kIdcCreateFolder), false);
            const WindowHandle tree = GetDlgItem(dialog, kIdcFolderTree);
            const TreeItem root = TreeInsertItem(tree, {TVI_ROOT, TVI_LAST, "\\", true, 0});
            TreeExpand(tree, root, TVE_EXPAND);
            return 1;
        }
        case WM_NOTIFY: {
            const auto* hdr = reinterpret_cast<const NmHdr*>(lp);
            if (!hdr || hdr->idFrom != static_cast<uintptr_t>(kIdcFolderTree)) return 0;
            const auto& nm = *reinterpret_cast<const NmTreeView*>(lp);
            if (hdr->code == TVN_ITEMEXPANDING && Expanding(hdr->hwndFrom, nm)) {
                ListChildren(hdr->hwndFrom, nm.itemNew.item);
            } else if (hdr->code == TVN_SELCHANGED) {
                OnSelected(dialog, hdr->hwndFrom, nm.itemNew.item);
            }
            return 0;
        }
        case WM_COMMAND:
            switch (LoWord(wp)) {
                case IDOK:
                    g.result = GetDlgItemText(dialog, kIdcFolderPath, kMaxFolderChars);
                    EndDialog(dialog, IDOK);
                    return 1;
                case IDCANCEL:
                    EndDialog(dialog, IDCANCEL);
                    return 1;
                case kIdcCreateFolder:
                    if (HiWord(wp) == BN_CLICKED) CreateFolder(dialog);
                    return 1;
                default:
                    return 0;
            }
        case WM_CLOSE:
            EndDialog(dialog, kEndClosed);
            return 1;
        default:
            return 0;
    }
}

}  // namespace

bool ChooseFolder(uintptr_t instance, WindowHandle owner, std::string* folder, size_t capacity) {
    if (instance == 0 || folder == nullptr || g.open) return false;
    const DialogTemplate* tmpl = DialogTemplateById(kDlgSelectFolder);
    if (!tmpl) return false;
    g = ChooserState{};
    g.open = true;
    const int result = DialogBoxIndirectParam(instance, *tmpl, owner, ChooserProc, 0);
    g.open = false;
    if (result != IDOK || g.result.empty() || detail::CharCount(g.result) + 1 > capacity) return false;
    *folder = g.result;
    return true;
}

}  // namespace kestrix::ui
