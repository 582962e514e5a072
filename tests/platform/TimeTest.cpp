#include "platform/Time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "platform/Clock.h"

namespace kestrix::platform {
namespace {

SystemTime Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    SystemTime t;
    auto u = [](int v) { return static_cast<uint16_t>(v); };
    std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second, t.milliseconds) =
        std::make_tuple(u(y), u(mo), u(d), u(h), u(mi), u(s), u(ms));
    return t;
}

auto Fields(const SystemTime& t) {
    return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second, t.milliseconds);
}
void ExpectFields(const SystemTime& got, const SystemTime& want) { EXPECT_EQ(Fields(got), Fields(want)); }

// OLE dates both ways, before the epoch too; a fraction rounds to the nearest millisecond
// (one way only); values outside the calendar are refused and the output left alone.
TEST(TimeTest, OleDatesConvertBothWaysIncludingBeforeTheEpoch) {
    const double msDay = 86400000.0, nan = std::nan("");
    const SystemTime none = Make(1, 1, 1);
    const struct {
        double variant;
        SystemTime time;  // none: refused
        bool back;        // converts back to the same value
    } cases[] = {
        {0.0, Make(1899, 12, 30), true},
        {39814.5, Make(2009, 1, 1, 12), true},
        {1.0, Make(1899, 12, 31), true},
        {2.75, Make(1900, 1, 1, 18), true},
        {-1.25, Make(1899, 12, 29, 6), true},
        {-1.0, Make(1899, 12, 29), true},
        {-36522.5, Make(1800, 1, 1, 12), true},
        {-657434.0, Make(100, 1, 1), true},
        {2958465.0, Make(9999, 12, 31), true},
        {39814.0 + 999.6 / msDay, Make(2009, 1, 1, 0, 0, 1, 0), false},
        {39814.0 + 1234.4 / msDay, Make(2009, 1, 1, 0, 0, 1, 234), false},
        {39814.0 + 86399999.7 / msDay, Make(2009, 1, 2), false},
        // Before the epoch the fraction still counts forward from midnight of that day.
        {-1.0 - 86399999.7 / msDay, Make(1899, 12, 30), false},
        {-0.5, Make(1899, 12, 30, 12), false},
        {nan, none, false}, {INFINITY, none, false}, {-INFINITY, none, false},
        {2958466.0, none, false}, {-657435.5, none, false}, {1e300, none, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variant);
        SystemTime t = none;
        EXPECT_EQ(VariantTimeToSystemTime(c.variant, t), c.time.year != 1);
        ExpectFields(t, c.time);
        if (c.back) {
            double back = 12345;
            ASSERT_TRUE(SystemTimeToVariantTime(c.time, back));
            EXPECT_DOUBLE_EQ(back, c.variant);
        }
    }
    double out = 5;
    EXPECT_FALSE(SystemTimeToVariantTime(Make(2009, 2, 30), out));
    EXPECT_EQ(out, 5);
}

TEST(TimeTest, IsoTextWithAndWithoutMilliseconds) {
    EXPECT_EQ(FormatIsoUtc(128752848000000000ULL + 1234 * kFileTimeTicksPerMs), "2009-01-01T12:00:01.234Z");
    EXPECT_EQ(FormatIsoUtc(128752848000000000ULL + 1234 * kFileTimeTicksPerMs, false), "2009-01-01T12:00:01Z");
    EXPECT_EQ(FormatIsoUtc(0), "1601-01-01T00:00:00.000Z");
    EXPECT_EQ(FormatIsoUtc(0x8000000000000000ULL), "");
    const uint64_t noon = 128752848000000000ULL;  // 2009-01-01T12:00:00Z
    const std::pair<const char*, uint64_t> read[] = {  // 1: refused
        {"2009-01-01T12:00:01.234Z", noon + 1234 * kFileTimeTicksPerMs}, {"2009-01-01T12:00:00.5Z", noon + 5'000'000},
        {"2009-01-01T12:00:00+00:00", noon}, {"2009-01-01", noon - 12 * 3600 * kFileTimeTicksPerSecond},
        {"2009-01-01T12:00:00", 1}, {"2009-01-01T12:00:00.Z", 1}, {"2009-02-30", 1}, {"2009-1-01", 1},
        {"2009-01-01T24:00:00Z", 1}, {"2009-01-01T12:00:00+01:00", 1}, {"+009-01-01", 1}, {"", 1},
    };
    for (const auto& [text, want] : read) {
        uint64_t got = 1;
        EXPECT_EQ(ParseIsoUtc(text, got), want != 1) << text;
        EXPECT_EQ(got, want) << text;
    }
}

}  // namespace
}  // namespace kestrix::platform
