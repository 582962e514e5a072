// The controls dialogs are made of, as built-in window classes with typed operations, and
// the notifications they send their parent: static text, group box, push button, check
// box, drop-down list, edit and password edit, trackbar, tree view.
//
// A control notifies its parent window (normally the dialog):
//   WM_COMMAND  wParam MakeWParam(controlId, code), lParam the control: BN_CLICKED,
//               STN_CLICKED (static with SS_NOTIFY), CBN_SELCHANGE, EN_CHANGE;
//   WM_HSCROLL  wParam MakeWParam(code, position), lParam the trackbar: TB_*;
//   WM_NOTIFY   lParam a pointer to an NmHdr (for a tree an NmTreeView, which begins with
//               one), valid for the duration of the call: TVN_*.
// Operations here are what the program does; of them only SetWindowText on an edit (it
// sends EN_CHANGE) and selecting or expanding a tree item (the tree notifications) notify
// the parent. What a person does is in Dialog.h (the input functions), which also notifies.
//
// Threads: UI thread only. An operation on a window that is not a control of that kind
// fails (false, -1 or 0).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Types.h"
#include "platform/Window.h"

namespace kestrix::platform {

// Built-in class names.
inline constexpr const char* kStaticClass = "STATIC";
inline constexpr const char* kButtonClass = "BUTTON";
inline constexpr const char* kEditClass = "EDIT";
inline constexpr const char* kComboBoxClass = "COMBOBOX";
inline constexpr const char* kTrackbarClass = "msctls_trackbar32";
inline constexpr const char* kTreeViewClass = "SysTreeView32";

// Control styles (low word of the window style).
constexpr uint32_t SS_LEFT = 0x0000;
constexpr uint32_t SS_CENTER = 0x0001;
constexpr uint32_t SS_RIGHT = 0x0002;
constexpr uint32_t SS_NOTIFY = 0x0100;
constexpr uint32_t BS_PUSHBUTTON = 0x0000;
constexpr uint32_t BS_DEFPUSHBUTTON = 0x0001;
constexpr uint32_t BS_CHECKBOX = 0x0002;
constexpr uint32_t BS_AUTOCHECKBOX = 0x0003;
constexpr uint32_t BS_GROUPBOX = 0x0007;
constexpr uint32_t BS_TYPEMASK = 0x000F;
constexpr uint32_t ES_LEFT = 0x0000;
constexpr uint32_t ES_PASSWORD = 0x0020;
constexpr uint32_t ES_AUTOHSCROLL = 0x0080;
constexpr uint32_t CBS_DROPDOWNLIST = 0x0003;
constexpr uint32_t TBS_HORZ = 0x0000;
constexpr uint32_t TBS_AUTOTICKS = 0x0001;
constexpr uint32_t TVS_HASBUTTONS = 0x0001;
constexpr uint32_t TVS_HASLINES = 0x0002;
constexpr uint32_t TVS_LINESATROOT = 0x0004;
constexpr uint32_t TVS_SHOWSELALWAYS = 0x0020;

// WM_COMMAND notification codes.
constexpr uint16_t BN_CLICKED = 0;
constexpr uint16_t STN_CLICKED = 0;
constexpr uint16_t CBN_SELCHANGE = 1;
constexpr uint16_t EN_CHANGE = 0x0300;

// WM_HSCROLL codes of a trackbar.
constexpr uint16_t TB_LINEUP = 0;
constexpr uint16_t TB_LINEDOWN = 1;
constexpr uint16_t TB_PAGEUP = 2;
constexpr uint16_t TB_PAGEDOWN = 3;
constexpr uint16_t TB_THUMBPOSITION = 4;
constexpr uint16_t TB_THUMBTRACK = 5;
constexpr uint16_t TB_TOP = 6;
constexpr uint16_t TB_BOTTOM = 7;
constexpr uint16_t TB_ENDTRACK = 8;

// WM_NOTIFY header.
struct NmHdr {
    WindowHandle hwndFrom = kNoWindow;
    uintptr_t idFrom = 0;
    uint32_t code = 0;
};

// ---- static, button, check box ----------------------------------------------------------
// A static's and a button's text is the window text (Window.h).

bool GetCheck(WindowHandle button);
bool SetCheck(WindowHandle button, bool checked);
bool IsDlgButtonChecked(WindowHandle dialog, int id);
bool CheckDlgButton(WindowHandle dialog, int id, bool checked);

// ---- drop-down list ---------------------------------------------------------------------

constexpr int CB_ERR = -1;
// Appends an item; its index, or CB_ERR.
int ComboAddString(WindowHandle combo, const std::string& text);
int ComboGetCount(WindowHandle combo);
// The selected index, CB_ERR for none.
int ComboGetCurSel(WindowHandle combo);
// Selects an item (CB_ERR clears the selection); returns the index, CB_ERR when out of
// range (and the selection is then cleared).
int ComboSetCurSel(WindowHandle combo, int index);
// Selects the first item after startAfter (-1: from the first) whose text begins with
// prefix, case ignored, searching round to the start; returns its index. CB_ERR and the
// selection unchanged when no item matches.
int ComboSelectString(WindowHandle combo, int startAfter, const std::string& prefix);
// The item's text; "" for an index out of range.
std::string ComboGetItemText(WindowHandle combo, int index);
// The selected item's text, at most maxChars characters; "" without a selection.
std::string ComboGetText(WindowHandle combo, size_t maxChars = SIZE_MAX);

// ---- edit -------------------------------------------------------------------------------

// The most characters a person can type (the edit's default is 30000). What a program sets
// with SetWindowText is not cut.
bool EditLimitText(WindowHandle edit, size_t maxChars);

// ---- trackbar ---------------------------------------------------------------------------

bool TrackbarSetRange(WindowHandle trackbar, int minimum, int maximum, bool redraw);
// The position is kept inside the range.
bool TrackbarSetPos(WindowHandle trackbar, int position, bool redraw);
int TrackbarGetPos(WindowHandle trackbar);

// ---- tree view --------------------------------------------------------------------------

using TreeItem = uintptr_t;  // 0: none
// Special items for TreeInsert::parent and insertAfter.
constexpr TreeItem TVI_ROOT = static_cast<TreeItem>(-0x10000);
constexpr TreeItem TVI_FIRST = static_cast<TreeItem>(-0x0FFFF);
constexpr TreeItem TVI_LAST = static_cast<TreeItem>(-0x0FFFE);
constexpr TreeItem TVI_SORT = static_cast<TreeItem>(-0x0FFFD);

struct TreeInsert {
    TreeItem parent = TVI_ROOT;
    TreeItem insertAfter = TVI_LAST;  // TVI_SORT: in case-insensitive order among siblings
    std::string text;
    bool hasChildren = false;         // shows an expand button even before children exist
    LParam param = 0;
};
// The new item, 0 on failure.
TreeItem TreeInsertItem(WindowHandle tree, const TreeInsert& insert);

constexpr uint32_t TVE_COLLAPSE = 0x1;
constexpr uint32_t TVE_EXPAND = 0x2;
constexpr uint32_t TVE_TOGGLE = 0x3;
// Expands or collapses an item: TVN_ITEMEXPANDING to the parent first (a non-zero result
// refuses), then the change, then TVN_ITEMEXPANDED. Expanding an item that has no children
// leaves it showing no expand button afterwards only when hasChildren was false.
bool TreeExpand(WindowHandle tree, TreeItem item, uint32_t action);
bool TreeIsExpanded(WindowHandle tree, TreeItem item);

constexpr uint32_t TVGN_ROOT = 0x0;
constexpr uint32_t TVGN_NEXT = 0x1;
constexpr uint32_t TVGN_PREVIOUS = 0x2;
constexpr uint32_t TVGN_PARENT = 0x3;
constexpr uint32_t TVGN_CHILD = 0x4;
constexpr uint32_t TVGN_CARET = 0x9;  // the selected item
// The item related to item by code (item is ignored for TVGN_ROOT and TVGN_CARET); 0 for none.
TreeItem TreeGetNextItem(WindowHandle tree, TreeItem item, uint32_t code);
// At most maxChars characters of the item's text; "" for no item.
std::string TreeGetItemText(WindowHandle tree, TreeItem item, size_t maxChars = SIZE_MAX);
// Selects the item (0: none): TVN_SELCHANGING to the parent (non-zero refuses), the change,
// then TVN_SELCHANGED. Selecting the selected item again notifies nothing.
bool TreeSelectItem(WindowHandle tree, TreeItem item);

constexpr uint32_t TVN_FIRST = static_cast<uint32_t>(-400);
constexpr uint32_t TVN_SELCHANGING = TVN_FIRST - 50;
constexpr uint32_t TVN_SELCHANGED = TVN_FIRST - 51;
constexpr uint32_t TVN_ITEMEXPANDING = TVN_FIRST - 54;
constexpr uint32_t TVN_ITEMEXPANDED = TVN_FIRST - 55;

struct TvItem {
    TreeItem item = 0;
    LParam param = 0;
    bool hasChildren = false;
};
struct NmTreeView {
    NmHdr hdr;
    uint32_t action = 0;  // TVE_* for expanding; for selection, how it was made (0: program, 1: person)
    TvItem itemOld;
    TvItem itemNew;
};

}  // namespace kestrix::platform
