#include "core/FixFilter.h"

#include <gtest/gtest.h>

#include <vector>

#include "geo/Geodesy.h"

namespace kestrix {
namespace {

constexpr uint64_t kSecond = 10'000'000;  // FILETIME ticks
constexpr uint64_t kT0 = 133'000'000'000'000'000ULL;

// Degrees of latitude that cover the given metres along a meridian.
double NorthDegrees(double metres) { return metres / kEarthRadiusM * kRadToDeg; }

TrackPointRef PointAt(double metresNorth, uint64_t time, float speed = 0.0f) {
    return TrackPoint::Make(48.0 + NorthDegrees(metresNorth), 11.0, 520.0f, speed, time);
}

using R = FixFilter::Result;

TEST(FixFilterTest, KeepsFixesFarEnoughApartInSpaceOrTime) {
    // metres from the first fix, afterMs ticks after it
    struct Case { const char* name; double metres; uint32_t afterMs; R expected; uint32_t startTick = 1000; };
    const std::vector<Case> cases = {
        {"4 m after 3000 ms", 4.0, 3000, R::Dropped},
        {"4 m after exactly 5000 ms", 4.0, 5000, R::Dropped},
        {"4 m after 5001 ms", 4.0, 5001, R::Accepted},
        {"exactly 5.0 m at once", 5.0, 0, R::Accepted},
        {"4.99 m after 1000 ms", 4.99, 1000, R::Dropped},
        {"same place after 60 s", 0.0, 60000, R::Accepted},
        {"100 m after 10 ms", 100.0, 10, R::Accepted},
        // The tick count wraps at 32 bits: 0xFFFFF000 + 5000 is 0x388.
        {"4 m after 5000 ms across the wrap", 4.0, 5000, R::Dropped, 0xFFFFF000u},
        {"4 m after 5001 ms across the wrap", 4.0, 5001, R::Accepted, 0xFFFFF000u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FixFilter filter;
        auto first = PointAt(0, kT0);
        ASSERT_EQ(filter.Offer(*first, c.startTick), R::First);
        auto next = PointAt(c.metres, kT0 + kSecond);
        EXPECT_EQ(filter.Offer(*next, c.startTick + c.afterMs), c.expected);
        EXPECT_EQ(filter.Last().Get(), c.expected == R::Accepted ? next.Get() : first.Get());
    }
}

TEST(FixFilterTest, FillsInAMissingSpeed) {
    // seconds: the time of the second fix after the first
    struct Case { const char* name; double metres; int64_t seconds; float reportedSpeed, expectedSpeed; };
    const std::vector<Case> cases = {
        {"100 m in 10 s", 100.0, 10, 0.0f, 36.0f},
        {"equal times keep 0", 100.0, 0, 0.0f, 0.0f},
        {"earlier time keeps 0", 100.0, -10, 0.0f, 0.0f},
        {"reported speed is kept", 100.0, 10, 12.5f, 12.5f},
        {"speed below 1e-6 counts as missing", 100.0, 10, 1e-7f, 36.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FixFilter filter;
        auto first = PointAt(0, kT0);
        filter.Offer(*first, 0);
        auto next = PointAt(c.metres, static_cast<uint64_t>(static_cast<int64_t>(kT0) + c.seconds * int64_t(kSecond)),
                            c.reportedSpeed);
        ASSERT_EQ(filter.Offer(*next, 100), R::Accepted);
        EXPECT_NEAR(next->GetSpeed(), c.expectedSpeed, 0.01f);
    }
}

}  // namespace
}  // namespace kestrix
