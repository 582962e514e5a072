// The user-interface thread's message loop: windows with message procedures, posted and
// sent messages, window-less timers on the device clock, nested modal pumps, registered
// window messages.
//
// Threads: one loop per thread that calls Run/RunPending (the UI thread). Post and Send
// may be called from any thread. Send from another thread blocks until the loop's thread
// has handled the message; on the loop's own thread it is a direct call. Window
// procedures, timer procedures and tasks run on the loop's thread only.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "platform/Types.h"

namespace kestrix::platform {

using WndProc = std::function<LResult(WindowHandle, uint32_t msg, WParam, LParam)>;
using TimerProc = std::function<void(uint32_t timerId)>;

class MessageLoop {
public:
    // The loop belongs to the constructing thread. The clock drives its timers.
    explicit MessageLoop(Clock& clock = DeviceClock());
    ~MessageLoop();
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    // The loop of the calling thread, or nullptr.
    static MessageLoop* Current();
    bool IsLoopThread() const;
    Clock& GetClock() const;

    // Window classes and windows (loop thread only).
    bool RegisterClass(const std::string& className, WndProc proc);
    bool UnregisterClass(const std::string& className);
    // Creates a window of a registered class; kNoWindow when the class is unknown.
    WindowHandle CreateWindow(const std::string& className, const std::string& title);
    // Sends WM_DESTROY to the window, then forgets it.
    bool DestroyWindow(WindowHandle window);

    // Any thread. Posting to a window that does not exist fails.
    bool Post(WindowHandle window, uint32_t msg, WParam w, LParam l);
    // Any thread. Returns the procedure's result, 0 when the window does not exist or the
    // loop has ended.
    LResult Send(WindowHandle window, uint32_t msg, WParam w, LParam l);
    // Any thread: runs fn on the loop's thread later / now (waiting for it).
    void PostTask(std::function<void()> fn);
    void SendTask(const std::function<void()>& fn);
    // Marks the window for repainting: one WM_PAINT is delivered for any number of calls.
    void Invalidate(WindowHandle window);

    // Window-less timers (loop thread). Period in device-clock milliseconds; id > 0.
    uint32_t SetTimer(uint32_t periodMs, TimerProc proc);
    bool KillTimer(uint32_t timerId);

    // Runs until Quit; returns the code given to Quit.
    int Run();
    void Quit(int code = 0);
    bool QuitRequested() const;
    // Handles every message, task and due timer that is ready now, without blocking.
    // Returns how many were handled. For tests with a stepped clock.
    size_t RunPending();
    // A nested modal pump: handles messages until done() is true, Quit is called, or
    // timeoutMs of device-clock time have passed (< 0: no limit). True when done().
    bool PumpUntil(const std::function<bool()>& done, int64_t timeoutMs = -1);
    // Handles the messages sent (not posted) from other threads. Used by waits on the
    // loop's thread. Returns how many were handled.
    size_t ProcessSentMessages();
    // Readable while sent messages wait; part of every wait on the loop's thread.
    int SentMessageFd() const;

    // Window-handle helpers usable with any loop: the loop that owns the window.
    static MessageLoop* OwnerOf(WindowHandle window);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Process-wide: the same name always gives the same number (0xC000..0xFFFF).
uint32_t RegisterWindowMessage(const std::string& name);

// Win32-style helpers that find the window's loop.
bool PostMessage(WindowHandle window, uint32_t msg, WParam w, LParam l);
// As PostMessage, for a message that carries something its window procedure frees once it
// has handled it (a counted reference in lParam). When the message never reaches a
// procedure, release is called instead, exactly once: at once when the post fails (the
// result is then false), on the loop's thread when the window is gone by the message's
// turn, and when the loop ends with the message still queued. A handled message never
// calls it. Any thread.
bool PostMessageWithRelease(WindowHandle window, uint32_t msg, WParam w, LParam l, std::function<void()> release);
LResult SendMessage(WindowHandle window, uint32_t msg, WParam w, LParam l);
bool IsWindow(WindowHandle window);
void InvalidateWindow(WindowHandle window);

}  // namespace kestrix::platform
