// A worker thread that is never detached nor killed. Join waits with a bound and keeps
// handling messages sent to the calling thread's MessageLoop while it waits.
// Start/Join/Running are called by the owning thread only.
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/Event.h"

namespace kestrix::platform {

class Thread {
public:
    Thread();
    ~Thread();  // joins (without bound) a thread that is still running
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // False when a thread is already held or the system refuses a new one.
    bool Start(std::function<void()> body, std::string name = {});
    // True while a thread is held (started and not yet joined).
    bool Running() const { return thread_.joinable(); }
    // True once the body has returned.
    bool Ended() const { return ended_->IsSet(); }
    // Waits up to timeoutMs (< 0: forever) for the body to return, then joins it.
    // False (thread still held) when the time ran out.
    bool Join(int timeoutMs);
    // Id of the running thread (0 when none), for checks such as "am I the worker".
    bool IsCurrent() const;

private:
    std::thread thread_;
    std::unique_ptr<Event> ended_;
    std::atomic<std::thread::id> id_{};  // set by the worker itself, so any thread may ask
};

}  // namespace kestrix::platform
