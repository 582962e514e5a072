#include "geo/TrackMeasure.h"

#include <GeographicLib/Geodesic.hpp>

#include <algorithm>
#include <cmath>

namespace kestrix {

bool IsSegmentGap(uint64_t before, uint64_t after) {
    const uint64_t gap = after >= before ? after - before : before - after;
    return gap > kSegmentGapTicks;
}

double GeodesicDistanceM(double lat1, double lon1, double lat2, double lon2) {
    double metres = 0.0;
    GeographicLib::Geodesic::WGS84().Inverse(lat1, lon1, lat2, lon2, metres);
    return metres;
}

bool TrackMeasure::Add(const TrackSample& p) {
    const bool starts = records_ == 0 || IsSegmentGap(last_.time, p.time);
    if (records_ == 0) {
        start_ = end_ = p.time;
    } else {
        start_ = std::min(start_, p.time);
        end_ = std::max(end_, p.time);
    }
    if (starts) {
        ++segments_;
    } else {
        distanceM_ += GeodesicDistanceM(last_.lat, last_.lon, p.lat, p.lon);
    }
    if (std::isfinite(p.speed)) maxSpeed_ = std::max(maxSpeed_, p.speed);
    ++records_;
    last_ = p;
    return starts;
}

void TrackDays::Add(const TrackSample& p) {
    TrackDay& day = days_[p.time / kTicksPerDay];
    day.day = p.time / kTicksPerDay;
    ++day.records;
    if (any_ && !IsSegmentGap(last_.time, p.time)) {
        day.distanceM += GeodesicDistanceM(last_.lat, last_.lon, p.lat, p.lon);
    }
    any_ = true;
    last_ = p;
}

std::vector<TrackDay> TrackDays::Days() const {
    std::vector<TrackDay> out;
    out.reserve(days_.size());
    for (const auto& [key, day] : days_) out.push_back(day);
    return out;
}

}  // namespace kestrix
