// FixFilter: decides which fixes the receiver reports are worth keeping. A fix is kept
// when it lies at least 5.0 m from the last kept one, or when more than 5000 ms of tick
// count (32-bit, wrapping) have passed since that one was kept. A kept fix without a speed
// (below 1e-6 km/h) gets the speed derived from the distance and the two fix times.
// Not thread-safe: the controller calls it under its own mutex; the "nmea decode
// --accepted" command uses one of its own.
#pragma once
#include <cstdint>

#include "base/TrackPoint.h"

namespace kestrix {

class FixFilter {
public:
    enum class Result { First, Accepted, Dropped };

    static constexpr float kMinDistanceM = 5.0f;
    static constexpr uint32_t kMaxIntervalMs = 5000;
    static constexpr float kMinSpeedKmh = 1e-6f;

    // First: there was no last fix; point becomes it. Accepted: point becomes the last
    // fix (its speed may have been filled in). Dropped: nothing changed. point must be a
    // heap object with a reference count (the filter keeps a reference when it keeps it).
    Result Offer(TrackPoint& point, uint32_t nowTick);
    // Forgets the last fix (a fix loss); the tick of the last one is kept.
    void Reset();
    bool HasLast() const { return static_cast<bool>(last_); }
    TrackPointRef Last() const { return last_; }

private:
    TrackPointRef last_;
    uint32_t lastTick_ = 0;
};

}  // namespace kestrix
