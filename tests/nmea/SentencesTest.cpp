#include "nmea/Sentences.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Time.h"

#include "nmea/NmeaTestSupport.h"

namespace kestrix {
namespace {

uint64_t ToFileTime(const platform::SystemTime& t) {
    uint64_t ft = 0;
    EXPECT_TRUE(platform::SystemTimeToFileTime(t, ft));
    return ft;
}

template <class S>
platform::SystemTime Stamp(const char* address, const std::string& body) {
    S s;
    s.Parse(address, body);
    return s.timestamp;
}

using SentencesTest = test::DeviceClockTest;

// Times the captures do not show: what a sentence without a date or time takes from the
// device clock (GGA and GLL always take its date). Time fields are the field reader's.
TEST_F(SentencesTest, TimestampsTakeWhatTheDeviceClockHas) {
    struct Case { const char* what; std::string type, body; uint64_t expected; };
    const uint64_t device = DeviceTime();
    const Case cases[] = {
        {"RMC without date keeps the device date", "RMC", "123519.5,A,4807.038,N,01131.000,E,,,,,",
         test::FileTimeOf(2031, 5, 17, 12, 35, 19, 500)},
        {"RMC with a date that is not a date", "RMC", "123519.5,A,,,,,,,310494,,", test::FileTimeOf(2031, 5, 17, 12, 35, 19, 500)},
        {"RMC with an empty time", "RMC", ",V,,,,,,,230394,,", device},
        {"GGA takes the device date", "GGA", "123519.000,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", test::FileTimeOf(2031, 5, 17, 12, 35, 19)},
        {"GLL without time", "GLL", "4916.45,N,12311.12,W", device},
    };
    for (const Case& c : cases) {
        const platform::SystemTime t = c.type == "RMC"   ? Stamp<RmcSentence>("GPRMC", c.body)
                                       : c.type == "GGA" ? Stamp<GgaSentence>("GPGGA", c.body)
                                                         : Stamp<GllSentence>("GPGLL", c.body);
        EXPECT_EQ(platform::FormatIsoUtc(ToFileTime(t)), platform::FormatIsoUtc(c.expected)) << c.what;
    }
}

TEST_F(SentencesTest, GsvSetsAssembleOverTheirMessages) {
    struct Case {
        const char* what;
        std::vector<const char*> bodies;
        bool complete;
        std::vector<int> prns;
        std::vector<int> last;  // prn, elevation, azimuth, SNR, has a position: the last satellite
    };
    const Case cases[] = {
        {"three messages",
         {"3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00",
          "3,2,11,14,25,170,00,16,57,208,39,18,67,296,40,19,40,246,00", "3,3,11,22,42,067,42,24,14,311,43,27,05,244,00,,,,"},
         true, {3, 4, 6, 13, 14, 16, 18, 19, 22, 24, 27}, {27, 5, 244, 0, 1}},
        {"1 of 1 with none in view", {"1,1,00"}, true, {}, {}},
        {"groups beyond the count in view are not read", {"1,1,02,01,40,083,46,02,17,308,41,12,07,344,39"}, true, {1, 2},
         {2, 17, 308, 41, 1}},
        {"signal id after four groups is not a satellite",
         {"2,1,05,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45,1", "2,2,05,05,10,100,30,1"}, true,
         {1, 2, 12, 14, 5}, {5, 10, 100, 30, 1}},
        {"a first message starts afresh after a lost last one",
         {"2,1,05,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45",
          "2,1,05,21,40,083,46,22,17,308,41,23,07,344,39,24,22,228,45", "2,2,05,25,10,100,30"},
         true, {21, 22, 23, 24, 25}, {25, 10, 100, 30, 1}},
        {"empty satellite fields read as 0, without a position", {"1,1,02,07,,,,08,10,,"}, true, {7, 8}, {8, 10, 0, 0, 0}},
        {"a set never completed", {"3,1,11,03,03,111,00", "3,2,11,14,25,170,00"}, false, {3, 14}, {14, 25, 170, 0, 1}},
    };
    for (const Case& c : cases) {
        GsvSentence s;
        s.Parse("GPGSV", c.bodies[0]);
        for (size_t i = 1; i < c.bodies.size(); ++i) {
            EXPECT_FALSE(s.IsComplete()) << c.what;
            s.Continue(c.bodies[i]);
        }
        EXPECT_EQ(s.IsComplete(), c.complete) << c.what;
        std::vector<int> prns, last;
        for (const SatelliteInfo& sat : s.satellites) {
            prns.push_back(sat.prn);
            last = {sat.prn, sat.elevation, sat.azimuth, sat.snr, sat.hasPosition ? 1 : 0};
        }
        EXPECT_EQ(prns, c.prns) << c.what;
        EXPECT_EQ(last, c.last) << c.what;
    }
}

TEST_F(SentencesTest, GsvSetNeverHoldsMoreThanItsBound) {
    GsvSentence s;
    s.Parse("GPGSV", "9999,2,9999,01,1,1,1,02,2,2,2,03,3,3,3,04,4,4,4");
    for (int i = 3; i < 200; ++i) s.Continue("9999," + std::to_string(i) + ",9999,01,1,1,1,02,2,2,2,03,3,3,3,04,4,4,4");
    EXPECT_EQ(s.satellites.size(), GsvSentence::kMaxSatellites);
}

}  // namespace
}  // namespace kestrix
