// The nmea commands as processes: what decode prints of a capture, the refusals, and the
// whole path from a capture replayed on a pseudo-terminal through "kestrix run" in Logger
// mode to the track log, through a full disk.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

#include "integration/Daemon.h"
#include "nmea/SyntheticCapture.h"
#include "support/Process.h"
#include "support/TestSupport.h"

namespace kestrix::test {
namespace {

// The sentence with its checksum's last digit changed.
std::string Damaged(std::string sentence) {
    sentence[sentence.size() - 3] ^= 1;
    return sentence;
}

// Five-decimal minutes and a millisecond time (u-blox), a GGA dated by the RMC before it,
// a damaged RMC, a GN talker's GLL in the south-west, a GGA without a fix, and the same
// place again 1.5 s later (which the logger's filter drops).
const std::string kCapture =
    MakeSentence("GPRMC,123519.250,A,4807.03812,N,01131.00000,E,022.4,084.4,070309,003.1,W") +
    MakeSentence("GPGGA,123520.00,4807.0400,N,01131.0100,E,1,08,0.9,545.4,M,46.9,M,,") +
    Damaged(MakeSentence("GPRMC,123520.500,A,4807.0600,N,01131.0000,E,000.0,084.4,070309,003.1,W")) +
    MakeSentence("GNGLL,3345.1234,S,07015.0000,W,123521.5,A,A") +
    MakeSentence("GPGGA,123522,,,,,0,00,,,M,,M,,") +
    MakeSentence("GPRMC,123523.000,A,3345.1234,S,07015.0000,W,000.0,000.0,070309,,");

TEST(NmeaCommandTest, DecodePrintsEveryFixAndASummary) {
    TempDir dir;
    WriteFile(dir.File("drive.nmea"), kCapture);
    Finished f = RunKestrix({"nmea", "decode", dir.File("drive.nmea")}, dir.Path());
    ASSERT_EQ(f.exitCode, 0) << f.err;
    // 48 + 7.03812/60, 11 + 31/60; 22.4 kn = 41.4848 km/h; 33 + 45.1234/60 south.
    EXPECT_EQ(f.out,
              "{\"time\":\"2009-03-07T12:35:19.250Z\",\"lat\":48.117302,\"lon\":11.516666666666667,\"alt\":0,"
              "\"speed_kmh\":41.4848,\"sentence\":\"GPRMC\"}\n"
              "{\"time\":\"2009-03-07T12:35:20.000Z\",\"lat\":48.117333333333335,\"lon\":11.516833333333333,"
              "\"alt\":545.4,\"speed_kmh\":0,\"sentence\":\"GPGGA\"}\n"
              "{\"time\":\"2009-03-07T12:35:21.500Z\",\"lat\":-33.75205666666667,\"lon\":-70.25,\"alt\":0,"
              "\"speed_kmh\":0,\"sentence\":\"GNGLL\"}\n"
              "{\"time\":\"2009-03-07T12:35:23.000Z\",\"lat\":-33.75205666666667,\"lon\":-70.25,\"alt\":0,"
              "\"speed_kmh\":0,\"sentence\":\"GPRMC\"}\n");
    EXPECT_NE(f.err.find("sentences framed: 6, checksum failures: 1, fixes: 4"), std::string::npos) << f.err;
}

TEST(NmeaCommandTest, AcceptedKeepsOnlyWhatTheLoggerWrites) {
    TempDir dir;
    WriteFile(dir.File("drive.nmea"), kCapture);
    Finished f = RunKestrix({"nmea", "decode", "--accepted", dir.File("drive.nmea")}, dir.Path());
    ASSERT_EQ(f.exitCode, 0) << f.err;
    EXPECT_EQ(std::count(f.out.begin(), f.out.end(), '\n'), 3) << f.out;
    EXPECT_EQ(f.out.find("12:35:23"), std::string::npos) << "the repeat 1.5 s later is dropped";
}

class NmeaReplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        Finished drive = RunKestrix({"nmea", "generate", "--seconds", "20"}, dir_.Path());
        ASSERT_EQ(drive.exitCode, 0) << drive.err;
        WriteFile(captureFile_, drive.out);
    }

    TempDir dir_;
    std::string captureFile_ = dir_.File("drive.nmea");
    std::string link_ = dir_.File("gps0");
};

TEST_F(NmeaReplayTest, RefusesWhatItCannotReadOrUse) {
    WriteFile(dir_.File("plain"), "keep me");
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"nmea", "decode", dir_.File("nothing.nmea")}, 1, "nothing.nmea"},
        {{"nmea", "transcode"}, 2, "usage"},
        {{"nmea", "replay", captureFile_}, 2, "usage: kestrix nmea replay"},
        {{"nmea", "replay", captureFile_, "--pty", link_, "--rate", "0"}, 2, "--rate takes a number"},
        {{"nmea", "replay", captureFile_, "--pty", link_, "--speed", "2"}, 2, "unexpected argument \"--speed\""},
        {{"nmea", "replay", dir_.File("missing.nmea"), "--pty", link_}, 1, "cannot read"},
        {{"nmea", "replay", captureFile_, "--pty", dir_.File("plain")}, 1, "is left alone"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        Finished f = RunKestrix(c.args, dir_.Path());
        EXPECT_EQ(f.exitCode, c.status);
        EXPECT_NE(f.err.find(c.message), std::string::npos) << f.err;
    }
    EXPECT_EQ(ReadFile(dir_.File("plain")), "keep me");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_)));
}

// "lat,lon,time of day" of each line of a log dump or a decode; newPlaces: only of lines
// at another place than the line before.
std::vector<std::string> Positions(const std::string& text, bool newPlaces = false) {
    static const std::regex kLine(R"re("lat":([^,]+),"lon":([^,]+))re"), kTime(R"re("time":"[^T]+T([^"]+)")re");
    std::vector<std::string> out;
    std::istringstream lines(text);
    std::smatch p, t;
    std::string last;
    for (std::string line; std::getline(lines, line);) {
        if (!std::regex_search(line, p, kLine) || !std::regex_search(line, t, kTime)) continue;
        char place[64];
        std::snprintf(place, sizeof place, "%.9f,%.9f,", std::stod(p[1]), std::stod(p[2]));
        if (!newPlaces || place != last) out.push_back(place + t[1].str());
        last = place;
    }
    return out;
}

// The car moves about 14 m a second: the daemon logs each second's first fix and drops the
// other fixes of that second at the same place. (A GGA takes its date from the machine's
// clock in the daemon, from the capture's last RMC in decode: the time of day is compared.)
// The data folder is a small file system of the test's own, full when the drive starts:
// the page says the log cannot be written, and once space returns the log catches up by
// itself and no place is missing. Full again at the end, a changed setting cannot be saved:
// config fails, the page says so, and the shutdown says so and exits 1.
TEST_F(NmeaReplayTest, DaemonLogsEachNewPlaceOfTheReplayedDriveThroughAFullDisk) {
    SmallDisk disk;
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs (root is needed): the full-disk case did not run";
    const std::string data = disk.Path();
    const std::string power = dir_.File("power");
    WritePowerSupply(power, true);
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"COM", link_}, {"ModeP", "2"},
                                      {"Login", "anna"}, {"Password", "secret"}}) {
        Finished f = RunKestrix({"config", "--data-dir", data, "set", name, value}, dir_.Path());
        ASSERT_EQ(f.exitCode, 0) << f.err;
    }
    Daemon daemon(data, power, dir_.Path());
    ASSERT_TRUE(daemon.Up()) << daemon.Process().Err();
    ASSERT_TRUE(daemon.WaitForPage("Mode: Logger")) << daemon.Process().Err();
    ASSERT_TRUE(disk.Fill());
    Process replay;
    ASSERT_TRUE(replay.Start({KestrixBinary(), "nmea", "replay", captureFile_, "--pty", link_, "--rate", "2"},
                             dir_.File("replay.log")));
    const std::string full = "Can not write the track log: No space left on device.";
    EXPECT_TRUE(daemon.WaitForPage(full)) << daemon.Process().Err();
    disk.Free();
    EXPECT_TRUE(WaitFor([&] { return daemon.NotificationHtml().find(full) == std::string::npos; }))
        << "the next fix is written and the page says no more";
    EXPECT_EQ(replay.Wait(std::chrono::seconds(60)), 0) << replay.Out();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_))) << "the player removes its link";
    // The player ends once the daemon has read its last bytes; their record follows.
    const std::string log = data + "/anna.log";
    EXPECT_TRUE(WaitFor([&] { return ReadFile(log).size() >= 20 * 32; }, std::chrono::seconds(10)));
    ASSERT_TRUE(disk.Fill());
    EXPECT_EQ(RunKestrix({"config", "--data-dir", data, "set", "ModeB", "1"}, dir_.Path()).exitCode, 1);
    EXPECT_TRUE(daemon.WaitForPage("Can not save the settings: No space left on device."));
    ASSERT_TRUE(daemon.Process().Signal(SIGTERM));
    EXPECT_EQ(daemon.Process().Wait(std::chrono::seconds(60)), 1);
    const std::string notSaved = "the settings could not be saved at shutdown (No space left on device)";
    EXPECT_NE(daemon.Process().Err().find(notSaved), std::string::npos) << daemon.Process().Err();

    const auto decoded = Positions(RunKestrix({"nmea", "decode", captureFile_}, dir_.Path()).out, true);
    ASSERT_EQ(decoded.size(), 20u);
    EXPECT_EQ(Positions(RunKestrix({"log", "dump", log}, dir_.Path()).out), decoded) << daemon.Process().Err();
}

}  // namespace
}  // namespace kestrix::test
