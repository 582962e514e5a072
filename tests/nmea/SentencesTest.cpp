#include "nmea/Sentences.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nmea/NmeaTestSupport.h"

namespace kestrix {
namespace {

using SentencesTest = test::DeviceClockTest;

// A whole set of real messages is the home screen's satellite view scenario; these are the
// edges of the assembly.
TEST_F(SentencesTest, GsvSetsAssembleOverTheirMessages) {
    struct Case {
        const char* what;
        std::vector<const char*> bodies;
        bool complete;
        std::vector<int> prns;
        std::vector<int> last;  // prn, elevation, azimuth, SNR, has a position: the last satellite
    };
    const Case cases[] = {
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
