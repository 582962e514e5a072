#include "gps/CaptureBursts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrix {
namespace {

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
