// Dialogs: templates (controls with ids, classes, texts, styles and rectangles in dialog
// units), modal dialogs (a nested pump of the UI thread's loop until EndDialog), modeless
// dialogs, property sheets with pages, the shell's dialog helpers (SHInitDialog, the
// input-panel preference), what a person does to a dialog (the input functions, which the
// shell and tests call), and a description of every open dialog for the shell to show.
//
// A dialog procedure is a window procedure whose result is the message's result (0: not
// handled). Notifications that ask a question take it from there: PSN_KILLACTIVE non-zero
// refuses leaving the page, PSN_SETACTIVE -1 refuses showing it, PSN_APPLY
// PSNRET_INVALID_NOCHANGEPAGE keeps the sheet open, TVN_ITEMEXPANDING and TVN_SELCHANGING
// non-zero refuse; WM_CTLCOLORSTATIC gives a brush (0: the default).
//
// Modal dialogs and sheets that nobody answers are cancelled after the unattended
// time-out (device-clock time since the dialog opened or since a person's last action on
// any dialog of the thread, whichever is later), as a message box nobody answers is
// answered with its safe button, and a warning is logged: a headless machine never waits
// for a person for ever. A dialog nested in another is timed on its own; the outer one is
// checked again once the nested one returns. The shell shutting down (MessageLoop::Quit)
// cancels them the same way.
//
// Threads: UI thread only.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Controls.h"
#include "platform/Gdi.h"
#include "platform/Types.h"
#include "platform/Window.h"

namespace kestrix::platform {

// ---- templates --------------------------------------------------------------------------

constexpr int IDC_STATIC = -1;

struct DialogItemTemplate {
    std::string className;  // kStaticClass, kButtonClass, ... or a registered class
    int id = IDC_STATIC;
    std::string text;
    uint32_t style = WS_CHILD | WS_VISIBLE;  // WS_CHILD is implied
    int16_t x = 0, y = 0, cx = 0, cy = 0;    // dialog units
};

struct DialogTemplate {
    int id = 0;                 // resource id (for logs and tests)
    std::string caption;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;    // dialog units
    std::vector<DialogItemTemplate> items;
};

// Templates are laid out in dialog units (4 horizontal and 8 vertical units are the dialog
// font's average character width and height, 8 x 16 pixels): one unit is 2 pixels either
// way, so 240 x 320 units fill the 480 x 640 screen.

// ---- dialogs ----------------------------------------------------------------------------

using DlgProc = WndProc;

// Creates the dialog and its controls (each with the dialog's font), sends WM_INITDIALOG
// (wParam: the first control with WS_TABSTOP, lParam: initParam) and runs it modally until
// EndDialog; returns EndDialog's result, IDCANCEL when the unattended time-out cancelled
// it, -1 when it cannot be created. instance must be non-zero (the module's resources).
int DialogBoxIndirectParam(uintptr_t instance, const DialogTemplate& tmpl, WindowHandle owner, DlgProc proc,
                           LParam initParam);
// The same, modeless: returns the dialog, kNoWindow when it cannot be created; it is
// shown when the template's style has WS_VISIBLE (else ShowWindow shows it). It lives
// until DestroyWindow. A modal dialog disables its owner's top-level window while it runs.
WindowHandle CreateDialogIndirectParam(uintptr_t instance, const DialogTemplate& tmpl, WindowHandle owner,
                                       DlgProc proc, LParam initParam);
// Ends a modal dialog with a result (the window goes once its pump returns). False for a
// window that is not a modal dialog.
bool EndDialog(WindowHandle dialog, int result);

// The unattended time-out of modal dialogs and sheets, in device-clock milliseconds
// (default 120000; < 0: none). kestrix run sets it from --message-box-timeout.
void SetUnattendedTimeout(int64_t ms);
int64_t UnattendedTimeout();

// ---- property sheets --------------------------------------------------------------------

constexpr uint32_t PSH_USEICONID = 0x0004;
constexpr uint32_t PSH_PROPSHEETPAGE = 0x0008;
constexpr uint32_t PSH_NOAPPLYNOW = 0x0080;
constexpr uint32_t PSH_USECALLBACK = 0x0100;
constexpr uint32_t PSH_MAXIMIZE = 0x2000;
constexpr uint32_t PSP_USETITLE = 0x0008;

constexpr uint32_t PSN_FIRST = static_cast<uint32_t>(-200);
constexpr uint32_t PSN_SETACTIVE = PSN_FIRST - 0;
constexpr uint32_t PSN_KILLACTIVE = PSN_FIRST - 1;
constexpr uint32_t PSN_APPLY = PSN_FIRST - 2;
constexpr uint32_t PSN_RESET = PSN_FIRST - 3;
constexpr LResult PSNRET_NOERROR = 0;
constexpr LResult PSNRET_INVALID_NOCHANGEPAGE = 2;

// Sheet callback messages.
constexpr uint32_t PSCB_INITIALIZED = 1;
constexpr uint32_t PSCB_PRECREATE = 2;

struct PropSheetPage {
    uint32_t flags = PSP_USETITLE;
    uintptr_t instance = 0;
    const DialogTemplate* dialogTemplate = nullptr;
    std::string title;   // the tab's title (PSP_USETITLE)
    DlgProc proc;
    LParam lParam = 0;   // WM_INITDIALOG of the page gets a pointer to this PropSheetPage
};

// Called with PSCB_PRECREATE before the sheet window exists (sheet kNoWindow), then with
// PSCB_INITIALIZED and with WM_INITDIALOG once it exists.
using PropSheetCallback = std::function<int(WindowHandle sheet, uint32_t msg, LParam lParam)>;

struct PropSheetHeader {
    uint32_t flags = 0;
    WindowHandle owner = kNoWindow;
    uintptr_t instance = 0;
    int iconId = 0;
    std::string caption;
    int startPage = 0;
    std::vector<PropSheetPage> pages;
    PropSheetCallback callback;
};

// Shows the sheet modally at startPage (out of range: the first page). A page's window is
// created when the page is first shown, and gets PSN_SETACTIVE each time it is shown; a
// page change first asks the shown page with PSN_KILLACTIVE. Done asks the shown page with
// PSN_KILLACTIVE, then sends PSN_APPLY to every page that was created, in page order, and
// returns 1. Cancel sends PSN_RESET to every created page and returns 0. -1 when the sheet
// cannot be created (no pages, a page without a template or procedure, no instance).
int PropertySheet(const PropSheetHeader& header);
bool IsPropertySheet(WindowHandle window);
// The page window of a sheet at an index; kNoWindow when not created yet.
WindowHandle SheetPageWindow(WindowHandle sheet, int index);
int SheetCurrentPage(WindowHandle sheet);

// ---- shell dialog helpers ---------------------------------------------------------------

constexpr uint32_t SHIDIM_FLAGS = 0x0001;
constexpr uint32_t SHIDIF_DONEBUTTON = 0x0001;
constexpr uint32_t SHIDIF_SIZEDLG = 0x0002;
constexpr uint32_t SHIDIF_SIZEDLGFULLSCREEN = 0x0004;
constexpr uint32_t SHIDIF_SIPDOWN = 0x0008;
constexpr uint32_t SHIDIF_FULLSCREENNOMENUBAR = 0x0010;
constexpr uint32_t SHIDIF_EMPTYMENU = 0x0020;
constexpr uint32_t SHIDIF_WANTSCROLLBAR = 0x0040;
constexpr uint32_t SHIDIF_CANCELBUTTON = 0x0080;

struct ShInitDlgInfo {
    uint32_t mask = SHIDIM_FLAGS;
    WindowHandle dialog = kNoWindow;
    uint32_t flags = 0;
};
// Records which of the Done and Cancel buttons the dialog shows and sizes it to the full
// screen when asked. The buttons act as PressDone and PressCancel.
bool SHInitDialog(const ShInitDlgInfo& info);
// The flags the dialog (or, for a page, its sheet) was given; 0 when none.
uint32_t DialogShellFlags(WindowHandle dialog);

constexpr int SIP_UP = 0;
constexpr int SIP_DOWN = 1;
// There is no input panel in a browser: the preference of a dialog (or of a control's
// dialog) is accepted and changes nothing. False for another window or state.
bool SHSipPreference(WindowHandle window, int state);

// ---- what a person does -----------------------------------------------------------------
// Each function is one person's action on an open dialog (or sheet; controls of a sheet are
// those of its shown page), turned into the messages the dialog's code expects. Each
// counts as input for the unattended time-out. False (nothing sent) when the dialog or
// control does not exist, is disabled or hidden, or the action does not fit the control.

// Push button: WM_COMMAND BN_CLICKED. Check box: toggles an automatic check box, then
// BN_CLICKED. Static with SS_NOTIFY: WM_LBUTTONDOWN and WM_LBUTTONUP at its centre to the
// control, then STN_CLICKED to its parent.
bool ClickControl(WindowHandle dialog, int controlId);
// Drop-down list: selects the item, then CBN_SELCHANGE.
bool SelectListItem(WindowHandle dialog, int controlId, int index);
// Edit: replaces the text, cut at the edit's limit, then EN_CHANGE.
bool TypeText(WindowHandle dialog, int controlId, const std::string& text);
// Trackbar: moves to position (kept in range), then WM_HSCROLL with code and position.
bool ScrollTrackbar(WindowHandle dialog, int controlId, int position, uint16_t code);
// Tree: as TreeExpand with a person's action.
bool ExpandTreeItem(WindowHandle dialog, int controlId, TreeItem item, bool expand);
bool SelectTreeItem(WindowHandle dialog, int controlId, TreeItem item);
// The pointer enters a control (WM_SETCURSOR, then WM_MOUSEMOVE at its centre) or leaves
// it (WM_MOUSEMOVE outside its client rectangle to the window holding the capture, else
// nothing).
bool HoverControl(WindowHandle dialog, int controlId, bool inside);
// Sheets: shows another page (refused by PSN_KILLACTIVE or PSN_SETACTIVE: false).
bool SelectSheetPage(WindowHandle sheet, int index);
// The Done and Cancel buttons: for a sheet as described at PropertySheet (Done refused by
// PSN_KILLACTIVE or PSN_APPLY: false); for a dialog WM_COMMAND IDOK and IDCANCEL.
bool PressDone(WindowHandle dialog);
bool PressCancel(WindowHandle dialog);
// A key: WM_KEYDOWN, then WM_CHAR for keys that make one (Escape 27, Return 13, space and
// printable characters), then WM_KEYUP; to the focused window when it lies in the dialog,
// else to the dialog.
bool PressKey(WindowHandle dialog, int virtualKey);

// ---- what the shell shows ---------------------------------------------------------------

enum class ControlType { Static, Group, Button, Check, List, Edit, Password, Trackbar, Tree, Image };

struct TreeItemInfo {
    TreeItem item = 0;
    std::string text;
    bool expanded = false;
    bool hasChildren = false;   // shows an expand button
    std::vector<TreeItemInfo> children;
};

struct ControlInfo {
    int id = 0;
    ControlType type = ControlType::Static;
    std::string text;           // never the text of a password edit
    bool enabled = true;
    bool visible = true;
    Rect rect;                  // pixels, in the dialog's client coordinates
    bool checked = false;       // Check
    std::vector<std::string> items;  // List
    int selected = -1;          // List: index or -1
    int min = 0, max = 0, pos = 0;   // Trackbar
    size_t length = 0;          // Password: characters
    Colorref color = 0;         // Static: the text colour its parent's WM_CTLCOLORSTATIC set
    bool underline = false;     // Static: its font is underlined
    bool notify = false;        // Static: SS_NOTIFY (takes clicks and hovers)
    int cursor = 0;             // Static: the cursor id its WM_SETCURSOR chose (0: default)
    std::vector<TreeItemInfo> tree;  // Tree: the top-level items
    TreeItem treeSelected = 0;  // Tree
    std::string svg;            // Image: the control's last painting
};

struct DialogInfo {
    WindowHandle id = kNoWindow;
    bool sheet = false;
    std::string caption;
    bool modal = false;
    std::vector<std::string> pages;  // sheets: tab titles
    int page = -1;                   // sheets: the shown page's index
    bool doneButton = false;
    bool cancelButton = false;
    int templateId = 0;              // the dialog's (a sheet's shown page's) template
    std::vector<ControlInfo> controls;
};

// Every shown dialog and sheet that has not ended, oldest first. A static is reported as
// Image when it has a painting of its own (Gdi.h GetWindowPainting); its colour is learnt
// by sending WM_CTLCOLORSTATIC to its parent with a fresh DC, as painting it would, and
// the cursor of one with SS_NOTIFY by sending it WM_SETCURSOR, as the pointer would.
std::vector<DialogInfo> DescribeDialogs();

}  // namespace kestrix::platform
