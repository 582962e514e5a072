// Windows beyond the message loop's basics: window classes with styles, parent and child
// windows with control ids, window text, styles, enabled and shown state, keyboard focus,
// mouse capture, the cursor, client and window rectangles with coordinate conversion,
// global atoms and window properties keyed by them, subclassing (read and replace a
// window's procedure, call the previous one), and invalidation with or without erasing.
//
// Coordinates are pixels of the emulated screen (GetSystemMetrics in Gdi.h, 480 x 640 by
// default). A top-level window's rectangle is in screen coordinates, a child's in its
// parent's client coordinates; the client area of every window is its whole rectangle (no
// borders or caption are drawn: the browser draws the frame).
//
// Threads: every function here runs on the UI thread (the thread of the MessageLoop that
// owns the window) unless it says otherwise. Functions on a window that does not exist
// fail quietly (false, 0, kNoWindow or an empty string) and never touch freed memory.
// Text is UTF-8; lengths in characters count code points, and a cut never splits one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/MessageLoop.h"
#include "platform/Types.h"

namespace kestrix::platform {

// ---- styles -----------------------------------------------------------------------------

constexpr uint32_t WS_POPUP = 0x80000000;
constexpr uint32_t WS_CHILD = 0x40000000;
constexpr uint32_t WS_VISIBLE = 0x10000000;
constexpr uint32_t WS_DISABLED = 0x08000000;
constexpr uint32_t WS_CAPTION = 0x00C00000;
constexpr uint32_t WS_BORDER = 0x00800000;
constexpr uint32_t WS_VSCROLL = 0x00200000;
constexpr uint32_t WS_GROUP = 0x00020000;
constexpr uint32_t WS_TABSTOP = 0x00010000;

// Class styles.
constexpr uint32_t CS_VREDRAW = 0x0001;
constexpr uint32_t CS_HREDRAW = 0x0002;

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

// ---- classes and creation ---------------------------------------------------------------

// A window procedure as a shared object: subclassing compares and restores these, so a
// hook can tell whether it is already installed (same pointer).
using WndProcRef = std::shared_ptr<const WndProc>;
WndProcRef MakeWndProc(WndProc proc);

struct WindowClass {
    std::string name;
    uint32_t style = 0;            // CS_*
    WndProc proc;
    uint32_t background = 0;       // a brush handle (Gdi.h) or 0; WM_ERASEBKGND's default fill
};
// Registers a class with the calling thread's loop. False when the name is taken or empty.
bool RegisterWindowClass(const WindowClass& cls);
bool UnregisterWindowClass(const std::string& name);

struct CreateWindowParams {
    std::string className;
    std::string title;
    uint32_t style = 0;            // WS_*, plus the class's own style bits in the low word
    WindowHandle parent = kNoWindow;
    int id = 0;                    // control id of a child window
    Rect rect;                     // in the parent's client coordinates (screen for top level)
    LParam createParam = 0;        // WM_CREATE's lParam
};
// Creates a window of a class registered with the calling thread's loop, or of a built-in
// control class (Controls.h), and sends it WM_CREATE (lParam: createParam); a WM_CREATE
// result of -1 destroys it again and gives kNoWindow. kNoWindow for an unknown class or a
// parent that does not exist.
WindowHandle CreateWindowEx(const CreateWindowParams& params);
// Destroys the window: first the top-level windows it owns (dialogs opened from it), then
// WM_DESTROY to the window and to each of its children (depth first, parents still there
// while their children hear of it); focus and capture held by a destroyed window are
// dropped, its properties forgotten. MessageLoop::DestroyWindow does the same. False for
// a window that does not exist or is being destroyed already.
bool DestroyWindow(WindowHandle window);

// ---- family and identity ----------------------------------------------------------------

WindowHandle GetParent(WindowHandle window);
// Direct children, in creation order.
std::vector<WindowHandle> GetChildren(WindowHandle window);
// The direct child with this control id; kNoWindow when none.
WindowHandle GetDlgItem(WindowHandle dialog, int id);
int GetDlgCtrlID(WindowHandle window);

// ---- text, style, state -----------------------------------------------------------------

// Sends WM_SETTEXT (lParam: const std::string*) so a subclass sees it; the default
// procedure stores the text. An edit control then notifies its parent with EN_CHANGE.
bool SetWindowText(WindowHandle window, const std::string& text);
// At most maxChars characters of the window's text, asked with WM_GETTEXT (wParam:
// maxChars, lParam: a std::string* the procedure fills; result: its length in characters).
// A drop-down list's text is its selected item.
std::string GetWindowText(WindowHandle window, size_t maxChars = SIZE_MAX);
bool SetDlgItemText(WindowHandle dialog, int id, const std::string& text);
std::string GetDlgItemText(WindowHandle dialog, int id, size_t maxChars = SIZE_MAX);
// The decimal text of value.
bool SetDlgItemInt(WindowHandle dialog, int id, int value);

uint32_t GetWindowStyle(WindowHandle window);
bool SetWindowStyle(WindowHandle window, uint32_t style);

// Returns true when the window was disabled before (as EnableWindow does); sends
// WM_ENABLE when the state changes. A window losing its enabled state loses the focus.
bool EnableWindow(WindowHandle window, bool enable);
bool IsWindowEnabled(WindowHandle window);
// Returns true when the window was visible before.
bool ShowWindow(WindowHandle window, int command);
// The window and every parent up to the top have WS_VISIBLE.
bool IsWindowVisible(WindowHandle window);

// ---- focus, capture, cursor -------------------------------------------------------------

// Moves the keyboard focus: WM_KILLFOCUS (wParam: the new window) to the old one, then
// WM_SETFOCUS (wParam: the old window) to the new one. Returns the previous focus.
WindowHandle SetFocus(WindowHandle window);
WindowHandle GetFocus();
// The mouse goes to this window until released. Taking the capture from another window
// sends that window WM_CAPTURECHANGED (lParam: the new holder). Returns the previous holder.
WindowHandle SetCapture(WindowHandle window);
// Sends WM_CAPTURECHANGED (lParam 0) to the holder. False when nobody held the capture.
bool ReleaseCapture();
WindowHandle GetCapture();

using CursorHandle = uint32_t;
constexpr int IDC_ARROW = 32512;
constexpr int IDC_HAND = 32649;
// The system cursor with this id; 0 for an id this platform does not have.
CursorHandle LoadCursor(int cursorId);
// Makes it the current cursor; returns the previous one. The shell shows the pointer over a
// control with the cursor its WM_SETCURSOR chose.
CursorHandle SetCursor(CursorHandle cursor);
CursorHandle GetCursor();
// The resource id of a cursor handle (IDC_*), 0 for none.
int CursorId(CursorHandle cursor);

// ---- rectangles -------------------------------------------------------------------------

// {0, 0, width, height}.
bool GetClientRect(WindowHandle window, Rect& out);
// In screen coordinates.
bool GetWindowRect(WindowHandle window, Rect& out);
// Moves and sizes the window (in its parent's client coordinates; screen for top level);
// sends WM_SIZE (lParam: MakeLParam(width, height)) when the size changes.
bool MoveWindow(WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height, bool repaint);
bool ClientToScreen(WindowHandle window, Point& p);
bool ScreenToClient(WindowHandle window, Point& p);
// Converts from one window's client coordinates to another's (kNoWindow: the screen).
bool MapWindowRect(WindowHandle from, WindowHandle to, Rect& r);

// ---- atoms and properties ---------------------------------------------------------------

// Process-wide atoms (any thread): adding a name again counts one more reference and gives
// the same atom (names compare case-insensitively); deleting drops one reference and the
// atom is gone at zero. Atoms are 0xC000..0xFFFF; 0 means none (failure).
using Atom = uint16_t;
Atom GlobalAddAtom(const std::string& name);
Atom GlobalFindAtom(const std::string& name);
// False for an atom that does not exist.
bool GlobalDeleteAtom(Atom atom);

// Window properties keyed by atom. SetProp replaces an existing value. GetProp gives 0 for
// a missing one; RemoveProp returns the value it removed (0 when none). A destroyed window's
// properties are forgotten (their values are the caller's to free, before WM_DESTROY ends).
bool SetProp(WindowHandle window, Atom key, uintptr_t value);
uintptr_t GetProp(WindowHandle window, Atom key);
uintptr_t RemoveProp(WindowHandle window, Atom key);

// ---- procedures and subclassing ----------------------------------------------------------

// The window's current procedure (what messages go to), nullptr for no window.
WndProcRef GetWindowProc(WindowHandle window);
// Replaces it and returns the previous one (nullptr and no change for no window or a null
// proc). Messages already being handled finish in the procedure they started in.
WndProcRef SetWindowProc(WindowHandle window, WndProcRef proc);
// Calls a procedure obtained from GetWindowProc/SetWindowProc; 0 for a null proc.
LResult CallWindowProc(const WndProcRef& proc, WindowHandle window, uint32_t msg, WParam w, LParam l);
// The default handling of every message: WM_SETTEXT/WM_GETTEXT store and read the text,
// WM_SETFONT/WM_GETFONT the font (WM_SETFONT's lParam non-zero: repaint), WM_ERASEBKGND
// fills with the class background (1 when it did), WM_CLOSE destroys the window (a
// dialog's is its Cancel button), WM_PAINT validates; everything else gives 0.
LResult DefWindowProc(WindowHandle window, uint32_t msg, WParam w, LParam l);

// ---- painting ---------------------------------------------------------------------------

// Marks the window for repainting (rect: a part of its client area, nullptr for all; the
// whole client area is always repainted): the loop delivers one WM_PAINT however many
// calls came before it. With erase (in any of those calls), BeginPaint first sends
// WM_ERASEBKGND (wParam: the paint DC). Any thread (posts to the owner's loop).
bool InvalidateRect(WindowHandle window, const Rect* rect, bool erase);
// Delivers the pending WM_PAINT now, if any.
bool UpdateWindow(WindowHandle window);

// ---- what the shell shows ---------------------------------------------------------------

// Called on the UI thread after a change the shell shows: a window created or destroyed,
// its text, style, enabled or shown state, font or painting changed, a control's state
// changed. Keep it cheap (the shell only bumps a version and wakes its event streams).
// One listener; nullptr removes it.
void SetWindowChangeListener(std::function<void()> listener);
// Calls the listener (for platform code that changes what the shell shows).
void NotifyWindowChanged();

}  // namespace kestrix::platform
