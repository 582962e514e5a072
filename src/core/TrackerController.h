// TrackerController: the one object that ties the system together. It owns the settings,
// the power monitor, the GPS receiver, the tracker session and the track log; decides
// which services run for the power source; filters fixes (5.0 m or more than 5000 ms
// apart) and hands accepted ones to the services; publishes its state as the HTML status
// page through the hidden main window "GMR Tracker", which also takes the user's commands.
//
// Threads:
//   UI thread (the MessageLoop that called Instance): Init, commands, Start/StopServices,
//     power events, OnFixLost (fix monitor timer), the main window.
//   reader thread: OnFix, OnSignalLevel.
//   session thread: OnStarted/OnStopped(kind 0), OnMessage. The receiver is started and
//     stopped on the UI thread only: when OnStopped leaves nothing running, a call from
//     another thread posts the receiver's stop to the main window, which checks again.
// A worker's lasting problem (a file that cannot be written) and a failed save of the
// settings stay on the page's message line until they are over; a shutdown that cannot
// save the settings says so in the log and in ShutdownSaveError.
// The state bits, the last fix and the stored page are guarded by one mutex that is never
// held while calling out, so ShowMessage (which waits for the UI thread) never waits on a
// lock the UI thread holds.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/Listeners.h"
#include "base/ServiceInterfaces.h"
#include "core/ControllerServices.h"
#include "core/FixFilter.h"
#include "core/PowerMonitor.h"
#include "platform/MessageLoop.h"
#include "platform/Types.h"
#include "settings/TrackerSettings.h"

namespace kestrix {

class TrackerController final : public GpsFixListener, public IStatusListener, public PowerListener {
public:
    // The singleton, created on first call (with the services installed at that time).
    static TrackerController* Instance();
    static bool Exists();
    static void Destroy();
    // The error of the settings' save at the last shutdown (0: saved, or nothing to save),
    // for the shell's exit status.
    static int ShutdownSaveError();

    ~TrackerController() override;

    // instance: an opaque module handle (non-zero once the resources are loaded);
    // itemWindow: the Today item's window or kNoWindow.
    bool Init(uintptr_t instance, platform::WindowHandle itemWindow);

    void StartServices(uint32_t bits);
    void StopServices(uint32_t bits, bool byUser);
    uint32_t GetState() const;
    // The services that run or are starting: the Tracker and Logger state bits, plus
    // Tracker while the session runs but has not logged in yet (it is connecting or
    // waiting to retry). What "Convert to GPX" and the upload restart afterwards.
    uint32_t RunningServices() const;
    bool IsReceiverRunning() const;
    bool IsSessionRunning() const;
    bool IsSessionStopped() const;
    bool StoppedByUser() const;
    TrackerSettings& GetSettings() { return settings_; }
    uintptr_t GetInstance() const { return instance_; }
    platform::WindowHandle MainWindow() const { return mainWindow_; }
    int GetSignalLevel() const;
    bool HasLastFix() const;
    // The receiver's last fix as the filter accepted it (a speed filled in: what the log
    // and the session get), kept after the fix is lost; null before the first. Any thread.
    TrackPointRef LastPosition() const;
    // Satellites used in the receiver's last fix (0 while it does not run).
    int GetSatellitesUsed() const;
    uint8_t GetAcLineStatus() const { return powerMonitor_.GetAcLineStatus(); }

    void UpdateStatus();
    // The state icon's resource id for the current state (0 before Init).
    int CurrentIcon() const;
    // The gauge's bitmap resource id for the receiver's signal level (fix-held row when a
    // last fix is held); 0 before Init.
    int SignalBitmap() const;
    // The last page built by UpdateStatus.
    std::string StatusHtml() const;
    bool ShowGpsStatus();
    void EditSettingsAndRestart();
    bool ConvertToGpx();
    bool UploadTrack();
    // Handles a WM_COMMAND id on the UI thread; false for ids that go to default processing.
    bool OnCommand(uint32_t id);
    PowerMonitor& GetPowerMonitor() { return powerMonitor_; }

    // GpsFixListener
    void OnSignalLevel(int level) override;
    void OnFixLost() override;
    void OnFix(TrackPointRef point) override;
    // IStatusListener
    void OnStarted(int kind) override;
    void OnStopped(int kind) override;
    void OnMessage(const std::string& text) override;
    // Shown on every page built (after a message) until the worker reports "".
    void OnProblem(int kind, const std::string& text) override;
    // PowerListener
    void OnPowerSourceChanged(uint8_t acLineStatus) override;
    void OnBatteryCritical() override;

private:
    TrackerController();
    void DispatchFix(TrackPointRef point);
    // With no service left and the session stopped: clears the satellites, detaches the
    // status model and stops the receiver. UI thread.
    void StopReceiverWhenIdle();
    void ShowMessage(const std::string& text);
    // Saves the settings; a failure stays on the page until a save succeeds. The error.
    int SaveSettings();
    // Sets the lasting problem in slot (kProblem...), "" when over; rebuilds the page.
    void SetProblem(size_t slot, const std::string& text);
    bool CreateMainWindow();
    void DestroyMainWindow();
    platform::LResult MainWindowProc(platform::WindowHandle, uint32_t msg, platform::WParam, platform::LParam);
    bool ShowNotification(int op, int icon, const std::string& html);
    void Shutdown();
    // The settings sheet at a page, then the settings are saved whatever happened.
    void EditSettings(int startPage);
    // The page for the current state, built from one consistent snapshot.
    std::string BuildPage(const std::string* message) const;

    const ControllerServices services_;  // copied when the controller is created
    mutable std::mutex mutex_;           // guards state_, filter_, statusHtml_, problems_
    std::atomic<platform::WindowHandle> mainWindow_{platform::kNoWindow};
    std::atomic<bool> stoppedByUser_{false};
    uint32_t state_ = 0;
    PowerMonitor powerMonitor_;
    TrackerSettings settings_;
    std::atomic<platform::WindowHandle> itemWindow_{platform::kNoWindow};
    uintptr_t instance_ = 0;
    bool started_ = false;  // Init has asked for what was missing (UI thread)
    bool converting_ = false;  // ConvertToGpx runs (UI thread)
    std::string statusHtml_;
    // Lasting problems shown as the page's message line: the offline store's, the track
    // log's and the settings' (by kind, then kProblemSettings).
    static constexpr size_t kProblemSettings = 2;
    std::string problems_[3];
    FixFilter filter_;  // the last accepted fix and when it was accepted
    TrackPointRef lastPosition_;  // the last accepted fix, kept after a fix loss
    std::unique_ptr<IGpsReceiver> receiver_;
    IGpsStatusModel* statusModel_ = nullptr;
    std::unique_ptr<ITrackerSession> session_;
    std::unique_ptr<ITrackLog> log_;
    platform::MessageLoop* loop_ = nullptr;  // the loop that owns the main window
};

}  // namespace kestrix
