#include "nmea/SyntheticCapture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace kestrix {
namespace {

std::vector<std::string> Lines(const std::string& capture) {
    std::vector<std::string> out;
    std::istringstream in(capture);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

TEST(SyntheticCaptureTest, SentenceGoldenBytes) {
    EXPECT_EQ(MakeSentence("GPGLL,4916.4500,N,12311.1200,W,225444.00,A,A"),
              "$GPGLL,4916.4500,N,12311.1200,W,225444.00,A,A*72\r\n");
    EXPECT_EQ(MakeSentence("GPGLL,10,N,0"), "$GPGLL,10,N,0*03\r\n");
    EXPECT_EQ(NmeaChecksum(""), 0);
}

TEST(SyntheticCaptureTest, DriveHasEverySecondsSentencesWithValidChecksums) {
    DriveOptions o;
    o.seconds = 20;
    o.lostAfter = 5;
    o.lostSeconds = 3;
    const std::vector<std::string> lines = Lines(GenerateDrive(o));
    ASSERT_EQ(lines.size(), 20u * 7u);
    const char* const order[] = {"$GPGGA", "$GPRMC", "$GPGLL", "$GPGSA", "$GPGSV,3,1", "$GPGSV,3,2", "$GPGSV,3,3"};
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        ASSERT_GE(l.size(), 6u);
        EXPECT_EQ(l.back(), '\r');
        EXPECT_EQ(l.rfind(order[i % 7], 0), 0u) << l;
        const size_t star = l.find('*');
        ASSERT_NE(star, std::string::npos);
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", NmeaChecksum(std::string_view(l).substr(1, star - 1)));
        EXPECT_EQ(l.substr(star + 1, 2), hex) << l;
        EXPECT_LE(star - 1 - 6, 82u) << "body fits the framer: " << l;
    }
    // Seconds 5, 6, 7 have no fix.
    EXPECT_NE(lines[5 * 7].find(",0,00,"), std::string::npos) << lines[5 * 7];
    EXPECT_NE(lines[7 * 7 + 1].find(",V,"), std::string::npos) << lines[7 * 7 + 1];
    EXPECT_NE(lines[8 * 7 + 1].find(",A,"), std::string::npos) << lines[8 * 7 + 1];
}

}  // namespace
}  // namespace kestrix
