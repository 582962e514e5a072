// PowerMonitor: watches the power broadcasts, remembers the AC line status (0 battery,
// 1 external power, 255 unknown until the first broadcast) and tells its PowerListener
// when the source changes and when the main battery reports low or critical.
// Runs entirely on the UI thread: a one-second window-less timer reads at most one
// broadcast per tick.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>

#include "base/Listeners.h"
#include "platform/MessageLoop.h"
#include "platform/Power.h"

namespace kestrix {

class PowerMonitor {
public:
    PowerMonitor();
    ~PowerMonitor();
    // Opens the notification queue, registers, starts the 1000 ms timer on the calling
    // thread's MessageLoop (if it has one). False, with nothing stored, when the queue
    // cannot be opened.
    bool Start(PowerListener* listener);
    // Reads at most one broadcast and reports it. True when one was read.
    bool Poll();
    uint8_t GetAcLineStatus() const { return static_cast<uint8_t>(acLineStatus_); }
    void Stop();

private:
    void ReportAcLineStatus(uint8_t status);

    uint32_t timerId_ = 0;
    // Written on the UI thread, read by the reader thread when a fix is dispatched.
    std::atomic<uint32_t> acLineStatus_{255};
    PowerListener* listener_ = nullptr;
    std::unique_ptr<platform::PowerNotificationSource> queue_;
    platform::MessageLoop* loop_ = nullptr;  // the loop that runs the timer
};

}  // namespace kestrix
