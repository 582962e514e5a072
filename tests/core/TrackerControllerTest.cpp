#include "core/TrackerController.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
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
constexpr const char* kNoPortText = "Application can't automatically detect GPS port. You should select it manually...";

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

TEST_F(TrackerControllerTest, PowerBroadcastsChooseTheServices) {
    struct Step {
        const char* name;
        uint8_t ac;
        V calls;
        uint32_t state;
    };
    const std::vector<Step> steps = {
        {"external power: tracker", 1, {"log.Close", "session.Stop", "session.Start", "receiver.Start", "model.Attach"},
         kModeTracker},
        {"same status again", 1, {}, kModeTracker},
        {"backup power ignored", 2, {}, kModeTracker},
        {"battery: logger", 0, {"log.Close", "session.Stop", "satellites.Clear", "model.Detach", "model.Redraw",
                                "receiver.Stop", "log.Open", "receiver.Start", "model.Attach"}, kModeLogger},
    };
    TrackerController& c = Ready(Doubles());
    EXPECT_EQ(c.GetState(), 0u);  // status unknown at start: nothing runs yet
    EXPECT_FALSE(receiver_->running);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        Broadcast(s.ac);
        EXPECT_EQ(ServiceCalls(), s.calls);
        EXPECT_EQ(c.GetState() & (kModeTracker | kModeLogger), s.state);
    }
}

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

TEST_F(TrackerControllerTest, SingleServiceCommandsActOnlyFromTheOppositeState) {
    struct Case {
        const char* name;
        uint32_t running;  // services started before the command
        uint32_t command;
        V calls;
        uint32_t stateAfter;
        bool sessionStopping = false;  // the session still runs but its stop was asked for
    };
    const V stops = {"satellites.Clear", "model.Detach", "model.Redraw", "receiver.Stop"};
    const std::vector<Case> cases = {
        {"enable tracker when off", 0, kCmdEnableTracker, {"session.Start", "receiver.Start", "model.Attach"}, kModeTracker},
        {"enable tracker when on", kModeTracker, kCmdEnableTracker, {}, kModeTracker},
        {"enable logger when off", kModeTracker, kCmdEnableLogger, {"log.Open"}, 3},
        {"enable logger when on", kModeLogger, kCmdEnableLogger, {}, kModeLogger},
        {"disable tracker when on", 3, kCmdDisableTracker, {"session.Stop"}, kModeLogger},
        {"disable tracker when off", kModeLogger, kCmdDisableTracker, {}, kModeLogger},
        {"disable logger when on", kModeLogger, kCmdDisableLogger,
         {"log.Close", stops[0], stops[1], stops[2], stops[3]}, 0},
        {"disable logger when off", kModeTracker, kCmdDisableLogger, {}, kModeTracker},
        {"a stopping session does not keep the receiver", kModeLogger, kCmdDisableLogger,
         {"log.Close", stops[0], stops[1], stops[2], stops[3]}, 0, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TrackerController& c = Ready(Doubles());
        if (k.running) c.StartServices(k.running);
        if (k.sessionStopping) session_->running = session_->stopRequested = true;
        journal_.Take();
        // Through the main window, as the notification's buttons send it.
        platform::SendMessage(c.MainWindow(), platform::WM_COMMAND, k.command, 0);
        EXPECT_EQ(journal_.Take(), k.calls);
        EXPECT_EQ(c.GetState(), k.stateAfter);
        EXPECT_EQ(receiver_->running, k.stateAfter != 0);  // it stops only when nothing needs it
        TrackerController::Destroy();
    }
}

// Every item of the tray menu is a command of the window but "Show map"; other ids go to
// default processing.
TEST_F(TrackerControllerTest, TrayMenuItemsAreCommandsAndOtherIdsGoToDefaultProcessing) {
    TrackerController& c = Ready(Doubles(), 3, 3);
    for (uint32_t id : {40005u, 0u, 65535u}) EXPECT_FALSE(c.OnCommand(id)) << id;
    EXPECT_EQ(journal_.Take(), V{});
    for (const MenuItem& item : kTrayMenu) EXPECT_EQ(c.OnCommand(item.id), item.id != kCmdShowMap) << item.text;
}

TEST_F(TrackerControllerTest, IconFollowsTheRunningServicesAndTheFix) {
    struct Case {
        uint32_t services;
        bool fix;
        bool sessionConnecting;
        int icon;
    };
    const std::vector<Case> cases = {
        {3, true, false, 111}, {3, false, false, 113}, {kModeTracker, true, false, 101},
        {kModeTracker, false, false, 114}, {kModeLogger, true, false, 110}, {kModeLogger, false, false, 115},
        {0, false, false, 104}, {0, true, false, 104}, {0, false, true, 136},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.services) + (k.fix ? " fix" : "") + (k.sessionConnecting ? " connecting" : ""));
        TrackerController& c = Ready(Doubles());
        session_->reportsStart = !k.sessionConnecting;
        if (k.services || k.sessionConnecting) c.StartServices(k.sessionConnecting ? kModeTracker : k.services);
        if (k.fix) c.OnFix(TrackPoint::Make(48.0, 11.0, 0.0f, 0.0f, 1));
        EXPECT_EQ(c.CurrentIcon(), k.icon);
        TrackerController::Destroy();
    }
}

TEST_F(TrackerControllerTest, GaugeBitmapFollowsTheSignalLevelAndTheFix) {
    struct Case {
        int level;
        int withFix;
        int withoutFix;
    };
    const std::vector<Case> cases = {
        {-7, 117, 119}, {0, 117, 119},  {9, 117, 119},  {10, 120, 121}, {29, 120, 121}, {30, 122, 123},
        {50, 124, 125}, {70, 126, 127}, {89, 126, 127}, {90, 128, 130}, {1000000000, 128, 130},
    };
    TrackerController& c = Ready(Doubles());
    receiver_->level = 90;
    EXPECT_EQ(c.SignalBitmap(), 119);  // a receiver that does not run has no signal
    c.StartServices(kModeLogger);
    ASSERT_TRUE(receiver_->running);
    for (const Case& k : cases) {
        receiver_->level = k.level;
        EXPECT_EQ(c.SignalBitmap(), k.withoutFix) << k.level;
        c.OnFix(TrackPoint::Make(48.0, 11.0, 0.0f, 0.0f, 1));
        EXPECT_EQ(c.SignalBitmap(), k.withFix) << k.level;
        c.OnFixLost();
    }
}

// Its return after a dismiss is driven in the browser's status-page scenario.
TEST_F(TrackerControllerTest, NotificationIsAddedThenUpdatedWithTheStoredPage) {
    TrackerController& c = Ready(Doubles());
    ASSERT_EQ(shell_.adds.size(), 1u);
    const platform::Notification& added = shell_.adds[0];
    // The page is still empty at Init: iconic.
    EXPECT_EQ(std::tie(added.id, added.clsid, added.priority, added.durationSeconds, added.flags, added.sink, added.title,
                       added.todaySoftKey, added.html, added.iconId),
              std::make_tuple(137u, "{881AB316-7C25-4963-B383-FF47D02D035E}", platform::SHNP_ICONIC, -1, 0x21u,
                              c.MainWindow(), "Kestrix", "Kestrix", "", 104));
    // Init's UpdateStatus arrived as an update carrying the stored page.
    ASSERT_EQ(shell_.updates.size(), 1u);
    EXPECT_EQ(shell_.updates[0].mask, 0x20u | 0x04u | 0x08u | 0x10u);
    EXPECT_EQ(shell_.updates[0].n.html, c.StatusHtml());
    EXPECT_EQ(shell_.updates[0].n.priority, platform::SHNP_INFORM);
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

// The person who gives both in the sheet is the browser's first start.
TEST_F(TrackerControllerTest, InitAsksForWhatIsMissing) {
    struct Case {
        const char* name;
        bool sheetExists;
        const char* accountEntered;  // typed on the Account page, nullptr: nothing
        const char* portDetected;    // found by detection, nullptr: none
        std::vector<int> pages;
        size_t boxes;
        bool started;
    };
    const std::vector<Case> cases = {
        {"nothing can ask", false, nullptr, nullptr, {}, 1, false},
        {"person gives account, port detected", true, "anna", "COM2:", {3}, 0, true},
        {"person gives nothing", true, nullptr, nullptr, {3, 1}, 1, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ControllerServices s = Doubles();
        std::vector<int> pages;
        if (k.sheetExists) {
            s.editSettings = [&](TrackerSettings& st, int page) {
                pages.push_back(page);
                if (page == 3 && k.accountEntered) {
                    st.SetLogin(std::string(k.accountEntered));
                    st.SetPassword(std::string("pw"));
                }
                return true;
            };
        }
        if (k.portDetected) {
            s.detectGpsPort = [&](int maxPort, std::string& name) {
                EXPECT_EQ(maxPort, 10);
                name = k.portDetected;
                return true;
            };
        }
        SetControllerServices(s);
        shell_.boxes.clear();
        shell_.adds.clear();
        TrackerController* c = TrackerController::Instance();
        // The source is known before Init here, so what Init starts can be seen.
        c->GetSettings().SetMode(0, 0);
        Broadcast(0);
        c->GetSettings().SetMode(0, kModeLogger);
        ASSERT_TRUE(c->Init(kInstance, platform::kNoWindow));
        EXPECT_EQ(pages, k.pages);
        ASSERT_EQ(shell_.boxes.size(), k.boxes);
        if (k.boxes) {
            const auto& box = shell_.boxes[0];
            EXPECT_EQ(std::tie(box.text, box.caption, box.flags), std::make_tuple(kNoPortText, "Attention", 0x40030u));
        }
        EXPECT_EQ(shell_.adds.size(), 1u);  // start-up finished: the notification is there
        // Saved even when nobody could be asked.
        EXPECT_NE(test::ReadFile(dir_.File("registry.reg")).find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Geomira\\GmrLogger]"),
                  std::string::npos);
        // What the person entered or detection found is on disk.
        TrackerSettings stored;
        stored.Load();
        EXPECT_EQ(stored.GetGpsPort().value_or(""), k.portDetected ? k.portDetected : "");
        EXPECT_EQ(stored.GetLogin().value_or(""), k.accountEntered ? k.accountEntered : "");
        EXPECT_EQ(c->GetState() == kModeLogger, k.started);
        TrackerController::Destroy();
        std::remove(dir_.File("registry.reg").c_str());
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
    struct Case {
        const char* name;
        uint32_t before;
        bool sessionAfter;
        bool receiverAfter;
        bool connecting = false;  // between login attempts: the session runs without the Tracker bit
    };
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

TEST_F(TrackerControllerTest, FixesAreFilteredAndHandedToTheConfiguredServices) {
    TrackerController& c = Ready(Doubles(), kModeLogger, kModeTracker | kModeLogger);
    Broadcast(1);
    ASSERT_EQ(c.GetState(), 3u);
    shell_.updates.clear();
    auto first = TrackPoint::Make(48.0, 11.0, 500.0f, 0.0f, 133'000'000'000'000'000ULL);
    c.OnFix(first);
    EXPECT_TRUE(c.GetState() & kModeFix);
    EXPECT_TRUE(c.HasLastFix());
    loop_->RunPending();
    ASSERT_EQ(shell_.updates.size(), 1u);  // the first fix rebuilds the page
    EXPECT_NE(shell_.updates[0].n.html.find("GPS position fixed"), std::string::npos);
    EXPECT_EQ(shell_.updates[0].n.iconId, 111);

    clock_.Advance(1000);
    c.OnFix(TrackPoint::Make(48.0, 11.0, 500.0f, 0.0f, 133'000'000'010'000'000ULL));  // same place: dropped
    clock_.Advance(5000);
    auto third = TrackPoint::Make(48.0, 11.0, 500.0f, 0.0f, 133'000'000'060'000'000ULL);
    c.OnFix(third);  // 6000 ms later: accepted, without a page rebuild
    loop_->RunPending();
    EXPECT_EQ(shell_.updates.size(), 1u);
    ASSERT_EQ(session_->posted.size(), 2u);
    ASSERT_EQ(log_->written.size(), 2u);
    EXPECT_EQ(session_->posted[1].Get(), third.Get());
    // Held by: the test, the session, the log, the filter's last fix and the position the
    // page's map shows (which a fix loss leaves in place).
    EXPECT_EQ(third->RefCount(), 5u);
    c.OnFixLost();
    EXPECT_EQ(c.LastPosition().Get(), third.Get());
    EXPECT_FALSE(c.HasLastFix());
    EXPECT_EQ(first->RefCount(), 3u);

    // On battery the mode is Logger only: the session gets nothing, even while running.
    Broadcast(0);
    c.StartServices(kModeTracker);
    ASSERT_TRUE(session_->running);
    clock_.Advance(6000);
    c.OnFix(TrackPoint::Make(48.001, 11.0, 500.0f, 0.0f, 133'000'000'120'000'000ULL));
    EXPECT_EQ(session_->posted.size(), 2u);
    EXPECT_EQ(log_->written.size(), 3u);

    c.OnFixLost();
    EXPECT_FALSE(c.GetState() & kModeFix);
    EXPECT_FALSE(c.HasLastFix());
    EXPECT_NE(c.StatusHtml().find("GPS fix was lost..."), std::string::npos);
}

// On a full disk (a tmpfs of the test's own): the workers' lasting problems and settings
// that cannot be saved stay on the page's message line until over, a save that changes
// nothing still succeeds, the battery warning claims no save that failed, and the
// shutdown's failed save is kept for the shell's exit status.
TEST_F(TrackerControllerTest, WriteProblemsStayOnThePageUntilTheyAreOver) {
    test::SmallDisk disk;
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs (root is needed): the full-disk case did not run";
    ASSERT_TRUE(platform::ConfigureRegistry(disk.File("registry.reg")));
    TrackerController& c = Ready(Doubles(), 3, 3);
    Broadcast(1);
    ASSERT_TRUE(disk.Fill());
    log_->listener_.OnProblem(kKindLogger, "Log trouble.");
    session_->listener_.OnProblem(kKindTracker, "Store trouble.");
    Broadcast(0);
    EXPECT_NE(c.StatusHtml().find("Message: Store trouble. Log trouble.</font>"), std::string::npos);
    c.GetSettings().SetUserId(77);
    shell_.boxes.clear();
    Broadcast(0, platform::BATTERY_FLAG_CRITICAL);
    const std::string notSaved = "Can not save the settings: No space left on device.";
    ASSERT_EQ(shell_.boxes.size(), 1u);
    EXPECT_EQ(shell_.boxes[0].text, "The battery charge level is critically low. " + notSaved);
    log_->listener_.OnProblem(kKindLogger, "");
    session_->listener_.OnProblem(kKindTracker, "");
    EXPECT_NE(c.StatusHtml().find("Message: " + notSaved + "</font>"), std::string::npos);
    TrackerController::Destroy();
    EXPECT_EQ(TrackerController::ShutdownSaveError(), ENOSPC);
}

TEST_F(TrackerControllerTest, ShutdownRunsInOrder) {
    TrackerController& c = Ready(Doubles(), 3, 3);
    Broadcast(1);
    c.GetSettings().SetUserId(42);
    journal_.Take();
    TrackerController::Destroy();
    EXPECT_FALSE(TrackerController::Exists());
    EXPECT_EQ(journal_.Take(),
              (V{"model.Delete", "log.Close", "session.Stop",
                 // the session's stop leaves nothing running: the receiver goes with it
                 "satellites.Clear", "receiver.Stop",
                 // and shutdown makes sure of it
                 "receiver.Stop", "satellites.Clear",
                 "shell.Remove {881AB316-7C25-4963-B383-FF47D02D035E} 137"}));
    TrackerSettings stored;
    stored.Load();
    EXPECT_EQ(stored.GetUserId(), 42u);
    (void)c;
}

}  // namespace
}  // namespace kestrix
