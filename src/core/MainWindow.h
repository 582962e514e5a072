// The hidden main window "GMR Tracker" that the controller owns: the process-wide
// registered window messages, the command ids that the status page, the tray menu and
// the Today item send, and the constants of the status notification. The window's
// procedure itself is the controller's (TrackerController::OnCommand and friends).
// "E&xit" stops every service; the WM_CLOSE it sends leaves the window in place, so the
// daemon keeps serving the page (and "Switch ON") until its process is told to end. The
// window is destroyed only when the controller is.
// Threads: the numbers may be read on any thread; the window lives on the UI thread.
#pragma once
#include <cstdint>

#include "platform/Types.h"

namespace kestrix {

constexpr uint32_t kCmdEnable = 40001;
constexpr uint32_t kCmdDisable = 40002;
constexpr uint32_t kCmdExit = 40003;
constexpr uint32_t kCmdSettings = 40004;
constexpr uint32_t kCmdConvertToGpx = 40006;
constexpr uint32_t kCmdUploadTrack = 40007;
constexpr uint32_t kCmdSatelliteView = 40008;
constexpr uint32_t kCmdEnableTracker = 40010;
constexpr uint32_t kCmdEnableLogger = 40011;
constexpr uint32_t kCmdDisableTracker = 40012;
constexpr uint32_t kCmdDisableLogger = 40013;
constexpr uint32_t kCmdShowMap = 40014;

inline constexpr const char* kMainWindowClass = "GMR Tracker";
inline constexpr const char* kMainWindowTitle = "GMR Tracker";

// The status notification.
constexpr uint32_t kNotificationId = 137;
inline constexpr const char* kNotificationClsid = "{881AB316-7C25-4963-B383-FF47D02D035E}";
constexpr uint32_t kNotificationFlags = 0x21;
inline constexpr const char* kFallbackTitle = "GMR Tracker";
constexpr int kNotifyAdd = 0;
constexpr int kNotifyUpdate = 1;  // update, or add when the update fails
constexpr int kNotifyRemove = 2;

// Message-box flags of the controller's warnings: warning icon, topmost.
constexpr uint32_t kWarningBoxFlags = 0x40030;

// The registered messages of the main window. WM_GMR_SHOW_HTML carries in wParam a pointer
// to a std::string (the page), owned by the sender for the duration of the send, and in
// lParam the icon's resource id.
struct RegisteredMessages {
    uint32_t changeState;  // "WM_GMR_CHANGE_STATE"
    uint32_t showHtml;     // "WM_GMR_SHOW_HTML"
    uint32_t dummy;        // "WM_GMR_DUMMY"
};
// The first call registers all five messages of the process in their load order:
// "WM_UPDATE_SAT_VIEW" and "WM_LDP_NOTIFY" (the status model and its window look those up
// by name), then the three above.
const RegisteredMessages& GetRegisteredMessages();

// The window's own message, posted by the controller to itself: a worker reported that
// its service stopped; stop the receiver if nothing needs it any more.
constexpr uint32_t kMsgStopReceiverWhenIdle = platform::WM_USER + 1;

}  // namespace kestrix
