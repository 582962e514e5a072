// Events on eventfd (manual and auto reset) and a wait on several events and file
// descriptors with a time-out. Any thread may Set/Reset/Wait. A wait on the thread that
// runs a MessageLoop keeps handling messages sent to that loop from other threads, so a
// worker blocked in a synchronous send cannot deadlock the user-interface thread.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <span>

namespace kestrix::platform {

class Event {
public:
    explicit Event(bool manualReset, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Waits until set (an auto-reset event is consumed). timeoutMs < 0 waits forever.
    bool Wait(int timeoutMs);
    int Fd() const { return fd_; }
    // For auto-reset events: takes the signal if it is there. Used by WaitAny.
    bool TryConsume();

private:
    int fd_;
    bool manual_;
    mutable std::mutex mutex_;
    bool set_ = false;
};

// One thing to wait for: an event, or a descriptor becoming readable (or writable).
struct Waitable {
    Event* event = nullptr;
    int fd = -1;
    bool forWrite = false;
    static Waitable Of(Event& e) { return Waitable{&e, -1, false}; }
    static Waitable Readable(int fd) { return Waitable{nullptr, fd, false}; }
    static Waitable Writable(int fd) { return Waitable{nullptr, fd, true}; }
};

constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;

// Returns the index of the first item that is ready (an auto-reset event that is
// returned has been consumed), kWaitTimeout, or kWaitFailed (LastError holds errno).
// timeoutMs < 0 waits forever. Real time, not the device clock: these bound system calls.
int WaitAny(std::span<const Waitable> items, int timeoutMs);
inline int WaitAny(std::initializer_list<Waitable> items, int timeoutMs) {
    return WaitAny(std::span<const Waitable>(items.begin(), items.size()), timeoutMs);
}

}  // namespace kestrix::platform
