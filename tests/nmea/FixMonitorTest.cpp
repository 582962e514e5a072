#include "nmea/FixMonitor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nmea/NmeaTestSupport.h"
#include "nmea/GpsDecoder.h"
#include "nmea/SyntheticCapture.h"
#include "platform/MessageLoop.h"
#include "platform/Time.h"

namespace kestrix {
namespace {

// A receiver's decoding path on the test thread, with the stepped clock driving the
// one-second timer through a message loop.
class FixMonitorTest : public test::DeviceClockTest {
protected:
    void SetUp() override {
        DeviceClockTest::SetUp();
        loop = std::make_unique<platform::MessageLoop>(clock);
    }
    void TearDown() override {
        decoder.reset();
        loop.reset();
        DeviceClockTest::TearDown();
    }
    void Send(const std::string& addressAndBody) { decoder->Feed(MakeSentence(addressAndBody)); }
    // Steps the clock one second at a time, running the loop after each.
    void Seconds(int n) {
        for (int i = 0; i < n; ++i) {
            clock.Advance(1000);
            loop->RunPending();
        }
    }
    FixMonitor& Monitor() { return decoder->Monitor(); }

    std::unique_ptr<platform::MessageLoop> loop;
    test::FixRecorder rec;
    std::unique_ptr<GpsDecoder> decoder = std::make_unique<GpsDecoder>(&rec);
};

const char* const kGgaFix = "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
const char* const kGgaDgps = "GPGGA,123520,4807.038,N,01131.000,E,2,08,0.9,545.4,M,46.9,M,,";
const char* const kRmcFix = "GPRMC,123519.00,A,4807.0380,N,01131.0000,E,10.0,084.4,230394,003.1,W";
const char* const kRmcVoid = "GPRMC,123519.00,V,,,,,,,230394,,";

// The loss is reported four seconds after the last fix (or the start) and every four
// seconds after; a fix before the fourth tick prevents it.
TEST_F(FixMonitorTest, LossIsReportedEveryFourSecondsWithoutAFix) {
    ASSERT_TRUE(Monitor().StartTimer());
    const auto lostAfter = [&](int seconds) {
        Seconds(seconds);
        return rec.Lost();
    };
    std::vector<int> each;
    for (int s = 1; s <= 12; ++s) each.push_back(lostAfter(1));
    EXPECT_EQ(each, (std::vector<int>{0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3}));
    Send(kGgaFix);
    ASSERT_EQ(rec.FixCount(), 1u);
    EXPECT_EQ(lostAfter(10), 3) << "no loss while a fix is held";
    Send(kGgaDgps);
    EXPECT_EQ(rec.FixCount(), 1u) << "quality 2 is not a fix";
    EXPECT_FALSE(Monitor().CurrentFix());
    EXPECT_EQ(lostAfter(3), 3);
    EXPECT_EQ(lostAfter(1), 4);
    EXPECT_EQ(lostAfter(4), 5);
    Send(kRmcVoid);
    EXPECT_EQ(lostAfter(3), 5);
    Send(kRmcFix);
    EXPECT_EQ(lostAfter(10), 5);
    Send(kRmcVoid);
    EXPECT_EQ(lostAfter(3), 5) << "the count starts afresh after a fix";
    EXPECT_EQ(lostAfter(1), 6);
    Monitor().StopTimer();
    EXPECT_EQ(lostAfter(8), 6);
}

// The corpus test holds the positions, altitudes, speeds and times of real fixes and that
// only quality 1 and status A give one; these are what no capture has: broken position
// fields give no fix, broken altitudes and speeds are not known.
TEST_F(FixMonitorTest, FixesNoCaptureHas) {
    struct Case {
        const char* what;
        std::string sentence;
        bool fix;
        double lat = 0, lon = 0;
        uint64_t time = 0;
        float alt = 0, speed = 0;
    };
    const uint64_t at = test::FileTimeOf(2031, 5, 17, 22, 54, 44);
    const std::string rmc = "GPRMC,123519.00,A,";
    const std::string rmcTail = ",-22.4,084.4,230394,003.1,W";
    const Case cases[] = {
        {"a time that is not a time keeps the device's",
         "GPGGA,250000,4807.038,N,01131.000,E,1,08,0.9,1.0,M,46.9,M,,", true, 48.1173, 11.516666666666667, DeviceTime(),
         1.0f},
        {"the poles and the date line, a negative speed not known", rmc + "9000.0000,S,18000.0000,W" + rmcTail, true,
         -90, -180, test::FileTimeOf(2094, 3, 23, 12, 35, 19)},
        {"an altitude of 1e308 not known", "GPGGA,225444,4807.038,N,01131.000,E,1,08,0.9,1e308,M,46.9,M,,", true,
         48.1173, 11.516666666666667, at},
        {"quality 6 (estimated)", "GPGGA,123519,4807.038,N,01131.000,E,6,08,0.9,545.4,M,46.9,M,,", false},
        {"status in lower case", "GPRMC,123519.00,a,4807.0380,N,01131.0000,E,10.0,084.4,230394,003.1,W", false},
        {"GLL without status", "GPGLL,4916.45,N,12311.12,W,225444", false},
        {"status A without a latitude", rmc + ",N,01131.0,E" + rmcTail, false},
        {"not a number", rmc + "48O7.0,N,01131.0,E" + rmcTail, false},
        {"over 90 degrees", rmc + "9000.0001,N,01131.0,E" + rmcTail, false},
        {"over 180 degrees", "GPGLL,4916.45,N,18000.01,W,225444.00,A,A", false},
        {"hemispheres X and Y", rmc + "4807.0,X,01131.0,Y" + rmcTail, false},
        {"empty hemispheres", "GPGLL,3345.1234,,12311.1200,,225444.00,A,A", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Send(kGgaFix);
        rec.TakeFixes();
        Send(c.sentence);
        const auto fixes = rec.TakeFixes();
        ASSERT_EQ(fixes.size(), c.fix ? 1u : 0u);
        EXPECT_EQ(static_cast<bool>(Monitor().CurrentFix()), c.fix);
        if (!c.fix) continue;
        EXPECT_NEAR(fixes[0]->GetLatitude(), c.lat, 1e-9);
        EXPECT_NEAR(fixes[0]->GetLongitude(), c.lon, 1e-9);
        EXPECT_EQ(fixes[0]->GetTime(), c.time);
        EXPECT_EQ(fixes[0]->GetAltitude(), c.alt);
        EXPECT_EQ(fixes[0]->GetSpeed(), c.speed);
        EXPECT_EQ(Monitor().CurrentFix().Get(), fixes[0].Get());
    }
}

TEST_F(FixMonitorTest, ATimerOfADestroyedMonitorDoesNothing) {
    {
        FixMonitor m(true);
        m.SetListener(&rec);
        ASSERT_TRUE(m.StartTimer());
    }
    Seconds(8);
    EXPECT_EQ(rec.Lost(), 0);
}

TEST_F(FixMonitorTest, FixesCrossThreadsWhileTheTimerRuns) {
    // The reader thread decodes while the UI thread ticks; run under the thread sanitizer
    // this shows the fix and the tick count are guarded.
    ASSERT_TRUE(Monitor().StartTimer());
    DriveOptions o;
    o.seconds = 300;
    o.lostAfter = 100;
    o.lostSeconds = 20;
    const std::string capture = GenerateDrive(o);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        for (size_t i = 0; i < capture.size(); i += 10)
            decoder->Feed(capture.data() + i, static_cast<int>(std::min<size_t>(10, capture.size() - i)));
        done = true;
    });
    while (!done) Seconds(1);
    reader.join();
    EXPECT_EQ(rec.FixCount(), 280u * 3u);
}

}  // namespace
}  // namespace kestrix
