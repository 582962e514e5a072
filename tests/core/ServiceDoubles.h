// Doubles of the services the controller owns and of the power source, and the fixture of
// the tests that run a controller with them. Every call lands in one journal (the shell's
// too) so tests can check the order of calls across services. The doubles report
// started/stopped to their listener as the real services do.
#pragma once
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/Listeners.h"
#include "base/ServiceInterfaces.h"
#include "core/ControllerServices.h"
#include "core/TrackerController.h"
#include "platform/Clock.h"
#include "platform/MessageLoop.h"
#include "platform/Power.h"
#include "platform/Registry.h"
#include "platform/ShellDouble.h"
#include "support/TestSupport.h"

namespace kestrix::test {

// What every service double holds: whom it reports to and where its calls are noted.
template <class Interface, class Listener>
struct ServiceDouble : Interface {
    ServiceDouble(Listener& listener, Journal& journal) : listener_(listener), journal_(journal) {}
    Listener& listener_;
    Journal& journal_;
};

struct ReceiverDouble final : ServiceDouble<IGpsReceiver, GpsFixListener> {
    using ServiceDouble::ServiceDouble;
    bool IsRunning() const override { return running; }
    bool Start(TrackerSettings*) override {
        journal_.Add("receiver.Start");
        return running = true;
    }
    void Stop() override {
        journal_.Add("receiver.Stop");
        running = false;
        listener_.OnFixLost();
    }
    int GetSignalLevel() const override { return level; }
    int GetSatellitesUsed() const override { return 0; }
    NmeaParser* Parser() override { return nullptr; }
    bool running = false;
    int level = 0;
};

struct SessionDouble final : ServiceDouble<ITrackerSession, IStatusListener> {
    using ServiceDouble::ServiceDouble;
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
};

struct LogDouble final : ServiceDouble<ITrackLog, IStatusListener> {
    using ServiceDouble::ServiceDouble;
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
        if (!std::exchange(open, true)) listener_.OnStarted(kKindLogger);
        return true;
    }
    bool open = false;
    std::vector<TrackPointRef> written;
};

class StatusModelDouble final : public IGpsStatusModel {
public:
    explicit StatusModelDouble(Journal& journal) : journal_(journal) {}
    bool Attach(IGpsReceiver*) override {
        journal_.Add("model.Attach");
        return true;
    }
    void Detach() override { journal_.Add("model.Detach"); }
    void SetWindowFactory(StatusWindowFactory) override {}
    int ShowStatusWindow(uintptr_t instance) override {
        journal_.Add("model.Show " + std::to_string(instance));
        return 0;
    }
    void RequestRedraw() override { journal_.Add("model.Redraw"); }

private:
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

// A stepped clock, a real registry file in a temporary folder, the shell double, the power
// source double fed from power_, and a message loop on the test thread. Doubles() gives the
// services as doubles, each remembered (receiver_, session_, log_) once the controller makes it.
class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetDeviceClock(&clock_);
        std::string error;
        ASSERT_TRUE(platform::ConfigureRegistry(dir_.File("registry.reg"), &error)) << error;
        platform::SetShellHost(&shell_);
        platform::SetPowerSourceFactory([q = power_] { return std::make_unique<PowerSourceDouble>(q); });
        loop_ = std::make_unique<platform::MessageLoop>(clock_);
    }
    void TearDown() override {
        TrackerController::Destroy();
        loop_.reset();
        SetControllerServices(DefaultControllerServices());
        platform::SetPowerSourceFactory(nullptr);
        platform::SetShellHost(nullptr);
        platform::SetDeviceClock(nullptr);
    }
    ControllerServices Doubles() {
        ControllerServices s;
        s.makeReceiver = [this](GpsFixListener& l) { return Keep(receiver_, l); };
        s.makeSession = [this](IStatusListener& l) { return Keep(session_, l); };
        s.makeLog = [this](IStatusListener& l) { return Keep(log_, l); };
        s.statusModel = [this] { return &model_; };
        s.deleteStatusModel = [this] { journal_.Add("model.Delete"); };
        s.clearSatellites = [this] { journal_.Add("satellites.Clear"); };
        return s;
    }
    template <class Double, class Listener>
    std::unique_ptr<Double> Keep(Double*& slot, Listener& l) {
        auto d = std::make_unique<Double>(l, journal_);
        slot = d.get();
        return d;
    }

    platform::ManualClock clock_{1000, 133'000'000'000'000'000ULL};
    TempDir dir_;
    Journal journal_;
    ShellDouble shell_{&journal_};
    StatusModelDouble model_{journal_};
    std::shared_ptr<std::deque<QueuedPower>> power_ = std::make_shared<std::deque<QueuedPower>>();
    std::unique_ptr<platform::MessageLoop> loop_;
    ReceiverDouble* receiver_ = nullptr;
    SessionDouble* session_ = nullptr;
    LogDouble* log_ = nullptr;
};

}  // namespace kestrix::test
