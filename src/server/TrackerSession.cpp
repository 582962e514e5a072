#include "server/TrackerSession.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/Log.h"
#include "settings/TrackerSettings.h"

namespace kestrix {
namespace {

constexpr uint32_t kAutoTrackTimer = 1;
constexpr uint32_t kAutoTrackCount = 2;
constexpr int kWakeMs = 1000;

}  // namespace

// ---- PositionQueue ----

TrackPointRef PositionQueue::Push(TrackPointRef point) {
    TrackPointRef evicted;
    std::lock_guard lock(mutex_);
    if (points_.size() >= kCapacity) {
        evicted = std::move(points_.front());
        points_.pop_front();
    }
    points_.push_back(std::move(point));
    event_.Set();
    return evicted;
}

TrackPointRef PositionQueue::Pop() {
    std::lock_guard lock(mutex_);
    if (points_.empty()) return {};
    TrackPointRef p = std::move(points_.front());
    points_.pop_front();
    if (points_.empty()) event_.Reset();
    return p;
}

void PositionQueue::Clear() {
    std::deque<TrackPointRef> gone;
    std::lock_guard lock(mutex_);
    gone.swap(points_);
    event_.Reset();
}

size_t PositionQueue::Count() const {
    std::lock_guard lock(mutex_);
    return points_.size();
}

// ---- TrackSender ----

bool TrackSender::Start(TrackerSession* session) {
    std::lock_guard lock(mutex_);
    if (session == nullptr) return false;
    session_ = session;
    TrackerSettings* settings = session->Settings();
    if (settings == nullptr) {
        session_ = nullptr;
        return false;
    }
    batch_.Clear();
    lastTime_ = static_cast<int64_t>(settings->GetLastTrackPoint());
    const uint32_t mode = settings->GetAutoTrackMode();
    countThreshold_ = (mode & kAutoTrackCount) ? settings->GetAutoTrackPointCount() : 0;
    periodMs_ = 0;
    // A timeout of 0 minutes would flush without pause; it means no timer.
    if ((mode & kAutoTrackTimer) && settings->GetAutoTrackTimeout() > 0) {
        periodMs_ = static_cast<uint64_t>(settings->GetAutoTrackTimeout()) * 60000;
        dueMs_ = platform::DeviceClock().MonotonicMs() + periodMs_;
    }
    active_ = true;
    return true;
}

int TrackSender::Add(TrackPointRef point) {
    if (!point) return kRefused;
    std::lock_guard lock(mutex_);
    if (!active_) return kRefused;
    if (countThreshold_ != 0 && batch_.Count() >= countThreshold_ && !Flush()) return kRefused;
    if (static_cast<int64_t>(point->GetTime()) < lastTime_) return kOlder;
    // A full batch does not take the point: say so, so that the caller can keep it.
    if (!batch_.Add(std::move(point))) return kRefused;
    return kAdded;
}

bool TrackSender::Flush() {
    std::lock_guard lock(mutex_);
    if (!active_) return true;
    if (session_ == nullptr || batch_.Count() == 0) return false;
    TrackerSession* session = session_;
    if (!session->SendToServer(batch_)) return false;
    TrackPointRef last = batch_.Last();
    if (last) {
        lastTime_ = static_cast<int64_t>(last->GetTime());
        const uint64_t t = last->GetTime();
        if (TrackerSettings* settings = session->Settings()) settings->SetLastTrackPoint(&t);
    }
    batch_.Clear();
    return true;
}

void TrackSender::Stop() {
    std::lock_guard lock(mutex_);
    session_ = nullptr;
    lastTime_ = 0;
    periodMs_ = 0;
    active_ = false;
}

void TrackSender::Clear() {
    std::lock_guard lock(mutex_);
    Stop();
    batch_.Clear();
}

void TrackSender::OnTimer(uint64_t nowMs) {
    std::lock_guard lock(mutex_);
    if (!active_ || periodMs_ == 0 || nowMs < dueMs_) return;
    dueMs_ = nowMs + periodMs_;
    Flush();
}

std::optional<uint64_t> TrackSender::NextDue() const {
    std::lock_guard lock(mutex_);
    if (!active_ || periodMs_ == 0) return std::nullopt;
    return dueMs_;
}

// ---- TrackerSession ----

TrackerSession::TrackerSession(IStatusListener* controller)
    : wakeEvent_(std::make_shared<platform::Event>(false, false)),
      controller_(controller),
      connection_(this),
      store_(this) {
    connection_.SetStopEvent(&stopEvent_);
}

TrackerSession::~TrackerSession() {
    controller_ = nullptr;
    Stop();
}

bool TrackerSession::IsRunning() const { return thread_.Running(); }

bool TrackerSession::IsStopped() const { return !IsRunning() || stopEvent_.IsSet(); }

void TrackerSession::RegisterClockWake() {
    platform::Clock& clock = platform::DeviceClock();
    if (static_cast<void*>(&clock) == wakeClock_) return;
    std::shared_ptr<platform::Event> wake = wakeEvent_;
    clock.AddWakeListener([wake] { wake->Set(); });
    wakeClock_ = &clock;
}

bool TrackerSession::Start(TrackerSettings* settings) {
    Stop();
    stopEvent_.Reset();
    if (settings == nullptr) return false;
    settings_ = settings;
    RegisterClockWake();
    return thread_.Start([this] { Run(); }, "tracker-session");
}

void TrackerSession::Stop() {
    if (thread_.Running()) {
        // Every blocking call of the worker (a resend included) ends at the stop. The store
        // is closed only once the worker has ended: closing it under the worker's feet
        // would drop the points the worker is saving on its way out.
        stopEvent_.Set();
        if (!thread_.Join(kStopBoundMs)) {
            platform::LogError("tracker session: the worker did not end within its bound");
            thread_.Join(-1);
        }
    }
    store_.Close();
    connection_.Disconnect();
    settings_ = nullptr;
}

void TrackerSession::PostPosition(TrackPointRef point) {
    if (!point) return;
    if (thread_.Running()) {
        // A full queue gives up its oldest point to the store rather than losing it.
        if (TrackPointRef evicted = queue_.Push(std::move(point))) StoreOffline(std::move(evicted));
        return;
    }
    StoreOffline(std::move(point));
}

void TrackerSession::StoreOffline(TrackPointRef point) { store_.Append(settings_.load(), std::move(point)); }

bool TrackerSession::SendToServer(ServerMessage& message) {
    // A server that went away has usually closed its end already: find that out before a
    // send that the system would accept and then lose.
    if (!connection_.CheckPeer()) return false;
    Packet packet;
    if (!packet.Prepare(message) || !message.Write(packet)) return false;
    return packet.Send(connection_);
}

void TrackerSession::Run() {
    for (;;) {
        if (stopEvent_.IsSet()) break;
        int timeout = kWakeMs;
        if (auto due = sender_.NextDue()) {
            const uint64_t now = platform::DeviceClock().MonotonicMs();
            timeout = *due <= now ? 0 : static_cast<int>(std::min<uint64_t>(*due - now, kWakeMs));
        }
        const int r = platform::WaitAny({platform::Waitable::Of(queue_.Event()), platform::Waitable::Of(stopEvent_),
                                         platform::Waitable::Of(*wakeEvent_)},
                                        timeout);
        if (stopEvent_.IsSet()) break;
        if (r == platform::kWaitFailed) {
            // Not expected; never spin on a broken wait.
            stopEvent_.Wait(100);
            continue;
        }
        sender_.OnTimer(platform::DeviceClock().MonotonicMs());
        if (queue_.Event().IsSet()) HandleQueue();
    }
    connection_.Disconnect();
    // Points still waiting were accepted: they go to the store, not away.
    while (TrackPointRef p = queue_.Pop()) StoreOffline(std::move(p));
    queue_.Clear();
}

void TrackerSession::HandleQueue() {
    TrackerSettings* settings = settings_.load();
    if (!connection_.IsOpen() && settings != nullptr) {
        connection_.Connect(*settings);
        if (!loggedIn_) {
            stopEvent_.Wait(retryPauseMs_);
            connection_.Disconnect();
            if (!store_.IsOpen()) store_.Open(settings);
        }
    }
    if (connection_.IsOpen() && loggedIn_) {
        TrackPointRef point = queue_.Pop();
        if (!point) return;
        PositionMessage message(*point);
        const bool sent = SendToServer(message);
        bool collected = false;
        if (settings != nullptr && (settings->GetAutoTrackMode() & (kAutoTrackTimer | kAutoTrackCount)) != 0) {
            collected = sender_.Add(point) == TrackSender::kAdded;
        }
        // A point that neither went out live nor waits in a batch must not be lost.
        if (!sent && !collected) StoreOffline(std::move(point));
        return;
    }
    if (TrackPointRef point = queue_.Pop()) StoreOffline(std::move(point));
}

void TrackerSession::Login() {
    TrackerSettings* settings = settings_.load();
    if (settings == nullptr) return;
    const auto login = settings->GetLogin();
    if (!login) {
        OnMessage("Invalid login.");
        return;
    }
    const auto digest = settings->GetPasswordHash();
    if (!digest) {
        OnMessage("Invalid password.");
        return;
    }
    if (!connection_.IsOpen()) return;
    uint32_t userId = settings->GetUserId();
    if (userId == 0) userId = 1;
    LoginMessage request(*login, *digest, userId);
    Packet packet;
    if (!packet.Prepare(request) || !request.Write(packet) || !packet.Send(connection_)) return;
    Packet answer;
    if (!answer.Receive(connection_) || !request.Read(answer)) return;
    userId_ = request.UserId();
    if (userId_ != 0) {
        settings->SetUserId(userId_);
        store_.Resend([this](ServerMessage& m) { return SendToServer(m); }, userId_, settings);
        // A resend that lost the connection has already reported the disconnect.
        if (!connection_.IsOpen()) return;
        sender_.Start(this);
        loggedIn_ = true;
        if (IStatusListener* c = controller_.load()) c->OnStarted(kKindTracker);
        return;
    }
    connection_.Disconnect();
    OnMessage(request.ServerText().empty() ? std::string("Login failed") : request.ServerText());
}

void TrackerSession::OnStarted(int kind) {
    if (kind == kKindTracker) Login();
}

void TrackerSession::OnStopped(int) {
    loggedIn_ = false;
    sender_.Stop();
    store_.OpenWithBatch(settings_.load(), sender_.Batch());
    sender_.Clear();
    if (IStatusListener* c = controller_.load()) c->OnStopped(kKindTracker);
}

void TrackerSession::OnMessage(const std::string& text) {
    if (IStatusListener* c = controller_.load()) c->OnMessage(text);
}

void TrackerSession::OnProblem(int kind, const std::string& text) {
    if (IStatusListener* c = controller_.load()) c->OnProblem(kind, text);
}

}  // namespace kestrix
