// TrackerSession: live tracking. The controller hands it every accepted fix
// (PostPosition); a worker thread connects to the server when there is something to send,
// logs in, sends each position as a live position message and, when the automatic track
// upload is on, collects the sent positions in a TrackSender that sends them as track
// messages every few points (count rule) or every few minutes (timer rule, on the device
// clock). What cannot be sent goes to the OfflineStore, which is sent after the next
// login. Reports to the controller (IStatusListener, kind 0): OnStarted when logged in,
// OnStopped at every disconnect, OnMessage with every error text, OnProblem while the
// offline store cannot write.
//
// Threads: Start, Stop, PostPosition, IsRunning, IsStopped and the destructor run on the
// controller's thread; the loop, the connection, the login, the sends and the timer rule
// run on the worker, which also calls the controller back. Every blocking call of the
// worker wakes on the stop event, so Stop ends it within 5000 ms and joins it.
#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "base/Listeners.h"
#include "base/ServiceInterfaces.h"
#include "platform/Event.h"
#include "platform/Thread.h"
#include "server/Messages.h"
#include "server/OfflineStore.h"
#include "server/ServerConnection.h"

namespace kestrix {

class TrackerSession;
class TrackerSettings;

// The points waiting for the worker, oldest first; its event is set while not empty.
class PositionQueue {
public:
    static constexpr size_t kCapacity = 101;
    PositionQueue() : event_(true, false) {}
    // Appends the point. When the queue is full, the oldest point makes room and is
    // returned so that the caller can keep it elsewhere.
    TrackPointRef Push(TrackPointRef point);
    TrackPointRef Pop();
    void Clear();
    size_t Count() const;
    platform::Event& Event() { return event_; }

private:
    mutable std::mutex mutex_;
    std::deque<TrackPointRef> points_;
    platform::Event event_;
};

// The automatic track upload: collects points and sends them as one track message when
// the count rule or the timer rule says so. Used on the worker thread; its lock lets its
// owner enter again (Add may Flush).
class TrackSender {
public:
    enum AddResult { kAdded = 0, kOlder = 1, kRefused = 2 };

    bool Start(TrackerSession* session);
    int Add(TrackPointRef point);
    // True when there is nothing to do (stopped) or the batch went out.
    bool Flush();
    void Stop();
    void Clear();
    // Runs the timer rule: flushes when the period has passed on the device clock.
    void OnTimer(uint64_t nowMs);
    // Device-clock time of the next timer flush, when the timer rule is on.
    std::optional<uint64_t> NextDue() const;
    TrackMessage& Batch() { return batch_; }

private:
    mutable std::recursive_mutex mutex_;
    TrackerSession* session_ = nullptr;
    int64_t lastTime_ = 0;
    TrackMessage batch_;
    uint64_t periodMs_ = 0;
    uint64_t dueMs_ = 0;
    uint32_t countThreshold_ = 0;
    bool active_ = false;
};

class TrackerSession : public ITrackerSession, public IStatusListener {
public:
    static constexpr int kStopBoundMs = 5000;
    static constexpr int kRetryPauseMs = 5000;

    explicit TrackerSession(IStatusListener* controller);
    ~TrackerSession() override;
    TrackerSession(const TrackerSession&) = delete;
    TrackerSession& operator=(const TrackerSession&) = delete;

    bool IsRunning() const override;
    bool IsStopped() const override;
    bool Start(TrackerSettings* settings) override;
    void Stop() override;
    void PostPosition(TrackPointRef point) override;

    // IStatusListener, for the connection.
    void OnStarted(int kind) override;
    void OnStopped(int kind) override;
    void OnMessage(const std::string& text) override;
    // The offline store's write problems, passed on to the controller.
    void OnProblem(int kind, const std::string& text) override;

    // Prepares a packet from the message, writes it and sends it on the connection.
    bool SendToServer(ServerMessage& message);
    TrackerSettings* Settings() const { return settings_.load(); }
    uint32_t UserId() const { return userId_.load(); }

    // The pause after a failed connect or login (tests shorten it) and the socket limits.
    void SetRetryPause(int ms) { retryPauseMs_ = ms; }
    void SetTimeouts(int connectMs, int ioMs) { connection_.SetTimeouts(connectMs, ioMs); }
    OfflineStore& Store() { return store_; }

private:
    void Run();
    void HandleQueue();
    void Login();
    void StoreOffline(TrackPointRef point);
    void RegisterClockWake();

    std::atomic<uint32_t> userId_{1};
    platform::Event stopEvent_{true, false};
    // Set when the device clock is stepped, so the timer rule is checked at once. Shared
    // with the clock's wake listener, which may outlive the session.
    std::shared_ptr<platform::Event> wakeEvent_;
    platform::Thread thread_;
    std::atomic<TrackerSettings*> settings_{nullptr};
    std::atomic<IStatusListener*> controller_;
    std::atomic<bool> loggedIn_{false};
    ServerConnection connection_;
    PositionQueue queue_;
    TrackSender sender_;
    OfflineStore store_;
    int retryPauseMs_ = kRetryPauseMs;
    void* wakeClock_ = nullptr;
};

}  // namespace kestrix
