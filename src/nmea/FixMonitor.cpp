#include "nmea/FixMonitor.h"

#include "platform/Clock.h"
#include "platform/MessageLoop.h"

namespace kestrix {

struct FixMonitor::TimerLink {
    std::mutex mutex;
    FixMonitor* monitor = nullptr;
};

namespace {

constexpr float kKnotsToKmh = 1.852f;

double Signed(double value, char hemisphere, char negative) { return hemisphere == negative ? -value : value; }

// Beyond what anything carrying a receiver reaches: a damaged or made-up field.
constexpr double kMinAltitudeM = -1000.0;
constexpr double kMaxAltitudeM = 100000.0;
constexpr float kMaxSpeedKmh = 4000.0f;

float PlausibleAltitude(double metres) {
    return metres >= kMinAltitudeM && metres <= kMaxAltitudeM ? static_cast<float>(metres) : 0.0f;
}

float PlausibleSpeedKmh(double knots) {
    // Checked in knots first so the conversion to float cannot overflow.
    if (!(knots >= 0.0 && knots <= kMaxSpeedKmh)) return 0.0f;
    const float kmh = static_cast<float>(knots) * kKnotsToKmh;
    return kmh <= kMaxSpeedKmh ? kmh : 0.0f;
}

}  // namespace

uint64_t TimestampToFileTime(const platform::SystemTime& t) {
    uint64_t fileTime = 0;
    if (platform::SystemTimeToFileTime(t, fileTime)) return fileTime;
    return platform::DeviceClock().UtcFileTime();
}

bool IsFix(const GgaSentence& s) { return s.fixQuality == 1 && s.hasPosition; }
bool IsFix(const RmcSentence& s) { return s.status == 'A' && s.hasPosition; }
bool IsFix(const GllSentence& s) { return s.status == 'A' && s.hasPosition; }

TrackPointRef MakeTrackPoint(const GgaSentence& s) {
    return TrackPoint::Make(Signed(s.latitude, s.latHemisphere, 'S'), Signed(s.longitude, s.lonHemisphere, 'W'),
                            PlausibleAltitude(s.altitude), 0.0f, TimestampToFileTime(s.timestamp));
}

TrackPointRef MakeTrackPoint(const RmcSentence& s) {
    return TrackPoint::Make(Signed(s.latitude, s.latHemisphere, 'S'), Signed(s.longitude, s.lonHemisphere, 'W'), 0.0f,
                            PlausibleSpeedKmh(s.speedKnots), TimestampToFileTime(s.timestamp));
}

TrackPointRef MakeTrackPoint(const GllSentence& s) {
    return TrackPoint::Make(Signed(s.latitude, s.latHemisphere, 'S'), Signed(s.longitude, s.lonHemisphere, 'W'), 0.0f,
                            0.0f, TimestampToFileTime(s.timestamp));
}

int ComputeSignalLevel(const std::vector<SatelliteInfo>& satellites) {
    long long sum = 0;
    long long count = 0;
    for (const SatelliteInfo& sat : satellites) {
        if (sat.snr <= 5) continue;
        // A receiver's snr is at most 99; larger values are clamped so the term stays finite.
        const double snr = sat.snr > 1000 ? 1000.0 : static_cast<double>(sat.snr);
        sum += static_cast<long long>(snr * (snr * snr * snr * 1.6666666666666667e-5 + 1.0));
        ++count;
    }
    return count == 0 ? 0 : static_cast<int>(sum / count);
}

FixMonitor::FixMonitor(bool embedded) : RefCounted(embedded), timerLink_(std::make_shared<TimerLink>()) {
    timerLink_->monitor = this;
}

FixMonitor::~FixMonitor() {
    {
        std::lock_guard<std::mutex> lock(timerLink_->mutex);
        timerLink_->monitor = nullptr;
    }
    StopTimer();
}

GpsFixListener* FixMonitor::Listener() const { return listener_.load(std::memory_order_acquire); }

void FixMonitor::SetListener(GpsFixListener* listener) { listener_.store(listener, std::memory_order_release); }

int FixMonitor::GetSignalLevel() const { return signalLevel_.load(std::memory_order_relaxed); }

int FixMonitor::GetSatellitesUsed() const { return satellitesUsed_.load(std::memory_order_relaxed); }

TrackPointRef FixMonitor::CurrentFix() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return currentFix_;
}

void FixMonitor::OnGga(const GgaSentence& s) {
    if (IsFix(s)) {
        satellitesUsed_.store(s.satellitesUsed, std::memory_order_relaxed);
        OnFixSentence(MakeTrackPoint(s));
    } else {
        OnNoFix();
    }
}

void FixMonitor::OnRmc(const RmcSentence& s) {
    if (IsFix(s)) {
        OnFixSentence(MakeTrackPoint(s));
    } else {
        OnNoFix();
    }
}

void FixMonitor::OnGll(const GllSentence& s) {
    if (IsFix(s)) {
        OnFixSentence(MakeTrackPoint(s));
    } else {
        OnNoFix();
    }
}

void FixMonitor::OnFixSentence(TrackPointRef point) {
    TrackPointRef previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        noFixTicks_ = 0;
        previous = std::move(currentFix_);
        currentFix_ = point;
    }
    if (GpsFixListener* listener = Listener()) listener->OnFix(std::move(point));
}

void FixMonitor::OnNoFix() {
    TrackPointRef previous;
    std::lock_guard<std::mutex> lock(mutex_);
    previous = std::move(currentFix_);
}

void FixMonitor::OnGsv(const GsvSentence& s) {
    if (s.satellitesInView == 0) return;
    const uint32_t now = platform::GetTickCount();
    TalkerSet& set = talkerSets_[s.GetTalker()];
    set.satellites = s.satellites;
    set.tick = now;
    int level;
    if (talkerSets_.size() == 1) {
        level = ComputeSignalLevel(set.satellites);
    } else {
        std::vector<SatelliteInfo> all;
        for (auto it = talkerSets_.begin(); it != talkerSets_.end();) {
            if (now - it->second.tick > kTalkerSetMaxAgeMs) {
                it = talkerSets_.erase(it);
                continue;
            }
            all.insert(all.end(), it->second.satellites.begin(), it->second.satellites.end());
            ++it;
        }
        level = ComputeSignalLevel(all);
    }
    if (level != signalLevel_.load(std::memory_order_relaxed)) {
        signalLevel_.store(level, std::memory_order_relaxed);
        if (GpsFixListener* listener = Listener()) listener->OnSignalLevel(level);
    }
}

bool FixMonitor::StartTimer() {
    platform::MessageLoop* loop = platform::MessageLoop::Current();
    if (loop == nullptr) return false;
    StopTimer();
    std::shared_ptr<TimerLink> link = timerLink_;
    timerId_ = loop->SetTimer(kTimerPeriodMs, [link](uint32_t) {
        std::lock_guard<std::mutex> lock(link->mutex);
        if (link->monitor != nullptr) link->monitor->Tick();
    });
    timerLoop_ = timerId_ != 0 ? loop : nullptr;
    return timerId_ != 0;
}

void FixMonitor::StopTimer() {
    if (timerId_ == 0 || timerLoop_ == nullptr) {
        timerId_ = 0;
        return;
    }
    const uint32_t id = timerId_;
    platform::MessageLoop* loop = timerLoop_;
    timerId_ = 0;
    timerLoop_ = nullptr;
    if (loop->IsLoopThread()) {
        loop->KillTimer(id);
    } else {
        // Timers belong to their loop's thread; the link already keeps a late tick harmless.
        loop->PostTask([loop, id] { loop->KillTimer(id); });
    }
}

void FixMonitor::Tick() {
    bool lost = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (currentFix_) return;
        const uint32_t before = noFixTicks_++;
        if (before == kTicksBeforeLost - 1) {
            noFixTicks_ = 0;
            lost = true;
        }
    }
    if (lost) ReportFixLost();
}

void FixMonitor::ReportFixLost() {
    if (GpsFixListener* listener = Listener()) listener->OnFixLost();
}

}  // namespace kestrix
