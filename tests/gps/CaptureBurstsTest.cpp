#include "gps/CaptureBursts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrix {
namespace {

TEST(CaptureBurstsTest, SecondOfAFixSentence) {
    const struct {
        const char* line;
        const char* second;
    } cases[] = {
        {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n", "123519"},
        {"$GNRMC,081836.75,A,3751.65,S,14507.36,E,000.0,360.0,130998,011.3,E*62\r\n", "081836"},
        {"garbage$GPGGA,010203.4,,,,,0,,,,,,,,*00\n", "010203"},
        {"$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n", ""},
        {"$GPGGA,,,,,,0,,,,,,,,*66\r\n", ""},        // no time yet
        {"$GPGGA,12a519,4807.038,N*00\r\n", ""},     // not six digits
        {"no sentence at all\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(SentenceSecond(c.line), c.second);
    }
}

TEST(CaptureBurstsTest, NewBurstStartsWhenTheFixTimeChanges) {
    const std::string head = "noise before the first fix\r\n";
    const std::string a1 = "$GPGGA,120000,4807.0,N,01131.0,E,1,08,0.9,545.4,M,46.9,M,,*00\r\n";
    const std::string a2 = "$GPRMC,120000.00,A,4807.0,N,01131.0,E,0,0,230394,,*00\r\n";
    const std::string a3 = "$GPGSV,1,1,01,03,03,111,40*00\r\n";
    const std::string b1 = "$GPRMC,120001.00,A,4807.0,N,01131.0,E,0,0,230394,,*00\r\n";
    const std::string b2 = "$GPGLL,4807.0,N,01131.0,E,120001.00,A*00\r\n";
    const std::string c1 = "$GPGGA,120001,4807.0,N,01131.0,E,1,08,0.9,545.4,M,46.9,M,,*00";  // same second later on
    const std::string d1 = "$GPGGA,120000,4807.0,N,01131.0,E,1,08,0.9,545.4,M,46.9,M,,*00\n";  // time goes back
    const std::string capture = head + a1 + a2 + a3 + b1 + b2 + d1 + c1;
    const std::vector<std::string> expected = {head + a1 + a2 + a3, b1 + b2, d1, c1};
    EXPECT_EQ(SplitCaptureIntoBursts(capture), expected);
    EXPECT_TRUE(SplitCaptureIntoBursts("").empty());
    EXPECT_EQ(SplitCaptureIntoBursts("no fix here"), std::vector<std::string>{"no fix here"});
}

}  // namespace
}  // namespace kestrix
