#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "integration/ChildProcess.h"
#include "support/TestSupport.h"

namespace kestrix::test {
namespace {

std::string Sentence(const std::string& body, bool goodChecksum = true) {
    unsigned x = 0;
    for (char c : body) x ^= static_cast<unsigned char>(c);
    if (!goodChecksum) x ^= 0xFF;
    char sum[3];
    std::snprintf(sum, sizeof sum, "%02X", x);
    return "$" + body + "*" + sum + "\r\n";
}

// Five-decimal minutes and a millisecond time (u-blox), a GGA dated by the RMC before it,
// a damaged RMC, a GN talker's GLL in the south-west, a GGA without a fix, and the same
// place again 1.5 s later (which the logger's filter drops).
const std::string kCapture =
    Sentence("GPRMC,123519.250,A,4807.03812,N,01131.00000,E,022.4,084.4,070309,003.1,W") +
    Sentence("GPGGA,123520.00,4807.0400,N,01131.0100,E,1,08,0.9,545.4,M,46.9,M,,") +
    Sentence("GPRMC,123520.500,A,4807.0600,N,01131.0000,E,000.0,084.4,070309,003.1,W", false) +
    Sentence("GNGLL,3345.1234,S,07015.0000,W,123521.5,A,A") +
    Sentence("GPGGA,123522,,,,,0,00,,,M,,M,,") +
    Sentence("GPRMC,123523.000,A,3345.1234,S,07015.0000,W,000.0,000.0,070309,,");

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
    size_t lines = 0;
    for (char c : f.out) lines += c == '\n';
    EXPECT_EQ(lines, 3u) << f.out;
    EXPECT_EQ(f.out.find("12:35:23"), std::string::npos) << "the repeat 1.5 s later is dropped";
}

TEST(NmeaCommandTest, RefusesWhatItCannotRead) {
    TempDir dir;
    Finished missing = RunKestrix({"nmea", "decode", dir.File("nothing.nmea")}, dir.Path());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_FALSE(missing.err.empty());
    Finished unknown = RunKestrix({"nmea", "transcode"}, dir.Path());
    EXPECT_EQ(unknown.exitCode, 2);
}

}  // namespace
}  // namespace kestrix::test
