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

}  // namespace
}  // namespace kestrix
