// Distance and speed between consecutive positions, as the fix filter uses them.
// Angles in radians; the sine table has whole-degree resolution on purpose: the 5 m / 5 s
// filter thresholds were tuned with distances computed this way.
// Pure functions, any thread.
#pragma once
#include <cstdint>

namespace kestrix {

// Earth radius in metres on which one minute of arc is 1852 m.
constexpr double kEarthRadiusM = 6366707.02;

// Sine and cosine of x (radians) rounded to whole degrees (halves away from zero),
// read from a 91-entry table of sin(k degrees) with ten decimals.
void SinCosDeg(double x, double& sine, double& cosine);

// Metres between (lat1, lon1) and (lat2, lon2), radians. Below 10 degrees of difference a
// flat approximation, otherwise the spherical law of cosines.
float Distance(double lat1, double lon1, double lat2, double lon2);

// km/h for m metres covered from t1 to t2 (FILETIME). 0 when the times are equal;
// negative when t2 is earlier.
float SpeedKmh(uint64_t t1, uint64_t t2, double metres);

}  // namespace kestrix
