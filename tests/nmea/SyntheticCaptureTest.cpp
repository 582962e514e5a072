#include "nmea/SyntheticCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "nmea/FieldReader.h"

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

TEST(SyntheticCaptureTest, EverySecondHasItsSentencesWithValidChecksums) {
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

TEST(SyntheticCaptureTest, PositionMovesAtTheGivenSpeedAndTimeCrossesMidnight) {
    DriveOptions o;
    o.seconds = 3;
    o.start = platform::SystemTime{2008, 12, 0, 31, 23, 59, 59, 0};
    o.lostSeconds = 0;
    o.withGll = false;
    o.startLatitude = -33.5;
    o.startLongitude = -70.25;
    const std::vector<std::string> lines = Lines(GenerateDrive(o));
    ASSERT_EQ(lines.size(), 3u * 6u);
    std::vector<std::pair<double, double>> positions;
    std::vector<std::string> stamps;
    for (size_t i = 1; i < lines.size(); i += 6) {
        const std::string body = lines[i].substr(7, lines[i].find('*') - 7);
        FieldReader r(body);
        const std::string time = r.Text();
        EXPECT_EQ(r.Char(), 'A');
        const double lat = r.Coordinate();
        EXPECT_EQ(r.Char(), 'S');
        const double lon = r.Coordinate();
        EXPECT_EQ(r.Char(), 'W');
        EXPECT_NEAR(r.Double() * 1.852, 50.0, 0.1);
        r.Skip();
        stamps.push_back(r.Text() + " " + time);
        positions.emplace_back(lat, lon);
    }
    EXPECT_EQ(stamps, (std::vector<std::string>{"311208 235959.00", "010109 000000.00", "010109 000001.00"}));
    // 50 km/h is 13.9 m a second: about 1.25e-4 degree of latitude at most.
    for (size_t i = 1; i < positions.size(); ++i) {
        const double dLat = (positions[i].first - positions[i - 1].first) * 111320.0;
        const double dLon = (positions[i].second - positions[i - 1].second) * 111320.0 * 0.8338;
        EXPECT_NEAR(std::sqrt(dLat * dLat + dLon * dLon), 13.9, 0.2);
    }
}

}  // namespace
}  // namespace kestrix
