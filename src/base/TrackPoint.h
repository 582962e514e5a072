// TrackPoint: the reference-counted position passed through the whole system, from the
// GPS state to the controller, the track log, the session and the offline store.
//   latitude, longitude: decimal degrees (double), north/east positive;
//   altitude: metres above mean sea level (float), 0 when not known;
//   speed: km/h (float), 0 when not known;
//   time: FILETIME (UTC, 100-ns ticks since 1601-01-01).
// A point is built on one thread and then read on others; only the controller changes
// its speed (SetSpeed), before it hands the point on.
#pragma once
#include <atomic>
#include <cstdint>

#include "base/RefCounted.h"

namespace kestrix {

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kRadToDeg = 57.29577951308232;

class TrackPoint : public RefCounted {
public:
    TrackPoint(double latitude, double longitude, float altitude, float speed, uint64_t time)
        : latitude_(latitude), longitude_(longitude), altitude_(altitude), speed_(speed), time_(time) {}

    static Ref<TrackPoint> Make(double latitude, double longitude, float altitude, float speed, uint64_t time) {
        return Ref<TrackPoint>(new TrackPoint(latitude, longitude, altitude, speed, time));
    }

    double GetLatitude() const { return latitude_; }
    double GetLongitude() const { return longitude_; }
    double GetLatitudeRad() const { return latitude_ * kDegToRad; }
    double GetLongitudeRad() const { return longitude_ * kDegToRad; }
    float GetAltitude() const { return altitude_; }
    float GetSpeed() const { return speed_.load(std::memory_order_relaxed); }
    void SetSpeed(float kmh) { speed_.store(kmh, std::memory_order_relaxed); }
    uint64_t GetTime() const { return time_; }
    // The time as an OLE Automation date (days since 1899-12-30 00:00 UTC). False when the
    // time is not representable (then out is unchanged).
    bool GetOleDate(double& out) const;

private:
    double latitude_;
    double longitude_;
    float altitude_;
    std::atomic<float> speed_;
    uint64_t time_;
};

using TrackPointRef = Ref<TrackPoint>;

}  // namespace kestrix
