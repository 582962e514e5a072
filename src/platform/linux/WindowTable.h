// The process-wide window table that the message loop (MessageLoop.cpp) and the window,
// control and dialog files share, and the helpers they call on each other. Internal to
// src/platform/linux.
//
// Threads: the table's map is guarded by its own mutex, so any thread may look a handle
// up. A window's fields belong to the thread of the loop that owns it, except
// erasePending, which that loop's core mutex guards (InvalidateRect comes from any
// thread). Entries are shared_ptrs: code that calls out (sends a message) while holding
// one keeps the memory valid even when the call destroys the window, and looks the handle
// up again before relying on the window still being there.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dialog.h"
#include "platform/Gdi.h"
#include "platform/Types.h"
#include "platform/Window.h"

namespace kestrix::platform::internal {

struct LoopCore;     // MessageLoop.cpp
struct TreeState;    // TreeView.cpp
struct DialogState;  // below

enum class ControlKind : uint8_t { None, Static, Button, Edit, ComboBox, Trackbar, TreeView, Dialog };

struct ClassInfo {
    std::string name;
    uint32_t style = 0;       // CS_*
    uint32_t background = 0;  // brush
    WndProcRef proc;          // shared by every window of the class
    ControlKind kind = ControlKind::None;
};

struct WindowData {
    WindowHandle handle = kNoWindow;
    std::shared_ptr<LoopCore> core;
    std::thread::id thread;
    uint64_t serial = 0;  // creation order
    std::shared_ptr<const ClassInfo> cls;
    WndProcRef proc;
    std::string text;
    uint32_t style = 0;
    WindowHandle parent = kNoWindow;  // WS_CHILD windows
    WindowHandle owner = kNoWindow;   // top-level windows created with a parent
    std::vector<WindowHandle> children;
    int id = 0;
    Rect rect;
    GdiHandle font = 0;
    std::map<uint16_t, uintptr_t> props;
    bool destroying = false;
    bool erasePending = false;  // core mutex

    // Built-in control state, used by the kind of cls.
    bool checked = false;
    std::vector<std::string> items;
    int selected = -1;
    size_t editLimit = 30000;
    int rangeMin = 0, rangeMax = 100, pos = 0;
    std::shared_ptr<TreeState> tree;
    std::shared_ptr<DialogState> dialog;

    ControlKind Kind() const { return cls ? cls->kind : ControlKind::None; }
};

// ---- the table (MessageLoop.cpp) --------------------------------------------------------

// Any thread: the window, nullptr when it does not exist.
std::shared_ptr<WindowData> LookUp(WindowHandle window);
// The window when it belongs to the calling thread's loop, else nullptr.
std::shared_ptr<WindowData> Own(WindowHandle window);
// The calling thread's windows in creation order.
std::vector<std::shared_ptr<WindowData>> OwnWindows();
// A new entry of a class on the calling thread's loop, with its handle; nullptr without a loop.
std::shared_ptr<WindowData> NewWindow(std::shared_ptr<const ClassInfo> cls);
// Forgets the entry and its pending paint.
void RemoveWindow(WindowHandle window);

// Classes of the calling thread's loop; FindClass falls back to the built-in classes.
bool AddClass(const ClassInfo& cls);
bool RemoveClass(const std::string& name);
std::shared_ptr<const ClassInfo> FindClass(const std::string& name);

// Any thread: queues one WM_PAINT and remembers the erase request.
bool Invalidate(WindowHandle window, bool erase);
// Owner thread: delivers the window's pending WM_PAINT now.
bool PaintNow(WindowHandle window);
// Owner thread: drops the pending paint without erasing (DefWindowProc's WM_PAINT).
void Validate(WindowHandle window);

LResult CallProc(const WndProcRef& proc, WindowHandle window, uint32_t msg, WParam w, LParam l);

// ---- windows (Window.cpp) ---------------------------------------------------------------

// WM_DESTROY to the window and its children depth first, then forgets them. Owner thread.
bool DestroyWindowTree(WindowHandle window);
// The number of code points, and the longest prefix of at most maxChars of them.
size_t Utf8Length(const std::string& text);
std::string Utf8Prefix(const std::string& text, size_t maxChars);
// ASCII letters compared without case (text beyond ASCII compares byte by byte).
int CompareNoCase(const std::string& a, const std::string& b);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
// Sends WM_COMMAND (MakeWParam(id, code), control) to the control's parent.
void NotifyParent(WindowHandle control, uint16_t code);
// Per-thread input state for the dialogs: the time of the last person's action.
uint64_t LastInputMs();
void NoteInput(uint64_t nowMs);

// ---- controls (Controls.cpp) ------------------------------------------------------------

std::shared_ptr<const ClassInfo> BuiltinClass(const std::string& name);
// Own(window) when it is a control of that kind, else nullptr.
std::shared_ptr<WindowData> OwnControl(WindowHandle window, ControlKind kind);
bool IsCheckBox(const WindowData& button);

// ---- tree view (TreeView.cpp) -----------------------------------------------------------

// Selects as TreeSelectItem; action goes to the notifications (0: the program, 1: a person).
bool TreeSelectBy(WindowHandle tree, TreeItem item, uint32_t action);
std::vector<TreeItemInfo> DescribeTree(WindowHandle tree);

// ---- dialogs (Dialog.cpp, PropertySheet.cpp) ---------------------------------------------

struct SheetState;  // PropertySheet.cpp

struct DialogState {
    WndProcRef dlgProc;
    int templateId = 0;
    bool modal = false;
    bool ended = false;
    int result = 0;
    uint32_t shellFlags = 0;
    WindowHandle sheet = kNoWindow;          // a page: its sheet
    std::shared_ptr<SheetState> sheetState;  // a sheet
    WindowHandle disabledOwner = kNoWindow;  // enabled again when the modal dialog ends
};

std::shared_ptr<const ClassInfo> DialogClass();
std::shared_ptr<DialogState> DialogOf(WindowHandle window);
// Creates a dialog window and its controls from a template, sends WM_SETFONT and
// WM_INITDIALOG; hidden until shown. A child (a sheet's page) is placed at its parent's
// origin. kNoWindow when a control cannot be created.
WindowHandle CreateDialogWindow(const DialogTemplate& tmpl, WindowHandle parent, bool child,
                                std::shared_ptr<DialogState> state, LParam initParam);
// Runs a created dialog modally until it ends; cancel() is what the Cancel button does,
// called on the unattended time-out and at shutdown; cancelResult the result then.
int RunModal(WindowHandle dialog, const std::shared_ptr<DialogState>& state, const std::function<void()>& cancel,
             int cancelResult);
// Marks a modal dialog ended with a result and enables its owner again.
void EndModal(DialogState& state, int result);
// The top-level window a window lies in (itself when it is one).
WindowHandle TopLevelOf(WindowHandle window);

// Sheets: the Done and Cancel buttons and a page switch, as the input functions do them.
bool SheetDone(WindowHandle sheet);
bool SheetCancel(WindowHandle sheet);
bool SheetSelectPage(WindowHandle sheet, int index);
std::vector<std::string> SheetPageTitles(WindowHandle sheet);

}  // namespace kestrix::platform::internal
