// FixMonitor: the GPS state. Decides from each decoded GGA, RMC and GLL whether there is a
// position fix, turns each fix into a TrackPoint for the listener, reports the fix as lost
// about four seconds after it was dropped (and every four seconds after that while there
// is none), and reduces each complete GSV set to one signal-level figure.
//
// Threads: OnGga/OnRmc/OnGll/OnGsv run on the reader thread and call the listener's
// OnFix and OnSignalLevel there. StartTimer, StopTimer and the destructor run on one
// thread with a platform::MessageLoop (the UI thread); Tick runs there every 1000 ms
// of device-clock time and calls OnFixLost there. The fix and the tick count are
// guarded by a mutex shared by both threads; listener calls are made outside it.
//
// Signal level: each complete GSV set with satellites in view updates its talker's
// satellites; the level is computed over the sets of every talker heard in the last
// kTalkerSetMaxAgeMs, so a GPS-only receiver gives exactly its set's level.
//
// Fix rules: GGA with fix quality exactly 1 (2, a differential fix, is not a fix), RMC or
// GLL with status 'A', and in each case a position (the sentence's hasPosition: a
// receiver still acquiring may say "valid" over empty or broken coordinates). A sentence
// of these types without a fix drops the current fix.
// Points: signed degrees (S and W negative), GGA altitude in metres, RMC speed in km/h
// (knots x 1.852), time from the sentence's timestamp (the device clock's time when the
// timestamp is not a valid calendar time, so a point never has an undefined time). An
// altitude outside -1 km to 100 km, or a speed that is negative or over 4000 km/h, is
// no reading: the point has 0 ("not known") instead.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Listeners.h"
#include "base/RefCounted.h"
#include "base/TrackPoint.h"
#include "nmea/Sentences.h"

namespace kestrix {

namespace platform {
class MessageLoop;
}

// Whether a decoded sentence is a fix (the rules above).
bool IsFix(const GgaSentence& s);
bool IsFix(const RmcSentence& s);
bool IsFix(const GllSentence& s);
// TrackPoints built from decoded sentences (the rules above).
TrackPointRef MakeTrackPoint(const GgaSentence& s);
TrackPointRef MakeTrackPoint(const RmcSentence& s);
TrackPointRef MakeTrackPoint(const GllSentence& s);
// The sentence's timestamp as FILETIME, or the device clock's time when it is not valid.
uint64_t TimestampToFileTime(const platform::SystemTime& t);
// The signal level of a set of satellites: mean of snr + snr^4/60000 over those with
// snr > 5 (each term truncated), 0 when there is none.
int ComputeSignalLevel(const std::vector<SatelliteInfo>& satellites);

class FixMonitor : public RefCounted {
public:
    static constexpr uint32_t kTimerPeriodMs = 1000;
    static constexpr uint32_t kTicksBeforeLost = 4;
    static constexpr uint32_t kTalkerSetMaxAgeMs = 5000;

    // embedded: the monitor is a member of another object; AddRef/Release do nothing.
    explicit FixMonitor(bool embedded = false);
    ~FixMonitor() override;

    void OnGga(const GgaSentence& s);
    void OnRmc(const RmcSentence& s);
    void OnGll(const GllSentence& s);
    void OnGsv(const GsvSentence& s);

    // Starts the 1000 ms timer on the calling thread's MessageLoop; false when the thread
    // has none. A running timer is stopped first.
    bool StartTimer();
    void StopTimer();
    // One timer period: counts a tick while there is no fix; every fourth reports the loss.
    void Tick();

    int GetSignalLevel() const;
    // Satellites used in the last GGA fix (0 before one).
    int GetSatellitesUsed() const;
    // The listener is borrowed; nullptr stops reporting (fixes are still kept).
    void SetListener(GpsFixListener* listener);

    // A copy of the current fix (or none).
    TrackPointRef CurrentFix() const;
    // Calls the listener's OnFixLost (the receiver's Stop reports the loss once).
    void ReportFixLost();

private:
    void OnFixSentence(TrackPointRef point);
    void OnNoFix();
    GpsFixListener* Listener() const;

    struct TimerLink;
    struct TalkerSet {
        std::vector<SatelliteInfo> satellites;
        uint32_t tick = 0;
    };

    mutable std::mutex mutex_;
    uint32_t noFixTicks_ = 0;
    TrackPointRef currentFix_;
    uint32_t timerId_ = 0;
    platform::MessageLoop* timerLoop_ = nullptr;
    // Lets a timer that fires after the monitor is gone do nothing.
    std::shared_ptr<TimerLink> timerLink_;
    std::atomic<GpsFixListener*> listener_{nullptr};
    std::atomic<int> signalLevel_{0};
    std::atomic<int> satellitesUsed_{0};
    // The last complete GSV set of each talker (reader thread only).
    std::map<std::string, TalkerSet> talkerSets_;
};

}  // namespace kestrix
