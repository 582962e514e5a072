// Doubles of the services the controller owns, and a shell that records what it is asked
// to show. Every call lands in one journal so tests can check the order of calls across
// services. The doubles report started/stopped to their listener as the real services do.
#pragma once
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Listeners.h"
#include "base/ServiceInterfaces.h"
#include "platform/Power.h"
#include "platform/Shell.h"

namespace kestrix::test {

class Journal {
public:
    void Add(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
    }
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(calls_, {});
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

class ReceiverDouble final : public IGpsReceiver {
public:
    ReceiverDouble(GpsFixListener& listener, Journal& journal) : listener_(listener), journal_(journal) {}
    bool IsRunning() const override { return running; }
    bool Start(TrackerSettings*) override {
        journal_.Add("receiver.Start");
        running = startSucceeds;
        return startSucceeds;
    }
    void Stop() override {
        journal_.Add("receiver.Stop");
        running = false;
        listener_.OnFixLost();
    }
    int GetSignalLevel() const override { return level; }
    NmeaParser* Parser() override { return nullptr; }

    bool running = false;
    bool startSucceeds = true;
    int level = 0;
    GpsFixListener& listener_;
    Journal& journal_;
};

class SessionDouble final : public ITrackerSession {
public:
    SessionDouble(IStatusListener& listener, Journal& journal) : listener_(listener), journal_(journal) {}
    bool IsRunning() const override { return running; }
    bool IsStopped() const override { return !running || stopRequested; }
    bool Start(TrackerSettings*) override {
        journal_.Add("session.Start");
        running = true;
        stopRequested = false;
        if (reportsStart) listener_.OnStarted(kKindTracker);
        return true;
    }
    void Stop() override {
        journal_.Add("session.Stop");
        if (!running) return;
        stopRequested = true;
        running = false;
        listener_.OnStopped(kKindTracker);
    }
    void PostPosition(TrackPointRef point) override { posted.push_back(std::move(point)); }

    bool running = false;
    bool stopRequested = false;
    bool reportsStart = true;  // false: still connecting
    std::vector<TrackPointRef> posted;
    IStatusListener& listener_;
    Journal& journal_;
};

class LogDouble final : public ITrackLog {
public:
    LogDouble(IStatusListener& listener, Journal& journal) : listener_(listener), journal_(journal) {}
    bool IsOpen() const override { return open; }
    bool Open(TrackerSettings*) override {
        journal_.Add("log.Open");
        open = true;
        listener_.OnStarted(kKindLogger);
        return true;
    }
    void Close() override {
        journal_.Add("log.Close");
        if (!open) return;
        open = false;
        listener_.OnStopped(kKindLogger);
    }
    void Write(TrackPointRef point) override { written.push_back(std::move(point)); }
    // The export ends by opening the log again for appending.
    bool ExportGpx() override {
        journal_.Add("log.ExportGpx");
        if (!open) {
            open = true;
            listener_.OnStarted(kKindLogger);
        }
        return exportResult;
    }

    bool open = false;
    bool exportResult = true;
    std::vector<TrackPointRef> written;
    IStatusListener& listener_;
    Journal& journal_;
};

class StatusModelDouble final : public IGpsStatusModel {
public:
    explicit StatusModelDouble(Journal& journal) : journal_(journal) {}
    bool Attach(IGpsReceiver* r) override {
        journal_.Add("model.Attach");
        attached = r;
        return true;
    }
    void Detach() override {
        journal_.Add("model.Detach");
        attached = nullptr;
    }
    void SetWindowFactory(StatusWindowFactory f) override { factory = std::move(f); }
    int ShowStatusWindow(uintptr_t instance) override {
        journal_.Add("model.Show " + std::to_string(instance));
        return showResult;
    }
    void RequestRedraw() override { journal_.Add("model.Redraw"); }
    IGpsReceiver* attached = nullptr;
    StatusWindowFactory factory;
    int showResult = 0;
    Journal& journal_;
};

// The shell as far as the controller meets it; message boxes are answered as a
// person would, by the test's script.
class ShellDouble final : public platform::ShellHost {
public:
    struct Box {
        std::string text;
        std::string caption;
        uint32_t flags;
    };
    struct Update {
        uint32_t mask;
        platform::Notification n;
    };
    explicit ShellDouble(Journal& journal) : journal_(journal) {}
    bool NotificationAdd(const platform::Notification& n) override {
        journal_.Add("shell.Add");
        adds.push_back(n);
        shown = true;
        return true;
    }
    bool NotificationUpdate(uint32_t mask, const platform::Notification& n) override {
        if (!shown) {
            journal_.Add("shell.UpdateRefused");
            return false;
        }
        journal_.Add("shell.Update");
        updates.push_back({mask, n});
        return true;
    }
    bool NotificationRemove(const std::string& clsid, uint32_t id) override {
        journal_.Add("shell.Remove " + clsid + " " + std::to_string(id));
        shown = false;
        return true;
    }
    int MessageBox(platform::WindowHandle, const std::string& text, const std::string& caption,
                   uint32_t flags) override {
        journal_.Add("shell.MessageBox " + caption);
        boxes.push_back({text, caption, flags});
        return platform::IDOK;
    }
    bool OpenLink(const std::string&) override { return true; }
    // The person closes the bubble.
    void Dismiss() { shown = false; }

    bool shown = false;
    std::vector<platform::Notification> adds;
    std::vector<Update> updates;
    std::vector<Box> boxes;
    Journal& journal_;
};

struct QueuedPower {
    platform::PowerRecord record{};
    size_t length = 0;
};

class PowerSourceDouble final : public platform::PowerNotificationSource {
public:
    explicit PowerSourceDouble(std::shared_ptr<std::deque<QueuedPower>> queue, bool startSucceeds = true)
        : queue_(std::move(queue)), startSucceeds_(startSucceeds) {}
    bool Start() override { return startSucceeds_; }
    size_t Read(platform::PowerRecord& out) override {
        if (queue_->empty()) return 0;
        out = queue_->front().record;
        size_t n = queue_->front().length;
        queue_->pop_front();
        return n;
    }
    void Stop() override {}

private:
    std::shared_ptr<std::deque<QueuedPower>> queue_;
    bool startSucceeds_;
};

}  // namespace kestrix::test
