#include "core/MainWindow.h"

#include "core/TrackerController.h"
#include "platform/MessageLoop.h"
#include "platform/Shell.h"
#include "resources/Resources.h"

namespace kestrix {

const RegisteredMessages& GetRegisteredMessages() {
    static const RegisteredMessages messages = [] {
        platform::RegisterWindowMessage("WM_UPDATE_SAT_VIEW");
        platform::RegisterWindowMessage("WM_LDP_NOTIFY");
        RegisteredMessages m{};
        m.changeState = platform::RegisterWindowMessage("WM_GMR_CHANGE_STATE");
        m.showHtml = platform::RegisterWindowMessage("WM_GMR_SHOW_HTML");
        m.dummy = platform::RegisterWindowMessage("WM_GMR_DUMMY");
        return m;
    }();
    return messages;
}

bool TrackerController::CreateMainWindow() {
    loop_ = platform::MessageLoop::Current();
    if (!loop_) return false;
    GetRegisteredMessages();
    if (!loop_->RegisterClass(kMainWindowClass,
                              [this](platform::WindowHandle w, uint32_t msg, platform::WParam wp, platform::LParam lp) {
                                  return MainWindowProc(w, msg, wp, lp);
                              })) {
        return false;
    }
    const platform::WindowHandle w = loop_->CreateWindow(kMainWindowClass, kMainWindowTitle);
    if (w == platform::kNoWindow) {
        loop_->UnregisterClass(kMainWindowClass);
        return false;
    }
    mainWindow_ = w;
    return true;
}

void TrackerController::DestroyMainWindow() {
    if (!loop_) return;
    const platform::WindowHandle w = mainWindow_;
    if (w != platform::kNoWindow) {
        ShowNotification(kNotifyRemove, 0, {});
        // The window's own WM_CLOSE keeps it (see MainWindowProc), so it is destroyed here.
        auto destroy = [this, w] { loop_->DestroyWindow(w); };
        if (loop_->IsLoopThread()) {
            destroy();
        } else {
            loop_->SendTask(destroy);
        }
        mainWindow_ = platform::kNoWindow;
    }
    if (instance_ != 0) {
        if (loop_->IsLoopThread()) {
            loop_->UnregisterClass(kMainWindowClass);
        } else {
            loop_->SendTask([this] { loop_->UnregisterClass(kMainWindowClass); });
        }
    }
    // The icons, bitmaps and the menu are compiled-in data: nothing to free.
    loop_ = nullptr;
}

platform::LResult TrackerController::MainWindowProc(platform::WindowHandle, uint32_t msg, platform::WParam wParam,
                                                    platform::LParam lParam) {
    const RegisteredMessages& m = GetRegisteredMessages();
    if (msg == m.changeState) {
        ShowNotification(kNotifyUpdate, CurrentIcon(), StatusHtml());
        return 0;
    }
    if (msg == m.showHtml) {
        // The sender keeps the page alive until this returns; the stored page is untouched.
        const auto* page = reinterpret_cast<const std::string*>(wParam);
        ShowNotification(kNotifyUpdate, static_cast<int>(lParam), page ? *page : std::string());
        return 0;
    }
    if (msg == m.dummy) return 0;
    if (msg == kMsgStopReceiverWhenIdle) {
        StopReceiverWhenIdle();
        return 0;
    }
    if (msg == platform::WM_COMMAND) {
        OnCommand(platform::LoWord(wParam));
        return 0;
    }
    // WM_CLOSE ("E&xit") leaves the window in place: the daemon ends only when its
    // process is told to, and the notification keeps working so "Switch ON" can start
    // the services again. Everything else needs no default processing here.
    return 0;
}

bool TrackerController::OnCommand(uint32_t id) {
    switch (id) {
        case kCmdEnable:
            StartServices(kUsePowerMode);
            return true;
        case kCmdDisable:
            StopServices(kUsePowerMode, true);
            return true;
        case kCmdExit:
            StopServices(kUsePowerMode, false);
            if (platform::WindowHandle w = mainWindow_) platform::SendMessage(w, platform::WM_CLOSE, 0, 0);
            return true;
        case kCmdSettings:
            EditSettingsAndRestart();
            return true;
        case kCmdConvertToGpx:
            ConvertToGpx();
            return true;
        case kCmdUploadTrack:
            UploadTrack();
            return true;
        case kCmdSatelliteView:
            ShowGpsStatus();
            return true;
        case kCmdEnableTracker:
            if (!(GetState() & kModeTracker)) StartServices(kModeTracker);
            return true;
        case kCmdEnableLogger:
            if (!(GetState() & kModeLogger)) StartServices(kModeLogger);
            return true;
        case kCmdDisableTracker:
            if (GetState() & kModeTracker) StopServices(kModeTracker, false);
            return true;
        case kCmdDisableLogger:
            if (GetState() & kModeLogger) StopServices(kModeLogger, false);
            return true;
        default:
            return false;  // "Show map" and unknown ids: default processing
    }
}

bool TrackerController::ShowNotification(int op, int icon, const std::string& html) {
    platform::ShellHost* host = platform::GetShellHost();
    if (!host) return false;
    if (op == kNotifyRemove) return host->NotificationRemove(kNotificationClsid, kNotificationId);

    std::string title = LoadResourceString(kStringTitle);
    if (title.empty()) title = kFallbackTitle;
    platform::Notification n;
    n.id = kNotificationId;
    n.clsid = kNotificationClsid;
    n.priority = html.empty() ? platform::SHNP_ICONIC : platform::SHNP_INFORM;
    n.durationSeconds = -1;
    n.iconId = icon;
    n.flags = kNotificationFlags;
    n.sink = mainWindow_;
    n.html = html;
    n.title = title;
    n.todaySoftKey = title;
    if (op == kNotifyAdd) return host->NotificationAdd(n);

    uint32_t mask = platform::SHNUM_SOFTKEYS;
    if (icon != 0) mask |= platform::SHNUM_ICON;
    if (!html.empty()) mask |= platform::SHNUM_HTML;
    if (!title.empty()) mask |= platform::SHNUM_TITLE;
    // A bubble the user dismissed is gone: the update fails and it is added anew.
    if (host->NotificationUpdate(mask, n)) return true;
    return host->NotificationAdd(n);
}

int TrackerController::CurrentIcon() const {
    if (instance_ == 0) return 0;
    const uint32_t state = GetState();
    const bool fix = (state & kModeFix) != 0;
    const bool tracker = (state & kModeTracker) != 0;
    const bool logger = (state & kModeLogger) != 0;
    if (tracker && logger) return fix ? kIconBothFix : kIconBothNoFix;
    if (tracker) return fix ? kIconTrackerFix : kIconTrackerNoFix;
    if (logger) return fix ? kIconLoggerFix : kIconLoggerNoFix;
    return IsSessionStopped() ? kIconDisconnected : kIconDisconnectedBusy;
}

int TrackerController::SignalBitmap() const {
    if (instance_ == 0) return 0;
    const int level = IsReceiverRunning() ? GetSignalLevel() : 0;
    const double scaled = level * 0.05 + 0.5;
    const int index = scaled < 0.0 ? 0 : scaled >= 5.0 ? 5 : static_cast<int>(scaled);
    return HasLastFix() ? kSignalBitmapsFix[static_cast<size_t>(index)] : kSignalBitmapsNoFix[static_cast<size_t>(index)];
}

}  // namespace kestrix
