#include "gps/GpsReceiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "GpsTestSupport.h"
#include "nmea/GpsDecoder.h"
#include "platform/GpsMultiplexer.h"

namespace kestrix {
namespace {

using Ms = std::chrono::milliseconds;
using test::WaitFor;

long long ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - since).count();
}

// How many sentences a decoder fed the whole capture in memory frames.
uint64_t FramedIn(const std::string& capture) {
    test::FixRecorder fixes;
    GpsDecoder decoder(&fixes);
    decoder.Feed(capture);
    return decoder.SentencesFramed();
}

class GpsReceiverTest : public test::PtyTest {
protected:
    test::FixRecorder listener_;
};

// A missing port is retried twice a second until it appears; an unplugged receiver is
// opened again when it returns.
TEST_F(GpsReceiverTest, MissingOrUnpluggedPortIsRetriedTwiceASecond) {
    const std::string link = dir_.File("gps0");
    settings_.SetGpsPort(link);
    GpsReceiver receiver(&listener_);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(receiver.Start(&settings_));
    ASSERT_TRUE(WaitFor([&] { return receiver.Port().OpenAttempts() >= 4; }, Ms(10000)));
    // The thread waits 500 ms before each attempt: four cannot come sooner.
    EXPECT_GE(ElapsedMs(t0), 1900);
    EXPECT_TRUE(receiver.IsRunning());
    EXPECT_EQ(receiver.SentencesFramed(), 0u);

    const std::string capture = test::TestDrive(2);
    const size_t perCapture = test::ReferenceFixes(capture).size();
    const uint64_t sentences = FramedIn(capture);
    for (size_t plugged = 1; plugged <= 2; ++plugged) {
        auto pty = std::make_unique<platform::PseudoTerminal>();
        ASSERT_TRUE(pty->Create());
        ASSERT_TRUE(pty->LinkAt(link));
        ASSERT_TRUE(WaitFor([&] { return receiver.Port().IsOpen(); }, Ms(5000)));
        ASSERT_TRUE(pty->Write(capture));
        // The capture goes on after its last fix; unplugging before the reader has framed
        // it all would leave half a sentence that swallows the next receiver's first one.
        ASSERT_TRUE(WaitFor(
            [&] {
                return receiver.SentencesFramed() == plugged * sentences && listener_.FixCount() == plugged * perCapture;
            },
            Ms(10000)))
            << receiver.SentencesFramed() << " sentences, " << listener_.FixCount() << " fixes";
        pty.reset();  // unplugged: the device node goes away
        ASSERT_TRUE(WaitFor([&] { return !receiver.Port().IsOpen(); }, Ms(5000)));
    }
    EXPECT_EQ(receiver.ChecksumFailures(), 0u);
    receiver.Stop();
}

// Through gpsd as the multiplexer port, the fixes are a run of what the decoder makes of
// the capture fed whole (the capture loops in gpsfake, so the run may wrap around).
TEST_F(GpsReceiverTest, GpsdGivesTheSameFixesAsTheCapture) {
    const std::string capture = test::TestDrive(120);
    const std::string file = dir_.File("drive.nmea");
    test::WriteFile(file, capture);
    const auto reference = test::ReferenceFixes(capture);
    test::FakeGpsd gpsd;
    std::string reason;
    ASSERT_TRUE(gpsd.Start(file, dir_.File("gpsfake.log"), reason)) << reason;
    TrackerSettings gpd;
    gpd.SetGpsPort("GPD0:");
    gpd.SetBaudRate(4800);
    GpsReceiver receiver(&listener_);
    ASSERT_TRUE(receiver.Start(&gpd));
    const bool enough = WaitFor([&] { return listener_.FixCount() >= 40; }, Ms(30000));
    receiver.Stop();
    ASSERT_TRUE(enough) << listener_.FixCount() << " fixes through gpsd";
    const auto got = test::Described(listener_.Fixes());
    const auto at = std::find(reference.begin(), reference.end(), got[0]);
    ASSERT_NE(at, reference.end()) << "first fix " << got[0] << " is not in the capture";
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i], reference[(at - reference.begin() + i) % reference.size()]) << "fix " << i;
    }
}

}  // namespace
}  // namespace kestrix
