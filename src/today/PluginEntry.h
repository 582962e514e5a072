// The plug-in's outer shell: what happens when the home screen loads and unloads it, the
// entry InitializeCustomItem through which the home screen asks for the item's window, and
// that window (class "GMRT"): painting, height, selection by keys, taps and actions.
//
// The plug-in is linked into the program; the shell calls PluginLoad once before anything
// else of the plug-in (where a library would be attached to the process) and PluginUnload
// at the end (where it would be detached), after the item window is gone. Load creates the
// process-wide objects in this order, and unload destroys them in the reverse order:
//   the image provider of the plug-in's resources (icons can be loaded from here on);
//   1 the colour-text property atom, 2 the satellite table, 3 the hyperlink property atom,
//   4-5 the settings pages' two links, 6 the Account page's colour text,
//   7-11 the registered messages "WM_UPDATE_SAT_VIEW", "WM_LDP_NOTIFY",
//   "WM_GMR_CHANGE_STATE", "WM_GMR_SHOW_HTML", "WM_GMR_DUMMY" (registered once per process;
//   they stay registered after unloading), 12 the item view (ItemView).
// Load also installs the controller's services (receiver, session, log, status model,
// port detection, upload, the settings sheet); a host or a test may install others after
// loading and before InitializeCustomItem.
//
// Item actions by button id: 2 tracker, 3 logger, 4 settings, 5 signal / GPS status; 0 and 1
// (the program icon) do nothing.
//
// Threads: UI thread (the thread whose message loop owns the home screen's windows).
#pragma once
#include <cstdint>

#include "platform/TodayScreen.h"
#include "platform/Types.h"

namespace kestrix::today {

class ItemView;

inline constexpr const char* kItemWindowClass = "GMRT";

// False when an object could not be made (an atom table full); load still made the rest.
bool PluginLoad();
// Destroys an item window still left, then the objects in reverse order.
void PluginUnload();
// The process-wide item view; nullptr while the plug-in is not loaded.
ItemView* GetItemView();

// The item window for the home screen's description of the item, a child of parent; the
// controller is created and initialised with it. kNoWindow for a disabled item, before
// PluginLoad, when the window cannot be created, or when the controller's Init fails (the
// window is destroyed again). Destroying the window destroys the controller.
platform::WindowHandle InitializeCustomItem(platform::TodayListItem* item, platform::WindowHandle parent);

// Runs the item action for a button id, as a tap or the action key does.
void RunItemAction(uint32_t id, platform::WindowHandle itemWindow);

}  // namespace kestrix::today
