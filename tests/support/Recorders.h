// Doubles shared by the tests of several folders:
//   StatusRecorder: an IStatusListener that keeps every report in order, as "started K",
//     "stopped K", "message TEXT" or "problem K TEXT" (any thread);
//   FixRecorder: a GpsFixListener that keeps the fixes and the count of losses (any thread).
#pragma once
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/Listeners.h"

namespace kestrix::test {

class StatusRecorder : public IStatusListener {
public:
    void OnStarted(int kind) override { Add("started " + std::to_string(kind)); }
    void OnStopped(int kind) override { Add("stopped " + std::to_string(kind)); }
    void OnMessage(const std::string& text) override { Add("message " + text); }
    void OnProblem(int kind, const std::string& text) override { Add("problem " + std::to_string(kind) + " " + text); }
    std::vector<std::string> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    bool Has(const std::string& event) const {
        const auto events = Events();
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    // The reports since the last Take.
    std::vector<std::string> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }

private:
    void Add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

class FixRecorder : public GpsFixListener {
public:
    void OnSignalLevel(int) override {}
    void OnFixLost() override {
        std::lock_guard lock(mutex_);
        ++lost_;
    }
    void OnFix(TrackPointRef point) override {
        std::lock_guard lock(mutex_);
        fixes_.push_back(std::move(point));
    }
    std::vector<TrackPointRef> Fixes() const {
        std::lock_guard lock(mutex_);
        return fixes_;
    }
    // The fixes since the last Take.
    std::vector<TrackPointRef> TakeFixes() {
        std::lock_guard lock(mutex_);
        return std::exchange(fixes_, {});
    }
    size_t FixCount() const {
        std::lock_guard lock(mutex_);
        return fixes_.size();
    }
    int Lost() const {
        std::lock_guard lock(mutex_);
        return lost_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<TrackPointRef> fixes_;
    int lost_ = 0;
};

}  // namespace kestrix::test
