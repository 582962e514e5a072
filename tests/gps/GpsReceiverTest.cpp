#include "gps/GpsReceiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "GpsTestSupport.h"
#include "platform/GpsMultiplexer.h"

namespace kestrix {
namespace {

using Ms = std::chrono::milliseconds;
using test::WaitFor;

long long ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - since).count();
}

class GpsReceiverTest : public test::PtyTest {
protected:
    // Writes in uneven pieces, as a receiver's bytes arrive.
    void WriteInPieces(const std::string& bytes) {
        size_t pos = 0;
        for (size_t piece = 1; pos < bytes.size(); piece = piece % 23 + 1) {
            ASSERT_TRUE(pty_.Write(std::string_view(bytes).substr(pos, piece), 5000));
            pos += piece;
        }
    }

    test::RecordingListener listener_;
};

TEST_F(GpsReceiverTest, EveryByteReachesTheFramerOnceAndInOrder) {
    const std::string capture = test::TestDrive(30);
    const auto expectedSentences = test::SentencesOf(capture);
    const auto expectedFixes = test::ReferenceFixes(capture);
    ASSERT_GT(expectedFixes.size(), 60u);

    test::RawRecorder recorder;  // outlives the receiver that holds it
    GpsReceiver receiver(&listener_);
    const uint32_t recorderId = receiver.AddRawObserver(&recorder);
    ASSERT_TRUE(receiver.Start(&settings_));
    ASSERT_TRUE(WaitFor([&] { return receiver.Port().IsOpen(); }, Ms(5000)));
    WriteInPieces(capture);
    ASSERT_TRUE(WaitFor([&] { return recorder.Sentences().size() >= expectedSentences.size(); }, Ms(20000)))
        << recorder.Sentences().size() << " of " << expectedSentences.size();

    EXPECT_EQ(recorder.Sentences(), expectedSentences);
    EXPECT_EQ(receiver.SentencesFramed(), expectedSentences.size());
    EXPECT_EQ(receiver.ChecksumFailures(), 0u);
    EXPECT_EQ(listener_.Fixes(), expectedFixes);
    EXPECT_GT(receiver.GetSignalLevel(), 0);
    receiver.Stop();
    EXPECT_EQ(receiver.GetSignalLevel(), 0);
    receiver.RemoveRawObserver(recorderId);
}

// A missing port is retried twice a second until it appears; an unplugged receiver is
// opened again when it returns.
TEST_F(GpsReceiverTest, MissingOrUnpluggedPortIsRetriedTwiceASecond) {
    const std::string link = dir_.File("gps0");
    settings_.SetGpsPort(link);
    GpsReceiver receiver(&listener_);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(receiver.Start(&settings_));
    ASSERT_TRUE(WaitFor([&] { return receiver.Port().OpenAttempts() >= 4; }, Ms(10000)));
    const long long elapsed = ElapsedMs(t0);
    std::printf("4 open attempts took %lld ms\n", elapsed);
    // The thread waits 500 ms before each attempt: four cannot come sooner.
    EXPECT_GE(elapsed, 1900);
    EXPECT_TRUE(receiver.IsRunning());
    EXPECT_EQ(receiver.SentencesFramed(), 0u);

    const std::string capture = test::TestDrive(2);
    const size_t perCapture = test::ReferenceFixes(capture).size();
    const size_t sentences = test::SentencesOf(capture).size();
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

TEST_F(GpsReceiverTest, StartingTwiceStopsTheFirstReaderWithOneFixLoss) {
    GpsReceiver receiver(&listener_);
    ASSERT_TRUE(receiver.Start(&settings_));
    ASSERT_TRUE(WaitFor([&] { return receiver.Port().IsOpen(); }, Ms(5000)));
    ASSERT_TRUE(receiver.Start(&settings_));
    EXPECT_EQ(listener_.FixLostCount(), 1);
    EXPECT_TRUE(receiver.IsRunning());
    // The second reader works: it opens the port again and decodes.
    ASSERT_TRUE(WaitFor([&] { return receiver.Port().IsOpen(); }, Ms(5000)));
    const std::string capture = test::TestDrive(2);
    ASSERT_TRUE(pty_.Write(capture));
    ASSERT_TRUE(WaitFor([&] { return listener_.FixCount() == test::ReferenceFixes(capture).size(); }, Ms(10000)));
    receiver.Stop();
    EXPECT_EQ(listener_.FixLostCount(), 2);
    EXPECT_FALSE(receiver.IsRunning());
}

TEST_F(GpsReceiverTest, StopWithASilentPortReturnsAndClosesIt) {
    GpsReceiver receiver(&listener_);
    ASSERT_TRUE(receiver.Start(&settings_));
    ASSERT_TRUE(WaitFor([&] { return receiver.Port().IsOpen(); }, Ms(5000)));
    // Let the reader block in a read of the silent port.
    ASSERT_TRUE(pty_.Write("$GPGGA,"));
    ASSERT_TRUE(WaitFor([&] { return pty_.Pending() == 0; }, Ms(5000)));
    const auto t0 = std::chrono::steady_clock::now();
    receiver.Stop();
    const long long stopMs = ElapsedMs(t0);
    std::printf("Stop with a silent port returned after %lld ms\n", stopMs);
    EXPECT_LT(stopMs, 1000) << "well within 2000 ms";
    EXPECT_FALSE(receiver.IsRunning());
    EXPECT_FALSE(receiver.Port().IsOpen());
    EXPECT_EQ(listener_.FixLostCount(), 1);
}

TEST_F(GpsReceiverTest, StartRefusesMissingSettingsAndStopAlwaysReportsTheLoss) {
    GpsReceiver receiver(&listener_);
    receiver.Stop();  // idle: still reports the loss
    EXPECT_EQ(listener_.FixLostCount(), 1);
    TrackerSettings unset, tooLong, empty;  // unset: gpsPort never set
    tooLong.SetGpsPort(std::string(300, 'x'));
    empty.SetGpsPort(std::string());
    for (TrackerSettings* refused : {static_cast<TrackerSettings*>(nullptr), &unset, &tooLong}) {
        EXPECT_FALSE(receiver.Start(refused));
        EXPECT_FALSE(receiver.IsRunning());
    }
    // An empty but set name starts the reader, whose attempts to open fail.
    ASSERT_TRUE(receiver.Start(&empty));
    EXPECT_TRUE(receiver.IsRunning());
    ASSERT_TRUE(WaitFor([&] { return receiver.Port().OpenAttempts() >= 1; }, Ms(5000)));
    EXPECT_FALSE(receiver.Port().IsOpen());
    receiver.Stop();
    EXPECT_EQ(listener_.FixLostCount(), 2);
}

// The fixes seen through gpsd are a run of the capture's fixes (the capture loops in
// gpsfake, so the run may wrap around).
void ExpectRunOf(const std::vector<test::FixRecord>& got, const std::vector<test::FixRecord>& reference) {
    ASSERT_FALSE(got.empty());
    size_t at = reference.size();
    for (size_t i = 0; i < reference.size(); ++i) {
        if (reference[i] == got[0]) {
            at = i;
            break;
        }
    }
    ASSERT_LT(at, reference.size()) << "first fix is not in the capture";
    for (size_t i = 0; i < got.size(); ++i) {
        const auto& want = reference[(at + i) % reference.size()];
        ASSERT_TRUE(got[i] == want) << "fix " << i << ": " << got[i].lat << "," << got[i].lon << " @" << got[i].time
                                    << " expected " << want.lat << "," << want.lon << " @" << want.time;
    }
}

TEST_F(GpsReceiverTest, GpsdGivesTheSameFixesAsTheSerialLine) {
    const std::string capture = test::TestDrive(120);
    const std::string file = dir_.File("drive.nmea");
    test::WriteFile(file, capture);
    const auto reference = test::ReferenceFixes(capture);

    // The same capture through the pseudo-terminal...
    {
        GpsReceiver receiver(&listener_);
        ASSERT_TRUE(receiver.Start(&settings_));
        ASSERT_TRUE(WaitFor([&] { return receiver.Port().IsOpen(); }, Ms(5000)));
        WriteInPieces(capture);
        ASSERT_TRUE(WaitFor([&] { return listener_.FixCount() == reference.size(); }, Ms(20000)));
        receiver.Stop();
        EXPECT_EQ(listener_.Fixes(), reference);
    }

    // ...and through gpsd as the multiplexer port.
    test::FakeGpsd gpsd;
    std::string reason;
    if (!gpsd.Start(file, dir_.File("gpsfake.log"), reason)) GTEST_SKIP() << reason;
    test::RecordingListener viaGpsd;
    TrackerSettings gpd;
    gpd.SetGpsPort("GPD0:");
    gpd.SetBaudRate(4800);
    GpsReceiver receiver(&viaGpsd);
    ASSERT_TRUE(receiver.Start(&gpd));
    const bool enough = WaitFor([&] { return viaGpsd.FixCount() >= 40; }, Ms(30000));
    receiver.Stop();
    gpsd.Stop();
    platform::SetGpsdPort(platform::kDefaultGpsdPort);
    ASSERT_TRUE(enough) << viaGpsd.FixCount() << " fixes through gpsd";
    ExpectRunOf(viaGpsd.Fixes(), reference);
}

}  // namespace
}  // namespace kestrix
