#include "core/PowerMonitor.h"

#include "base/LittleEndian.h"
#include "core/TrackerController.h"
#include "platform/MessageLoop.h"

namespace kestrix {

namespace {

constexpr uint32_t kPollPeriodMs = 1000;
constexpr size_t kAcLineOffset = 32;
constexpr size_t kBatteryFlagOffset = 33;

bool IsAcceptedAcLineStatus(uint8_t s) {
    return s == platform::AC_LINE_OFFLINE || s == platform::AC_LINE_ONLINE || s == platform::AC_LINE_UNKNOWN;
}

// Low or critical, read from the main battery. 255 (unknown) has every bit set and says
// nothing; a battery that is charging is not about to lose the user's data.
bool IsBatteryCritical(uint8_t flag) {
    if (flag == platform::BATTERY_FLAG_UNKNOWN) return false;
    if (flag & platform::BATTERY_FLAG_CHARGING) return false;
    return (flag & (platform::BATTERY_FLAG_LOW | platform::BATTERY_FLAG_CRITICAL)) != 0;
}

}  // namespace

PowerMonitor::PowerMonitor() = default;

PowerMonitor::~PowerMonitor() { Stop(); }

bool PowerMonitor::Start(PowerListener* listener) {
    auto queue = platform::CreatePowerNotificationSource();
    if (!queue || !queue->Start()) return false;
    queue_ = std::move(queue);
    listener_ = listener;
    loop_ = platform::MessageLoop::Current();
    if (loop_) {
        // The timer goes through the singleton rather than this object so a tick that
        // arrives while the controller is being torn down finds nothing to poll.
        timerId_ = loop_->SetTimer(kPollPeriodMs, [](uint32_t) {
            if (TrackerController::Exists()) TrackerController::Instance()->GetPowerMonitor().Poll();
        });
    }
    return true;
}

bool PowerMonitor::Poll() {
    if (!queue_) return false;
    platform::PowerRecord record{};
    const size_t length = queue_->Read(record);
    if (length == 0) return false;
    if (length < 4) return true;  // too short to name its message: read and dropped
    const uint32_t message = GetU32(record.data());
    if (message == platform::PBT_POWERSTATUSCHANGE || message == platform::PBT_POWERINFOCHANGE) {
        // A status-change record need not carry a status (the power source here queues only
        // power-information records), so its AC line byte is read only when the record is
        // long enough to hold one.
        if (length > kAcLineOffset) ReportAcLineStatus(record[kAcLineOffset]);
    }
    if (message == platform::PBT_POWERINFOCHANGE && length > kBatteryFlagOffset &&
        IsBatteryCritical(record[kBatteryFlagOffset]) && listener_) {
        listener_->OnBatteryCritical();
    }
    return true;
}

void PowerMonitor::ReportAcLineStatus(uint8_t status) {
    if (!IsAcceptedAcLineStatus(status)) return;
    if (status == acLineStatus_.load()) return;
    acLineStatus_.store(status);
    if (listener_) listener_->OnPowerSourceChanged(status);
}

void PowerMonitor::Stop() {
    if (timerId_ != 0 && loop_) loop_->KillTimer(timerId_);
    timerId_ = 0;
    loop_ = nullptr;
    if (queue_) {
        queue_->Stop();
        queue_.reset();
    }
    listener_ = nullptr;
}

}  // namespace kestrix
