// ShellHostImpl: the shell services behind platform::ShellHost, kept as state that
// the browser page shows: the notification bubbles (the status page), the message boxes
// waiting for a person's answer and the links the logic opened. It also listens to the
// platform's windows (Window.h SetWindowChangeListener, installed while the host lives; the
// platform has one listener, so one host lives at a time), so that opening, changing and
// closing a dialog, or a window's new painting (the home-screen item's), moves the version on
// as well.
//
// Threads:
//   UI thread (the MessageLoop given at construction): every ShellHost call, and the
//     browser's actions Dismiss, Answer and the command lookup (the HTTP server runs them
//     there through the loop). MessageBox is modal: it pumps the loop until the box is
//     answered, the loop is told to quit, or the unattended time-out (device-clock time)
//     passes; it then answers with the safe button and logs a warning.
//   any thread: the snapshot readers (CurrentNotification, MessageBoxes, Version) and
//     WaitForChange / WakeWaiters, which the HTTP server's event stream uses.
// Every change (notification added, updated, removed or dismissed; box opened or closed;
// link opened) increments the version and wakes the waiters. Window changes are coalesced:
// however many come in one turn of the UI thread, the version moves on once, from a task
// posted to the loop, so a window procedure never waits for the host. Nothing here throws.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/MessageLoop.h"
#include "platform/Shell.h"

namespace kestrix::shell {

constexpr int64_t kDefaultMessageBoxTimeoutMs = 120'000;

struct MessageBoxButton {
    int id = 0;  // IDOK, IDCANCEL, IDYES, ...
    std::string label;
    bool operator==(const MessageBoxButton&) const = default;
};

struct PendingMessageBox {
    uint32_t id = 0;  // unique in the process, never reused
    std::string text;
    std::string caption;
    uint32_t flags = 0;
    std::string icon;  // "error", "question", "warning", "information" or empty
    std::vector<MessageBoxButton> buttons;
};

// The buttons and the icon name a message box shows for its flags.
std::vector<MessageBoxButton> MessageBoxButtonsFor(uint32_t flags);
std::string MessageBoxIconFor(uint32_t flags);

class ShellHostImpl final : public platform::ShellHost {
public:
    explicit ShellHostImpl(platform::MessageLoop& loop, int64_t messageBoxTimeoutMs = kDefaultMessageBoxTimeoutMs);
    ~ShellHostImpl() override;
    ShellHostImpl(const ShellHostImpl&) = delete;
    ShellHostImpl& operator=(const ShellHostImpl&) = delete;

    // platform::ShellHost (UI thread).
    bool NotificationAdd(const platform::Notification& n) override;
    bool NotificationUpdate(uint32_t mask, const platform::Notification& n) override;
    bool NotificationRemove(const std::string& clsid, uint32_t id) override;
    int MessageBox(platform::WindowHandle owner, const std::string& text, const std::string& caption,
                   uint32_t flags) override;
    bool OpenLink(const std::string& url) override;

    // The person closes the shown bubble: it is gone until the logic adds it again, so the
    // next update fails. False when none is shown. UI thread.
    bool Dismiss();
    // Answers an open box with one of its buttons. False for an unknown (or already
    // answered) box or a button the box does not show. UI thread.
    bool Answer(uint32_t boxId, int button);

    // The bubble the page shows (the one added last), if any. Any thread.
    std::optional<platform::Notification> CurrentNotification() const;
    // The open boxes, oldest first. Any thread.
    std::vector<PendingMessageBox> MessageBoxes() const;
    uint64_t Version() const;
    // Links the logic asked to open, oldest first (the page offers them; the last few are
    // kept). Any thread.
    std::vector<std::string> OpenedLinks() const;
    // The links opened since mark (a count of links this host has opened, 0 at first) that
    // are still kept, oldest first; mark becomes the current count. Any thread.
    std::vector<std::string> OpenedLinksSince(uint64_t& mark) const;

    // The receiver reported a position (the map's marker moves): counted apart from the
    // version, since it comes with every fix. Any thread; never blocks for long.
    void PositionChanged();
    struct Marks {
        uint64_t version = 0;
        uint64_t positions = 0;  // positions reported so far
    };
    Marks CurrentMarks() const;
    // Blocks until the version differs from seen's, the position count does (only when
    // positions is true), cancelled() turns true (checked under the host's lock, so
    // WakeWaiters after setting its flag is never missed) or the bound passes. Returns the
    // current marks. Any thread.
    Marks WaitForChange(const Marks& seen, bool positions, std::chrono::milliseconds bound,
                        const std::function<bool()>& cancelled);
    void WakeWaiters();

private:
    struct OpenBox {
        PendingMessageBox box;
        std::optional<int> answer;
    };
    void ChangedLocked();
    // Shared with the window-change listener and the tasks it posts, which may outlive the
    // host: the host is forgotten when it goes.
    struct WindowWatch {
        std::mutex mutex;
        ShellHostImpl* host = nullptr;
        bool queued = false;
    };
    static void WindowsChanged(const std::shared_ptr<WindowWatch>& watch);

    platform::MessageLoop& loop_;
    const int64_t timeoutMs_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t version_ = 0;
    uint64_t positions_ = 0;
    std::vector<platform::Notification> notifications_;  // in the order added
    std::vector<OpenBox> boxes_;
    uint32_t nextBoxId_ = 1;
    std::vector<std::string> links_;
    uint64_t linksOpened_ = 0;
    std::shared_ptr<WindowWatch> windowWatch_;
};

}  // namespace kestrix::shell
