#include "geo/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/TrackPoint.h"

namespace kestrix {
namespace {

constexpr double kMinute = kDegToRad / 60.0;

// Entry k of the sine table, read through SinCosDeg at k whole degrees.
double SineTable(int k) {
    double sine = 0.0, cosine = 0.0;
    SinCosDeg(k * kDegToRad, sine, cosine);
    return sine;
}

// Non-finite and huge angles give NaN without crashing; large representable ones still
// reduce modulo a turn.
TEST(SinCosDegTest, RoundsToWholeDegreesAndFoldsQuadrants) {
    const double s1 = 0.0174524076, s89 = 0.9998477101, nan = std::nan(""), inf = INFINITY;
    struct Row {
        double degrees;
        double sine;
        double cosine;
    } rows[] = {
        {0.0, 0.0, 1.0},      {0.49, 0.0, 1.0},     {0.5, s1, s89},  // halves round away from zero
        {-0.5, -s1, s89},     {-0.49, -0.0, 1.0},   {30.0, 0.5, SineTable(60)},
        {90.0, 1.0, 0.0},     {91.0, s89, -s1},     {180.0, 0.0, -1.0},
        {181.0, -s1, -s89},   {269.0, -s89, -s1},   {270.0, -1.0, 0.0},
        {271.0, -s89, s1},    {359.0, -s1, s89},    {360.0, 0.0, 1.0},
        {721.0, s1, s89},     {-90.0, -1.0, 0.0},   {-181.0, s1, -s89},
        {-359.6, 0.0, 1.0},   {3600030.0, 0.5, SineTable(60)},
        {nan, nan, nan},      {inf, nan, nan},      {-inf, nan, nan},
        {1e302, nan, nan},    {-1e302, nan, nan},
    };
    const auto same = [](double a, double b) { return std::isnan(b) ? std::isnan(a) : a == b; };
    for (const Row& r : rows) {
        double sine = 99, cosine = 99;
        SinCosDeg(r.degrees * kDegToRad, sine, cosine);
        EXPECT_TRUE(same(sine, r.sine) && same(cosine, r.cosine))
            << r.degrees << " degrees: " << sine << ", " << cosine << " instead of " << r.sine << ", " << r.cosine;
    }
}

TEST(DistanceTest, FlatAndSphericalBranches) {
    struct Row {
        const char* what;
        double lat1, lon1, lat2, lon2;  // degrees
        float metres;
    } rows[] = {
        {"same place", 47.1, 8.5, 47.1, 8.5, 0.0f},
        {"one minute of latitude", 0.0, 0.0, 1.0 / 60.0, 0.0, 1852.0f},
        {"one degree east at 60N uses cos 60 = 0.5", 60.0, 0.0, 60.0, 1.0, 55560.0f},
        {"ten degrees of longitude on the equator", 0.0, 0.0, 0.0, 10.0, 1111200.875f},
        {"across the date line", 0.0, 179.0, 0.0, -179.0, 222237.546875f},
        // The law of cosines sees whole degrees only: 0.3 N counts as the equator.
        {"latitude rounded in the spherical branch", 0.0, 0.0, 0.3, 10.0, 1111200.875f},
        // Same point written as -180 and 180: the table's cos^2 + sin^2 of 52 degrees
        // exceeds 1, which must not turn into NaN.
        {"same point on both sides of the date line", 52.0, -180.0, 52.0, 180.0, 0.0f},
    };
    for (const Row& r : rows) {
        float d = Distance(r.lat1 * kDegToRad, r.lon1 * kDegToRad, r.lat2 * kDegToRad, r.lon2 * kDegToRad);
        EXPECT_FLOAT_EQ(d, r.metres) << r.what;
    }
    EXPECT_FLOAT_EQ(Distance(0, 0, kMinute, 0), Distance(kMinute, 0, 0, 0)) << "symmetric in latitude";
}

}  // namespace
}  // namespace kestrix
