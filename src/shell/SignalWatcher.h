// SignalWatcher: while it lives, SIGINT and SIGTERM no longer end the process; the first
// one received calls onSignal on the watcher's own thread, so the daemon can ask its UI
// thread to quit through the message loop instead of doing work in a signal handler.
// Threads: constructed, started, stopped and destroyed by one owner thread; onSignal runs
// on the watcher's thread, at most once.
#pragma once
#include <functional>

#include "platform/Event.h"
#include "platform/TerminationSignal.h"
#include "platform/Thread.h"

namespace kestrix::shell {

class SignalWatcher {
public:
    SignalWatcher() = default;
    ~SignalWatcher();  // Stop()
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    // False when the signals cannot be watched.
    bool Start(std::function<void()> onSignal);
    void Stop();

private:
    platform::TerminationSignal signal_;
    platform::Event stop_{true};
    platform::Thread thread_;
    std::function<void()> onSignal_;
};

}  // namespace kestrix::shell
