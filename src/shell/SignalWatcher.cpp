#include "shell/SignalWatcher.h"

namespace kestrix::shell {

SignalWatcher::~SignalWatcher() { Stop(); }

bool SignalWatcher::Start(std::function<void()> onSignal) {
    if (thread_.Running() || signal_.Fd() < 0) return false;
    onSignal_ = std::move(onSignal);
    stop_.Reset();
    return thread_.Start(
        [this] {
            int which = platform::WaitAny({platform::Waitable::Of(stop_), platform::Waitable::Readable(signal_.Fd())}, -1);
            // One call is enough: the owner is shutting down from here on. (The signal's
            // number is not read here: the handler writes it on another thread.)
            if (which == 1) onSignal_();
        },
        "signals");
}

void SignalWatcher::Stop() {
    if (!thread_.Running()) return;
    stop_.Set();
    thread_.Join(-1);
}

}  // namespace kestrix::shell
