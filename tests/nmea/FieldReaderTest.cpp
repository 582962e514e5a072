#include "nmea/FieldReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace kestrix {
namespace {

TEST(FieldReaderTest, IntegersReadAsAtoiWithoutOverflow) {
    const std::pair<const char*, int> cases[] = {
        {"0", 0},         {"08", 8},        {" 42", 42},          {"+7", 7},
        {"-3", -3},       {"12.9", 12},     {"x1", 0},            {"", 0},
        {"99999999999", 2147483647},        {"-99999999999", -2147483647 - 1},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseInteger(text), value) << text;
}

TEST(FieldReaderTest, DoublesReadAsAtofForDecimalText) {
    const std::pair<const char*, double> cases[] = {
        {"0.9", 0.9},         {"545.4", 545.4},   {"-30.40", -30.40},   {"022.4", 22.4},
        {".5", 0.5},          {"5.", 5.0},        {"1e3", 1000.0},      {"2.5E-1", 0.25},
        {"12abc", 12.0},      {"abc", 0.0},       {"", 0.0},            {"-", 0.0},
        {".", 0.0},           {"inf", 0.0},       {"nan", 0.0},         {"1e999", 0.0},
        {"0.00000000000000000000000001", 1e-26}, {"12345678901234567890123", 1.2345678901234568e22},
    };
    for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(ParseDouble(text), value) << text;
}

// Four and five decimals are the corpus test's (every real capture against its reference).
TEST(FieldReaderTest, CoordinatesAreDegreesAndDecimalMinutesForAnyNumberOfDecimals) {
    // Three decimals were read as 4 + 807038/600000 by the old rule; five are u-blox's;
    // "4860.0000" has minutes of 60.
    const std::pair<const char*, double> cases[] = {
        {"4807.038", 48.1173},   {"4807.03812", 48.117302}, {"4807.0381234", 48.11730205666667},
        {"4807", 48.11666666666667}, {"4807.", 48.11666666666667}, {"0000.0000", 0.0},
        {"17959.99999", 179.99999983333333}, {"", 0.0}, {"48a7.038", 0.0}, {"4807.03.8", 0.0}, {"4860.0000", 0.0},
        {"-4807.038", 0.0}, {" 4807.038", 0.0}, {".038", 0.0}, {"1234567890.0", 0.0}, {"4807.038 ", 0.0},
    };
    for (const auto& [text, value] : cases) EXPECT_NEAR(ParseCoordinate(text), value, 1e-12) << text;
}

TEST(FieldReaderTest, TimesOfSixDigitsWithAnyFraction) {
    struct Case {
        const char* text;
        bool ok;
        int h, m, s, ms;
    };
    const Case cases[] = {
        {"123519", true, 12, 35, 19, 0},        {"123519.5", true, 12, 35, 19, 500},
        {"123519.00", true, 12, 35, 19, 0},     {"123519.250", true, 12, 35, 19, 250},
        {"123519.1239", true, 12, 35, 19, 123}, {"235959.999", true, 23, 59, 59, 999},
        {"000000", true, 0, 0, 0, 0},           {"123519.", true, 12, 35, 19, 0},
        {"250000", false, 0, 0, 0, 0},          {"126100", false, 0, 0, 0, 0},
        {"123560", false, 0, 0, 0, 0},          {"12351", false, 0, 0, 0, 0},
        {"12a519", false, 0, 0, 0, 0},          {"123519,5", false, 0, 0, 0, 0},
        {"123519.x", false, 0, 0, 0, 0},        {"", false, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        platform::SystemTime t{};
        t.hour = 99;
        EXPECT_EQ(ParseTimeOfDay(c.text, t), c.ok) << c.text;
        // A refused time leaves the fields untouched.
        const std::vector<int> expected = c.ok ? std::vector<int>{c.h, c.m, c.s, c.ms} : std::vector<int>{99, 0, 0, 0};
        EXPECT_EQ((std::vector<int>{t.hour, t.minute, t.second, t.milliseconds}), expected) << c.text;
    }
}

TEST(FieldReaderTest, DatesAreCalendarDatesInTheYears2000To2099) {
    struct Case {
        const char* text;
        bool ok;
        int y, m, d;
    };
    const Case cases[] = {
        {"230394", true, 2094, 3, 23}, {"070309", true, 2009, 3, 7},  {"290224", true, 2024, 2, 29},
        {"290223", false, 0, 0, 0},    {"310499", false, 0, 0, 0},    {"001209", false, 0, 0, 0},
        {"011309", false, 0, 0, 0},    {"0703091", false, 0, 0, 0},   {"07030", false, 0, 0, 0},
        {"07o309", false, 0, 0, 0},    {"", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        platform::SystemTime t{};
        EXPECT_EQ(ParseDate(c.text, t), c.ok) << c.text;
        EXPECT_EQ((std::vector<int>{t.year, t.month, t.day}), (std::vector<int>{c.y, c.m, c.d})) << c.text;
    }
}

}  // namespace
}  // namespace kestrix
