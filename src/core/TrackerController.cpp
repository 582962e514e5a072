#include "core/TrackerController.h"

#include "core/MainWindow.h"
#include "core/StatusPage.h"
#include "gps/DetectGpsPort.h"
#include "platform/Log.h"
#include "platform/MessageLoop.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "resources/Resources.h"

namespace kestrix {

namespace {

constexpr uint32_t kServiceBits = kModeTracker | kModeLogger;

constexpr const char* kNoPortText =
    "Application can't automatically detect GPS port. You should select it manually...";
constexpr const char* kBatteryLowText = "The battery charge level is critically low. ";
constexpr const char* kBatteryText =
    "The battery charge level is critically low. All user data has been saved to disk.";
constexpr const char* kNoUploadText = "Uploading a track to the server is not available in this installation.";

std::mutex& CreationMutex() {
    static std::mutex m;
    return m;
}
std::atomic<TrackerController*> g_controller{nullptr};
// Set while the controller is being destroyed: it then no longer "exists" for timers and
// other late callers, yet Instance does not build a second one.
std::atomic<bool> g_destroying{false};
std::atomic<int> g_shutdownSaveError{0};

uint32_t KindBit(int kind) {
    if (kind == kKindTracker) return kModeTracker;
    if (kind == kKindLogger) return kModeLogger;
    return 0;
}

bool NonEmpty(const std::optional<std::string>& s) { return s.has_value() && !s->empty(); }

}  // namespace

// ---- singleton -----------------------------------------------------------------------

TrackerController* TrackerController::Instance() {
    if (TrackerController* c = g_controller.load()) return c;
    std::lock_guard<std::mutex> lock(CreationMutex());
    if (TrackerController* c = g_controller.load()) return c;
    try {
        // The constructor publishes the object first thing, so a part that asks for the
        // controller while it is being built gets this one instead of building another.
        return new TrackerController();
    } catch (...) {
        g_controller.store(nullptr);
        return nullptr;
    }
}

int TrackerController::ShutdownSaveError() { return g_shutdownSaveError.load(); }

bool TrackerController::Exists() { return g_controller.load() != nullptr && !g_destroying.load(); }

void TrackerController::Destroy() {
    TrackerController* c = g_controller.load();
    if (!c) return;
    g_destroying.store(true);
    delete static_cast<PowerListener*>(c);
    g_controller.store(nullptr);
    g_destroying.store(false);
}

// ---- life cycle ------------------------------------------------------------------------

TrackerController::TrackerController() : services_(GetControllerServices()) {
    g_controller.store(this);
    if (services_.makeReceiver) receiver_ = services_.makeReceiver(*this);
    if (services_.makeSession) session_ = services_.makeSession(*this);
    if (services_.makeLog) log_ = services_.makeLog(*this);
    powerMonitor_.Start(this);
    settings_.Load();
    if (services_.statusModel) statusModel_ = services_.statusModel();
    if (statusModel_ && services_.makeStatusWindow) statusModel_->SetWindowFactory(services_.makeStatusWindow);
}

TrackerController::~TrackerController() {
    Shutdown();
    log_.reset();
    session_.reset();
    receiver_.reset();
    // The settings and then the power monitor go with the members, in that order.
}

void TrackerController::Shutdown() {
    if (statusModel_) {
        if (services_.deleteStatusModel) services_.deleteStatusModel();
        statusModel_ = nullptr;
    }
    if (log_) log_->Close();
    if (session_) session_->Stop();
    if (receiver_) receiver_->Stop();
    if (services_.clearSatellites) services_.clearSatellites();
    DestroyMainWindow();
    const int saveError = SaveSettings();
    if (saveError != 0) {
        platform::LogError("the settings could not be saved at shutdown (" + platform::RegistryErrorText(saveError) +
                           "): the changes since the last save are lost");
    }
    g_shutdownSaveError = saveError;
    std::lock_guard<std::mutex> lock(mutex_);
    filter_.Reset();
}

bool TrackerController::Init(uintptr_t instance, platform::WindowHandle itemWindow) {
    if (instance == 0) return false;
    instance_ = instance;
    itemWindow_ = itemWindow;
    // The resources are compiled-in ids and images; there is nothing to load.
    if (!CreateMainWindow()) return false;

    if (!NonEmpty(settings_.GetLogin()) || !NonEmpty(settings_.GetPasswordHash())) EditSettings(kPageAccount);

    if (!NonEmpty(settings_.GetGpsPort())) {
        std::string name;
        if (services_.detectGpsPort && services_.detectGpsPort(kDetectMaxPort, name) && !name.empty()) {
            settings_.SetGpsPort(name);
            SaveSettings();
        } else {
            platform::MessageBox(platform::kNoWindow, kNoPortText, "Attention", kWarningBoxFlags);
            EditSettings(kPageGps);
        }
    }

    ShowNotification(kNotifyAdd, CurrentIcon(), StatusHtml());
    started_ = true;
    if (NonEmpty(settings_.GetLogin()) && NonEmpty(settings_.GetPasswordHash()) &&
        NonEmpty(settings_.GetGpsPort())) {
        StartServices(kUsePowerMode);
    }
    UpdateStatus();
    return true;
}

void TrackerController::EditSettings(int startPage) {
    // The sheet saves nothing itself; the record is saved whether it was shown or not.
    if (services_.editSettings) services_.editSettings(settings_, startPage);
    SaveSettings();
}

// ---- services --------------------------------------------------------------------------

void TrackerController::StartServices(uint32_t bits) {
    stoppedByUser_ = false;
    if (bits & kUsePowerMode) bits = settings_.GetMode(powerMonitor_.GetAcLineStatus());
    if ((bits & kServiceBits) == 0) return;
    // A service missing from this build is never running; the receiver is started only
    // for a service that exists, or nothing would ever stop it again.
    bool serviceExists = false;
    if ((bits & kModeTracker) && session_) {
        serviceExists = true;
        if (!session_->IsRunning()) session_->Start(&settings_);
    }
    if ((bits & kModeLogger) && log_) {
        serviceExists = true;
        if (!log_->IsOpen()) log_->Open(&settings_);
    }
    if (!serviceExists || !receiver_ || receiver_->IsRunning()) return;
    if (receiver_->Start(&settings_) && statusModel_) statusModel_->Attach(receiver_.get());
}

void TrackerController::StopServices(uint32_t bits, bool byUser) {
    if (bits & kUsePowerMode) {
        bits = kServiceBits;
        stoppedByUser_ = byUser;
    }
    if ((bits & kModeLogger) && log_) log_->Close();
    if (bits & kModeTracker) {
        if (session_) session_->Stop();
        // The session has updated userId and lastTrackPoint.
        SaveSettings();
    }
}

uint32_t TrackerController::GetState() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

bool TrackerController::IsReceiverRunning() const { return receiver_ && receiver_->IsRunning(); }
bool TrackerController::IsSessionRunning() const { return session_ && session_->IsRunning(); }
bool TrackerController::IsSessionStopped() const { return !session_ || session_->IsStopped(); }
bool TrackerController::StoppedByUser() const { return stoppedByUser_; }
int TrackerController::GetSignalLevel() const { return receiver_ ? receiver_->GetSignalLevel() : 0; }

TrackPointRef TrackerController::LastPosition() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastPosition_;
}

int TrackerController::GetSatellitesUsed() const { return receiver_ ? receiver_->GetSatellitesUsed() : 0; }

bool TrackerController::HasLastFix() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return filter_.HasLast();
}

std::string TrackerController::StatusHtml() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statusHtml_;
}

std::string TrackerController::BuildPage(const std::string* message) const {
    uint32_t state = 0;
    bool hasLastFix = false;
    std::string line = message ? *message : std::string();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state = state_;
        hasLastFix = filter_.HasLast();
        for (const std::string& problem : problems_) {
            if (!problem.empty()) line += (line.empty() ? "" : " ") + problem;
        }
    }
    std::string page;
    BuildStatusPage(state, hasLastFix, line.empty() ? nullptr : &line, page);
    return page;
}

int TrackerController::SaveSettings() {
    const int error = settings_.Save();
    SetProblem(kProblemSettings,
               error == 0 ? std::string() : "Can not save the settings: " + platform::RegistryErrorText(error) + ".");
    return error;
}

void TrackerController::SetProblem(size_t slot, const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (problems_[slot] == text) return;
        problems_[slot] = text;
    }
    UpdateStatus();
}

void TrackerController::UpdateStatus() {
    std::string page = BuildPage(nullptr);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        statusHtml_ = std::move(page);
    }
    if (platform::WindowHandle w = mainWindow_) {
        platform::PostMessage(w, GetRegisteredMessages().changeState, 0, 0);
    }
    if (platform::WindowHandle item = itemWindow_) platform::InvalidateWindow(item);
}

void TrackerController::ShowMessage(const std::string& text) {
    // A daemon nobody watches keeps the reason in its log (a login refused, a server away).
    platform::LogInfo("message: " + text);
    std::string page = BuildPage(&text);
    // Sent, not posted: the page lives on this stack until the UI thread has shown it. No
    // lock is held here, so the UI thread can never be waiting for this thread.
    if (platform::WindowHandle w = mainWindow_) {
        platform::SendMessage(w, GetRegisteredMessages().showHtml, reinterpret_cast<platform::WParam>(&page),
                              static_cast<platform::LParam>(CurrentIcon()));
    }
}

bool TrackerController::ShowGpsStatus() {
    if (instance_ == 0 || !statusModel_) return false;
    if (receiver_) statusModel_->Attach(receiver_.get());
    // A window that cannot be made is a failure, not a shown view.
    return statusModel_->ShowStatusWindow(instance_) == 0;
}

void TrackerController::EditSettingsAndRestart() {
    if (instance_ == 0) return;
    EditSettings(kPageMode);
    StopServices(kUsePowerMode, false);
    StartServices(kUsePowerMode);
}

uint32_t TrackerController::RunningServices() const {
    uint32_t bits = GetState() & (kModeTracker | kModeLogger);
    if (session_ && session_->IsRunning() && !session_->IsStopped()) bits |= kModeTracker;
    return bits;
}

bool TrackerController::ConvertToGpx() {
    // The loop turns while the log converts: a second request meanwhile is dropped.
    if (converting_) return false;
    converting_ = true;
    // A session that is still connecting has not set its bit yet; it ran all the same.
    const uint32_t before = RunningServices();
    StopServices(kUsePowerMode, false);
    // The export reopens the log for appending, whatever ran before.
    const bool result = log_ && log_->ExportGpx();
    StartServices(before);
    UpdateStatus();
    converting_ = false;
    return result;
}

bool TrackerController::UploadTrack() {
    if (services_.uploadTrack) return services_.uploadTrack(*this);
    platform::MessageBox(platform::kNoWindow, kNoUploadText, "Kestrix", platform::MB_ICONINFORMATION | platform::MB_TOPMOST);
    return false;
}

// ---- listeners -------------------------------------------------------------------------

void TrackerController::OnSignalLevel(int) {
    if (platform::WindowHandle item = itemWindow_) platform::InvalidateWindow(item);
}

void TrackerController::OnFixLost() {
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ & kModeFix) {
            state_ &= ~kModeFix;
            filter_.Reset();
            changed = true;
        }
    }
    if (changed) UpdateStatus();
}

void TrackerController::OnFix(TrackPointRef point) {
    if (!point) return;
    const uint32_t now = platform::GetTickCount();
    FixFilter::Result result;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        result = filter_.Offer(*point, now);
        if (result == FixFilter::Result::First) state_ |= kModeFix;
        if (result != FixFilter::Result::Dropped) lastPosition_ = point;
    }
    if (result == FixFilter::Result::Dropped) return;
    if (services_.positionChanged) services_.positionChanged();
    DispatchFix(std::move(point));
    if (result == FixFilter::Result::First) {
        if (mainWindow_ != platform::kNoWindow) UpdateStatus();
        if (platform::WindowHandle item = itemWindow_) platform::InvalidateWindow(item);
    }
}

void TrackerController::DispatchFix(TrackPointRef point) {
    const uint32_t mode = settings_.GetMode(powerMonitor_.GetAcLineStatus());
    // The configured mode decides, not whether the session runs: a stopped session keeps
    // the point in its offline store.
    if ((mode & kModeTracker) && session_) session_->PostPosition(point);
    if (log_ && log_->IsOpen()) log_->Write(point);
}

void TrackerController::OnStarted(int kind) {
    const uint32_t bit = KindBit(kind);
    if (bit == 0) return;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!(state_ & bit)) {
            state_ |= bit;
            changed = true;
        }
    }
    if (changed) UpdateStatus();
}

void TrackerController::OnStopped(int kind) {
    const uint32_t bit = KindBit(kind);
    if (bit == 0) return;
    bool changed = false;
    bool idle = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ & bit) {
            state_ &= ~bit;
            changed = true;
        }
        idle = (state_ & kServiceBits) == 0;
    }
    if (changed) UpdateStatus();
    if (!idle) return;
    // The receiver is started and stopped on the UI thread only: a worker's report is
    // posted there (after the page update it may have posted, so the order holds) and the
    // condition is checked again when it arrives, since a service may have started since.
    // Before Init there is no main window and no UI loop to keep order with.
    const platform::WindowHandle w = mainWindow_;
    if (w != platform::kNoWindow && platform::MessageLoop::OwnerOf(w) != platform::MessageLoop::Current()) {
        platform::PostMessage(w, kMsgStopReceiverWhenIdle, 0, 0);
        return;
    }
    StopReceiverWhenIdle();
}

void TrackerController::StopReceiverWhenIdle() {
    if ((GetState() & kServiceBits) != 0 || !IsReceiverRunning() || !IsSessionStopped()) return;
    if (services_.clearSatellites) services_.clearSatellites();
    if (statusModel_) {
        statusModel_->Detach();
        statusModel_->RequestRedraw();
    }
    receiver_->Stop();
}

void TrackerController::OnMessage(const std::string& text) { ShowMessage(text); }

void TrackerController::OnProblem(int kind, const std::string& text) {
    if (kind == kKindTracker || kind == kKindLogger) SetProblem(static_cast<size_t>(kind), text);
}

void TrackerController::OnPowerSourceChanged(uint8_t) {
    // The monitor's first poll may come while start-up still asks for the account or the
    // port (its sheet pumps the loop): the end of Init starts the services with the source
    // known by then, and nothing must run on settings not yet entered.
    if (stoppedByUser_ || !started_) return;
    // The monitor has stored the new status already; StartServices reads it there.
    StopServices(kUsePowerMode, false);
    StartServices(kUsePowerMode);
}

void TrackerController::OnBatteryCritical() {
    StopServices(kUsePowerMode, false);
    std::string text = kBatteryText;
    {
        // Never claim a save that failed.
        std::lock_guard<std::mutex> lock(mutex_);
        if (!problems_[kProblemSettings].empty()) text = kBatteryLowText + problems_[kProblemSettings];
    }
    platform::MessageBox(platform::kNoWindow, text, "Kestrix", kWarningBoxFlags);
}

}  // namespace kestrix
