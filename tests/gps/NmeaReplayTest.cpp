// The replay command as a process: the bytes it plays and its refusals; and the whole
// path from a replayed receiver through "kestrix run" in Logger mode to the track log.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "GpsTestSupport.h"
#include "platform/SerialDevice.h"
#include "platform/Time.h"

namespace kestrix {
namespace {

using Ms = std::chrono::milliseconds;
using test::WaitFor;

const std::string kKestrix = KESTRIX_BINARY_DIR "/bin/kestrix";

class NmeaReplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kKestrix)) GTEST_SKIP() << kKestrix << " is not built";
        capture_ = test::TestDrive(20);
        test::WriteFile(captureFile_, capture_);
    }

    int Kestrix(const std::string& args, std::string* out = nullptr) {
        int status = -1;
        const std::string text = test::RunAndCapture(kKestrix + " " + args + " 2>&1", &status);
        if (out) *out = text;
        return status;
    }

    // Everything the line delivers until the player has ended (it waits for its last
    // bytes to be read) and the line is quiet or hung up.
    static std::string ReadAll(const std::string& path, test::ChildProcess& player) {
        platform::SerialDevice device;
        if (!device.Open(path) || !device.Configure(platform::LineSettings{})) return "<cannot open>";
        std::string got;
        uint8_t buf[4096];
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) {
            const long n = device.Read(buf, sizeof buf, nullptr);
            if (n > 0) {
                got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
            } else if (n < 0 || !player.Running()) {
                break;
            }
        }
        return got;
    }

    test::TempDir dir_;
    std::string capture_;
    std::string captureFile_ = dir_.File("drive.nmea");
    std::string link_ = dir_.File("gps0");
};

TEST_F(NmeaReplayTest, RefusesBadArguments) {
    test::WriteFile(dir_.File("plain"), "keep me");
    const struct {
        std::string args;
        int status;
        const char* message;
    } cases[] = {
        {"nmea replay", 2, "usage: kestrix nmea replay"},
        {"nmea replay " + captureFile_, 2, "usage"},
        {"nmea replay " + captureFile_ + " --pty " + link_ + " --rate 0", 2, "--rate takes a number"},
        {"nmea replay " + captureFile_ + " --pty " + link_ + " --speed 2", 2, "unexpected argument \"--speed\""},
        {"nmea replay " + dir_.File("missing.nmea") + " --pty " + link_, 1, "cannot read"},
        {"nmea replay " + captureFile_ + " --pty " + dir_.File("plain"), 1, "is left alone"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::string out;
        EXPECT_EQ(Kestrix(c.args, &out), c.status);
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
    }
    EXPECT_EQ(test::ReadFile(dir_.File("plain")), "keep me");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_)));
}

TEST_F(NmeaReplayTest, PlaysTheCaptureExactlyAndRemovesItsLink) {
    test::ChildProcess replay;
    ASSERT_TRUE(replay.Start({kKestrix, "nmea", "replay", captureFile_, "--pty", link_, "--rate", "50"},
                             dir_.File("replay.log")));
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(link_); }, Ms(10000))) << test::ReadFile(dir_.File("replay.log"));
    EXPECT_EQ(ReadAll(link_, replay), capture_);
    EXPECT_EQ(replay.Wait(10000), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_)));
    EXPECT_NE(test::ReadFile(dir_.File("replay.log")).find("20 bursts sent"), std::string::npos);
}

struct DumpedRecord {
    double lat;
    double lon;
    std::string time;
};

std::vector<DumpedRecord> ParseDump(const std::string& text) {
    std::vector<DumpedRecord> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        const size_t lat = line.find("\"lat\":"), lon = line.find("\"lon\":"), time = line.find("\"time\":\"");
        if (lat == std::string::npos || lon == std::string::npos || time == std::string::npos) continue;
        const size_t timeEnd = line.find('"', time + 8);
        out.push_back({std::stod(line.substr(lat + 6)), std::stod(line.substr(lon + 6)),
                       line.substr(time + 8, timeEnd - time - 8)});
    }
    return out;
}

TEST_F(NmeaReplayTest, DaemonLogsTheReplayedDriveInLoggerMode) {
    const std::string data = dir_.File("data");
    const std::string power = dir_.File("power");
    std::filesystem::create_directories(power + "/AC");
    test::WriteFile(power + "/AC/type", "Mains\n");
    test::WriteFile(power + "/AC/online", "1\n");
    for (const std::string& set : {"COM " + link_, std::string("ModeP 2"), std::string("Login anna"),
                                   std::string("Password secret")}) {
        std::string out;
        ASSERT_EQ(Kestrix("config --data-dir " + data + " set " + set, &out), 0) << out;
    }

    test::ChildProcess daemon;
    const std::string daemonLog = dir_.File("run.log");
    ASSERT_TRUE(daemon.Start({kKestrix, "run", "--data-dir", data, "--power-supply", power, "--http",
                              "127.0.0.1:" + std::to_string(test::FreeLoopbackPort())},
                             daemonLog));
    ASSERT_TRUE(WaitFor([&] { return test::ReadFile(daemonLog).find("Kestrix is running") != std::string::npos; },
                        Ms(20000)))
        << test::ReadFile(daemonLog);

    test::ChildProcess replay;
    ASSERT_TRUE(replay.Start({kKestrix, "nmea", "replay", captureFile_, "--pty", link_, "--rate", "5"},
                             dir_.File("replay.log")));
    EXPECT_EQ(replay.Wait(60000), 0) << test::ReadFile(dir_.File("replay.log"));
    // The player ends once the daemon has read its last bytes; their record follows.
    const std::string log = data + "/anna.log";
    EXPECT_TRUE(WaitFor([&] { return test::ReadFile(log).size() >= 20 * 32; }, Ms(10000)));
    EXPECT_EQ(daemon.Stop(20000), 0) << test::ReadFile(daemonLog);

    std::string dump;
    ASSERT_EQ(Kestrix("log dump " + log, &dump), 0) << dump;
    const auto records = ParseDump(dump);

    // Each second's first fix moves the car about 14 m: the logger keeps it and drops
    // the other sentences of that second at the same place.
    std::vector<test::FixRecord> expected;
    for (const auto& f : test::ReferenceFixes(capture_)) {
        if (expected.empty() || expected.back().lat != f.lat || expected.back().lon != f.lon) expected.push_back(f);
    }
    ASSERT_EQ(expected.size(), 20u);
    ASSERT_EQ(records.size(), expected.size()) << dump << test::ReadFile(daemonLog);
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        EXPECT_NEAR(records[i].lat, expected[i].lat, 1e-9);
        EXPECT_NEAR(records[i].lon, expected[i].lon, 1e-9);
        EXPECT_EQ(records[i].time, platform::FormatIsoUtc(expected[i].time, true));
    }
}

}  // namespace
}  // namespace kestrix
