#include "core/TrackerController.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "core/MainWindow.h"
#include "core/ServiceDoubles.h"
#include "platform/Clock.h"
#include "platform/MessageLoop.h"
#include "platform/Power.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "resources/Resources.h"
#include "settings/TrackerSettings.h"
#include "support/TestSupport.h"

namespace kestrix {
namespace {

using V = std::vector<std::string>;
constexpr uintptr_t kInstance = 0x1000;
constexpr const char* kBatteryText =
    "The battery charge level is critically low. All user data has been saved to disk.";

class TrackerControllerTest : public test::ControllerTest {
protected:
    // A controller whose account and port are known, initialised, with a quiet journal.
    // Modes: Logger on battery, Tracker on external power, so the two are told apart.
    TrackerController& Ready(ControllerServices s, uint32_t onBattery = kModeLogger, uint32_t onPower = kModeTracker) {
        SetControllerServices(std::move(s));
        TrackerController* c = TrackerController::Instance();
        TrackerSettings& st = c->GetSettings();
        st.SetLogin(std::string("anna"));
        st.SetPassword(std::string("secret"));
        st.SetGpsPort(std::string("COM4:"));
        st.SetMode(0, onBattery);
        st.SetMode(1, onPower);
        EXPECT_TRUE(c->Init(kInstance, platform::kNoWindow));
        loop_->RunPending();
        journal_.Take();
        return *c;
    }

    // The journal without the bubble's refreshes, for tests about the services.
    V ServiceCalls() {
        V out;
        for (auto& call : journal_.Take()) {
            if (call != "shell.Update") out.push_back(call);
        }
        return out;
    }

    // One power-information broadcast, read by the monitor's next one-second tick.
    void Broadcast(uint8_t ac, uint8_t batteryFlag = platform::BATTERY_FLAG_HIGH) {
        platform::PowerInfo info;
        info.acLineStatus = ac;
        info.batteryFlag = batteryFlag;
        power_->push_back({platform::MakePowerInfoRecord(info), platform::kPowerInfoLength});
        clock_.Advance(1000);
        loop_->RunPending();
    }
};

// Which flags raise the alarm is the power monitor's table; here one that does and one that does not.
TEST_F(TrackerControllerTest, LowMainBatteryStopsEverythingSavesAndWarns) {
    TrackerController& c = Ready(Doubles(), kModeTracker | kModeLogger, kModeTracker | kModeLogger);
    Broadcast(1);
    ASSERT_EQ(c.GetState() & 3u, 3u);
    c.GetSettings().SetUserId(77);  // as the session does when it logs in
    shell_.boxes.clear();
    Broadcast(1, platform::BATTERY_FLAG_HIGH);
    EXPECT_EQ(c.GetState() & 3u, 3u);
    EXPECT_TRUE(shell_.boxes.empty());

    Broadcast(1, platform::BATTERY_FLAG_CRITICAL);
    EXPECT_EQ(c.GetState() & 3u, 0u);
    EXPECT_FALSE(receiver_->running);
    ASSERT_EQ(shell_.boxes.size(), 1u);
    const auto& box = shell_.boxes[0];
    EXPECT_EQ(std::tie(box.text, box.caption, box.flags), std::make_tuple(kBatteryText, "Kestrix", 0x40030u));
    TrackerSettings stored;
    stored.Load();
    EXPECT_EQ(stored.GetUserId(), 77u);
    EXPECT_FALSE(c.StoppedByUser());
    // It comes every time the record does.
    Broadcast(1, platform::BATTERY_FLAG_CRITICAL);
    EXPECT_EQ(shell_.boxes.size(), 2u);
    // Not the user's choice: the next change of source starts the services again.
    Broadcast(0);
    EXPECT_EQ(c.GetState() & 3u, 3u);
}

// Disable against a change of power source is driven in the browser's status-page scenario;
// Exit stops everything without being the user's Disable and keeps the window for Enable.
TEST_F(TrackerControllerTest, ExitStopsEverythingAndKeepsTheWindowForEnable) {
    TrackerController& c = Ready(Doubles());
    Broadcast(1);
    ASSERT_EQ(c.GetState(), kModeTracker);
    EXPECT_TRUE(c.OnCommand(kCmdExit));
    EXPECT_EQ(c.GetState(), 0u);
    EXPECT_FALSE(c.StoppedByUser());
    EXPECT_TRUE(platform::IsWindow(c.MainWindow()));
    platform::SendMessage(c.MainWindow(), platform::WM_COMMAND, kCmdEnable, 0);
    EXPECT_EQ(c.GetState(), kModeTracker);
}

// Every item of the tray menu is a command of the window but "Show map"; other ids go to
// default processing.
TEST_F(TrackerControllerTest, TrayMenuItemsAreCommandsAndOtherIdsGoToDefaultProcessing) {
    TrackerController& c = Ready(Doubles(), 3, 3);
    for (uint32_t id : {40005u, 0u, 65535u}) EXPECT_FALSE(c.OnCommand(id)) << id;
    EXPECT_EQ(journal_.Take(), V{});
    for (const MenuItem& item : kTrayMenu) EXPECT_EQ(c.OnCommand(item.id), item.id != kCmdShowMap) << item.text;
}

// A session whose worker thread says goodbye while the UI thread waits for it to end, as
// the real session does when its connection closes.
class WorkerSession final : public ITrackerSession {
public:
    explicit WorkerSession(IStatusListener& listener) : listener_(listener) {}
    bool IsRunning() const override { return running_; }
    bool IsStopped() const override { return !running_ || stopRequested_; }
    bool Start(TrackerSettings*) override {
        running_ = true;
        stopRequested_ = false;
        listener_.OnStarted(kKindTracker);
        return true;
    }
    void Stop() override {
        if (!running_) return;
        stopRequested_ = true;
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            listener_.OnMessage("Disconnected from the server");
            listener_.OnStopped(kKindTracker);
            finished = true;
        });
        // A wait on the UI thread keeps handling the messages sent to it.
        waitedOut = test::WaitFor([&] {
            platform::MessageLoop::Current()->ProcessSentMessages();
            return finished.load();
        });
        worker.join();
        running_ = false;
    }
    void PostPosition(TrackPointRef) override {}
    bool waitedOut = false;

private:
    IStatusListener& listener_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
};

TEST_F(TrackerControllerTest, StoppingASessionThatShowsAMessageDoesNotDeadlock) {
    ControllerServices s = Doubles();
    WorkerSession* session = nullptr;
    s.makeSession = [&](IStatusListener& l) -> std::unique_ptr<ITrackerSession> {
        auto r = std::make_unique<WorkerSession>(l);
        session = r.get();
        return r;
    };
    TrackerController& c = Ready(s);
    Broadcast(1);
    ASSERT_EQ(c.GetState(), kModeTracker);
    shell_.updates.clear();
    EXPECT_TRUE(c.OnCommand(kCmdDisable));
    EXPECT_TRUE(session->waitedOut);
    EXPECT_EQ(c.GetState(), 0u);
    ASSERT_FALSE(shell_.updates.empty());
    EXPECT_NE(shell_.updates[0].n.html.find("Message: Disconnected from the server"), std::string::npos);
}

TEST_F(TrackerControllerTest, AWorkersStopReportLeavesTheReceiverToTheUiThread) {
    const V stop = {"satellites.Clear", "model.Detach", "model.Redraw", "receiver.Stop"};
    for (bool startedMeanwhile : {false, true}) {
        SCOPED_TRACE(startedMeanwhile ? "a service started meanwhile" : "still idle");
        TrackerController& c = Ready(Doubles());
        c.StartServices(kModeTracker);
        session_->stopRequested = true;  // its stop was asked for; the worker says goodbye
        journal_.Take();
        std::thread([&] { c.OnStopped(kKindTracker); }).join();
        EXPECT_EQ(c.GetState(), 0u);     // the state follows at once,
        EXPECT_EQ(ServiceCalls(), V{});  // the receiver waits for the UI thread
        if (startedMeanwhile) c.StartServices(kModeLogger);
        loop_->RunPending();
        EXPECT_EQ(ServiceCalls(), startedMeanwhile ? V{"log.Open"} : stop);
        EXPECT_EQ(receiver_->running, startedMeanwhile);
        TrackerController::Destroy();
    }
}

TEST_F(TrackerControllerTest, PowerChangesWhileStartUpAsksStartNothingBeforeItEnds) {
    ControllerServices s = Doubles();
    s.editSettings = [&](TrackerSettings& st, int) {
        Broadcast(1);  // the monitor's first poll, inside the sheet's pump
        EXPECT_EQ(ServiceCalls(), V{}) << "nothing starts on settings not yet entered";
        st.SetLogin(std::string("anna"));
        st.SetPassword(std::string("pw"));
        st.SetGpsPort(std::string("COM4:"));
        return true;
    };
    SetControllerServices(s);
    TrackerController* c = TrackerController::Instance();
    c->GetSettings().SetMode(1, kModeLogger);
    ASSERT_TRUE(c->Init(kInstance, platform::kNoWindow));
    EXPECT_EQ(c->GetState(), kModeLogger) << "the end of start-up starts the source's mode";
}

TEST_F(TrackerControllerTest, ConvertToGpxRestartsWhatRanBefore) {
    // connecting: between login attempts, the session runs without the Tracker bit
    struct Case { const char* name; uint32_t before; bool sessionAfter; bool receiverAfter; bool connecting = false; };
    const std::vector<Case> cases = {
        {"nothing ran", 0, false, false},
        {"only the tracker", kModeTracker, true, true},
        {"only the logger", kModeLogger, false, true},
        {"both", 3, true, true},
        {"tracker still connecting", 0, true, true, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        // The power-source mode would start both; it plays no part here.
        TrackerController& c = Ready(Doubles(), 3, 3);
        session_->reportsStart = !k.connecting;
        c.StartServices(k.connecting ? kModeTracker : k.before);
        ASSERT_EQ(c.GetState(), k.before);
        ASSERT_EQ(c.RunningServices(), k.connecting ? kModeTracker : k.before);
        EXPECT_TRUE(c.OnCommand(kCmdConvertToGpx));
        EXPECT_TRUE(log_->open);
        EXPECT_TRUE(c.GetState() & kModeLogger);
        EXPECT_EQ(session_->running, k.sessionAfter);
        EXPECT_EQ(receiver_->running, k.receiverAfter);
        TrackerController::Destroy();
    }
}

}  // namespace
}  // namespace kestrix
