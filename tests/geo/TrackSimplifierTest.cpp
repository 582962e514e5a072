#include "geo/TrackSimplifier.h"

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geo/TrackMeasure.h"

// The whole path from a log to a simplified document, with its exact numbers, is the
// GeoJSON writer's golden table; these are the properties that hold for any track.
namespace kestrix {
namespace {

// A wandering track of n positions one second apart, with a gap (a new segment) every
// `segment` positions.
std::vector<TrackSample> Wander(size_t n, size_t segment, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> turn(0.0, 0.3);
    std::vector<TrackSample> out;
    double lat = 48.1, lon = 11.5, heading = 0.0;
    uint64_t time = 133'000'000'000'000'000ULL;
    for (size_t i = 0; i < n; ++i) {
        heading += turn(random);
        lat += 1e-4 * std::cos(heading);
        lon += 1.5e-4 * std::sin(heading);
        time += (i > 0 && i % segment == 0) ? kSegmentGapTicks + kTicksPerSecond : kTicksPerSecond;
        out.push_back({lat, lon, 500.0f, 30.0f, time});
    }
    return out;
}

TEST(TrackSimplifierTest, MeetsTheBudgetKeepingEverySegmentsEnds) {
    const std::vector<TrackSample> track = Wander(20'000, 4'000, 7);  // five segments
    struct Row {
        size_t budget;
        uint64_t fewest;  // the tolerance search must not give away much of the budget
        uint64_t leftOut;
    } rows[] = {{100'000, 20'000, 0}, {5'000, 4'900, 0}, {500, 480, 0}, {10, 10, 0}, {7, 6, 2}, {2, 2, 4}};
    for (const Row& r : rows) {
        TrackSimplifier s;
        TrackMeasure m;
        for (const TrackSample& p : track) s.Add(p, m.Add(p));
        s.Simplify(r.budget);
        uint64_t kept = 0;
        for (size_t i = 0; i < track.size(); ++i) kept += s.Kept(i);
        EXPECT_EQ(s.Vertices(), kept) << r.budget;
        EXPECT_LE(kept, r.budget);
        EXPECT_GE(kept, r.fewest) << r.budget;
        EXPECT_EQ(s.SegmentsLeftOut(), r.leftOut) << r.budget;
        for (size_t seg = r.leftOut; seg < 5; ++seg) {
            EXPECT_TRUE(s.Kept(seg * 4'000) && s.Kept(seg * 4'000 + 3'999)) << r.budget << " segment " << seg;
        }
    }
}

// Short steps are measured on the ellipsoid's radii of curvature, long ones by GeographicLib's
// general solution: either way within a millimetre of the geodesic.
TEST(GeodesicDistanceTest, AgreesWithGeographicLibWithinAMillimetre) {
    const double rows[][4] = {  // from lat, lon to lat, lon
        {0.0, 0.0, 0.0, 0.001},        {0.0, 0.0, 0.001, 0.0},         {48.137, 11.575, 48.1375, 11.5762},
        {-33.9, 151.2, -33.9062, 151.21}, {69.65, 18.95, 69.6501, 18.9597}, {0.0, 179.9995, 0.0005, -179.9999},
        {89.999, 10.0, 89.9995, 170.0},  {51.5, -0.12, 48.85, 2.35},     {47.0, 8.0, 47.0, 8.0},
        {84.99, 20.0, 84.995, 20.0099},  {-84.99, 20.0, -84.99, 20.0099}, {12.0, 30.0, 12.00899, 30.0},
    };
    for (const auto& r : rows) {
        double exact = 0.0;
        GeographicLib::Geodesic::WGS84().Inverse(r[0], r[1], r[2], r[3], exact);
        EXPECT_NEAR(GeodesicDistanceM(r[0], r[1], r[2], r[3]), exact, 1e-3) << r[0] << "," << r[1] << " " << exact;
    }
}

}  // namespace
}  // namespace kestrix
