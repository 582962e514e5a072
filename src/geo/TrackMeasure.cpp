#include "geo/TrackMeasure.h"

#include <GeographicLib/Constants.hpp>
#include <GeographicLib/Geodesic.hpp>

#include <algorithm>
#include <cmath>

namespace kestrix {

bool IsSegmentGap(uint64_t before, uint64_t after) {
    const uint64_t gap = after >= before ? after - before : before - after;
    return gap > kSegmentGapTicks;
}

namespace {

constexpr double kDegree = 0.017453292519943295;
// A short step away from the poles is measured on the ellipsoid's radii of curvature at its
// middle latitude: within a millimetre of the geodesic (the test holds it to GeographicLib),
// at a twentieth of the cost of GeographicLib's general solution, which a log of a million
// fixes a second apart would otherwise spend a second on. Anything longer, wider or nearer a
// pole goes to GeographicLib.
constexpr double kShortStepM = 1000.0;
constexpr double kShortStepDegrees = 0.01;  // of longitude
constexpr double kShortStepLatitude = 85.0;

// The step's length on the radii of curvature; -1 when the step is not short.
double ShortStepM(double lat1, double lon1, double lat2, double lon2) {
    const double a = GeographicLib::Constants::WGS84_a();
    const double f = GeographicLib::Constants::WGS84_f();
    const double e2 = f * (2.0 - f);
    const double middle = (lat1 + lat2) * 0.5 * kDegree;
    const double sine = std::sin(middle);
    const double w2 = 1.0 - e2 * sine * sine;
    const double w = std::sqrt(w2);
    const double meridian = a * (1.0 - e2) / (w2 * w);  // north-south radius of curvature
    const double normal = a / w;                         // east-west, in the prime vertical
    double east = lon2 - lon1;
    if (east > 180.0) east -= 360.0;
    if (east < -180.0) east += 360.0;
    if (std::fabs(east) >= kShortStepDegrees || std::fabs(lat1) >= kShortStepLatitude ||
        std::fabs(lat2) >= kShortStepLatitude) {
        return -1.0;
    }
    const double north = meridian * (lat2 - lat1) * kDegree;
    const double across = normal * std::sqrt(1.0 - sine * sine) * east * kDegree;  // cos(middle) > 0 here
    const double d = std::sqrt(north * north + across * across);
    return d < kShortStepM ? d : -1.0;
}

}  // namespace

double GeodesicDistanceM(double lat1, double lon1, double lat2, double lon2) {
    const double near = ShortStepM(lat1, lon1, lat2, lon2);
    if (near >= 0.0) return near;
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
