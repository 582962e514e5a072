// Services of the shell that the logic calls: the notification bubble that shows
// the HTML status page, message boxes and opening links. The shell (src/shell) installs
// the host; until one is installed the calls fail (notifications) or answer with the safe
// button (message boxes) and log it.
// Threads: every call is made on the UI thread. MessageBox is modal: it runs a nested
// pump of the UI thread's MessageLoop until answered or timed out.
#pragma once
#include <cstdint>
#include <string>

#include "platform/Types.h"

namespace kestrix::platform {

// Message-box flags and answers.
constexpr uint32_t MB_OK = 0x0;
constexpr uint32_t MB_OKCANCEL = 0x1;
constexpr uint32_t MB_YESNO = 0x4;
constexpr uint32_t MB_ICONERROR = 0x10;
constexpr uint32_t MB_ICONQUESTION = 0x20;
constexpr uint32_t MB_ICONWARNING = 0x30;
constexpr uint32_t MB_ICONINFORMATION = 0x40;
constexpr uint32_t MB_SETFOREGROUND = 0x10000;
constexpr uint32_t MB_TOPMOST = 0x40000;

// The safe answer for a box nobody answers: Cancel (or No) for questions, OK for notices.
int SafeMessageBoxAnswer(uint32_t flags);

// Notification update mask bits.
constexpr uint32_t SHNUM_PRIORITY = 0x01;
constexpr uint32_t SHNUM_DURATION = 0x02;
constexpr uint32_t SHNUM_ICON = 0x04;
constexpr uint32_t SHNUM_HTML = 0x08;
constexpr uint32_t SHNUM_TITLE = 0x10;
constexpr uint32_t SHNUM_SOFTKEYS = 0x20;
constexpr uint32_t SHNP_INFORM = 0x1B1;
constexpr uint32_t SHNP_ICONIC = 0x1B2;

struct Notification {
    uint32_t id = 0;
    std::string clsid;         // "{881AB316-...}"
    uint32_t priority = SHNP_INFORM;
    int32_t durationSeconds = -1;
    int iconId = 0;            // resource id of the icon, 0 = none
    uint32_t flags = 0;
    WindowHandle sink = kNoWindow;  // receives WM_COMMAND for "cmd:<id>" taps
    std::string html;
    std::string title;
    std::string todaySoftKey;
};

class ShellHost {
public:
    virtual ~ShellHost() = default;
    virtual bool NotificationAdd(const Notification& n) = 0;
    // Fails when no notification with this clsid/id is shown (never added, removed, or
    // dismissed by the user).
    virtual bool NotificationUpdate(uint32_t mask, const Notification& n) = 0;
    virtual bool NotificationRemove(const std::string& clsid, uint32_t id) = 0;
    virtual int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                           uint32_t flags) = 0;
    virtual bool OpenLink(const std::string& url) = 0;
};

void SetShellHost(ShellHost* host);
ShellHost* GetShellHost();

// Helpers that go through the installed host.
int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption, uint32_t flags);
// ShellExecuteEx with the verb "open" on an address: the host's OpenLink (the page opens
// it). False without a host or when the host refuses.
bool ShellExecuteOpen(const std::string& url);

}  // namespace kestrix::platform
