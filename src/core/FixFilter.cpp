#include "core/FixFilter.h"

#include "geo/Geodesy.h"

namespace kestrix {

FixFilter::Result FixFilter::Offer(TrackPoint& point, uint32_t nowTick) {
    if (!last_) {
        last_ = TrackPointRef(&point);
        lastTick_ = nowTick;
        return Result::First;
    }
    const float d = Distance(last_->GetLatitudeRad(), last_->GetLongitudeRad(), point.GetLatitudeRad(),
                             point.GetLongitudeRad());
    // Unsigned difference: the tick count wraps every 49.7 days.
    const uint32_t elapsed = nowTick - lastTick_;
    if (!(d >= kMinDistanceM) && elapsed <= kMaxIntervalMs) return Result::Dropped;
    if (point.GetSpeed() < kMinSpeedKmh) {
        const float v = SpeedKmh(last_->GetTime(), point.GetTime(), d);
        if (v > kMinSpeedKmh) point.SetSpeed(v);
    }
    lastTick_ = nowTick;
    last_ = TrackPointRef(&point);
    return Result::Accepted;
}

void FixFilter::Reset() { last_.Reset(); }

}  // namespace kestrix
