#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/DeviceFs.h"
#include "settings/TrackerSettings.h"
#include "support/Process.h"
#include "support/TestSupport.h"
#include "tracklog/TrackLog.h"

namespace kestrix::test {
namespace {

// 55.75 N 37.625 E, 150.5 m, 36 km/h at 2009-03-07 14:05:09 UTC, then 33.5 S 70.25 W with no
// altitude or speed 1.5 s later: 32-byte little-endian records, written out by hand.
const std::vector<uint8_t> kTwoRecords = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0xe0, 0x4b, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0xd0, 0x42, 0x40,
    0x00, 0x80, 0x16, 0x43, 0x00, 0x00, 0x10, 0x42, 0x80, 0x58, 0x6c, 0xb9, 0x2d, 0x9f, 0xc9, 0x01,
    0x00, 0x00, 0x00, 0x00, 0x00, 0xc0, 0x40, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x90, 0x51, 0xc0,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x3a, 0x51, 0xba, 0x2d, 0x9f, 0xc9, 0x01,
};
const std::string kTwoLines =
    "{\"lat\":55.75,\"lon\":37.625,\"alt\":150.5,\"speed\":36,\"time\":\"2009-03-07T14:05:09.000Z\"}\n"
    "{\"lat\":-33.5,\"lon\":-70.25,\"alt\":0,\"speed\":0,\"time\":\"2009-03-07T14:05:10.500Z\"}\n";

std::string Bytes(size_t n) {
    std::string bytes(kTwoRecords.begin(), kTwoRecords.begin() + std::min<size_t>(n, 64));
    bytes.resize(n, '\x7f');
    return bytes;
}

// Which records a file holds is the record reader's test; what dump leaves out it says.
TEST(LogCommandTest, DumpPrintsWholeRecordsAndNotesWhatItLeftOut) {
    TempDir dir;
    const std::string log = dir.File("anna.log");
    const struct {
        std::string bytes;
        std::string err;
    } cases[] = {
        {Bytes(64), ""},
        {Bytes(70), "kestrix log: " + log + ": ignored a partial record of 6 bytes at the end\n"},
        {Bytes(64) + std::string(64, '\0'), "kestrix log: " + log + ": left out 2 damaged records\n"},
    };
    for (const auto& c : cases) {
        WriteFile(log, c.bytes);
        Finished f = RunKestrix({"log", "dump", log}, dir.Path());
        EXPECT_EQ(f.exitCode, 0) << f.err;
        EXPECT_EQ(f.out, kTwoLines);
        EXPECT_EQ(f.err, c.err);
    }
}

// "Convert to GPX" run in this process on a copy of the log in its own folder.
std::string ExportedGpx(const std::string& folder, const std::string& logBytes) {
    std::filesystem::create_directory(folder);
    WriteFile(folder + "/anna.log", logBytes);
    platform::SetDeviceRoot(folder);
    TrackerSettings settings;
    settings.SetLogPath(std::string("\\anna.log"));
    TrackLog::SetSettingsSource([&settings] { return &settings; });
    TrackLog log(nullptr);
    EXPECT_TRUE(log.ExportGpx());
    TrackLog::SetSettingsSource(nullptr);
    return ReadFile(folder + "/anna.gpx");
}

TEST(LogCommandTest, GpxWritesTheExportsBytesBesideTheLogAndNeverTouchesIt) {
    TempDir dir;
    const std::string log = Bytes(70);
    const std::string exported = ExportedGpx(dir.File("export"), log);
    WriteFile(dir.File("anna.log"), log);

    Finished first = RunKestrix({"log", "gpx", dir.File("anna.log")}, dir.Path());
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.err, "kestrix log: wrote 2 points to " + dir.File("anna.gpx") + "\nkestrix log: " +
                             dir.File("anna.log") + ": ignored a partial record of 6 bytes at the end\n");
    EXPECT_EQ(ReadFile(dir.File("anna.gpx")), exported);

    // The name is taken: the next one gets the export's counter, and the track its name.
    Finished second = RunKestrix({"log", "gpx", dir.File("anna.log")}, dir.Path());
    EXPECT_EQ(second.exitCode, 0) << second.err;
    std::string renamed = exported;
    renamed.replace(renamed.find("<name>anna<"), 11, "<name>anna_000<");
    EXPECT_EQ(ReadFile(dir.File("anna_000.gpx")), renamed);
    EXPECT_EQ(ReadFile(dir.File("anna.log")), log) << "the log is neither removed nor filled up";
}

// The document itself is the GeoJSON writer's golden table; here the command's options.
TEST(LogCommandTest, GeoJsonWritesTheDaemonsDocument) {
    TempDir dir;
    WriteFile(dir.File("anna.log"), Bytes(70));
    Finished out = RunKestrix({"log", "geojson", dir.File("anna.log"), "--from", "2009-03-07T14:05:10Z"}, dir.Path());
    EXPECT_EQ(out.exitCode, 0) << out.err;
    EXPECT_NE(out.out.find("{\"type\":\"FeatureCollection\",\"summary\":{\"records\":1,\"vertices\":2,"), std::string::npos)
        << out.out;
    EXPECT_NE(out.out.find("\"log\":\"" + dir.File("anna.log") + "\""), std::string::npos) << out.out;
    EXPECT_EQ(out.err, "kestrix log: wrote 1 records as 2 vertices to standard output\n");
    Finished file = RunKestrix({"log", "geojson", "-o", dir.File("trip.json"), "--to", "2009-03-07T14:05:10Z",
                                "--from", "2009-03-07", "--points", "2", dir.File("anna.log")}, dir.Path());
    EXPECT_EQ(file.exitCode, 0) << file.err;
    EXPECT_NE(ReadFile(dir.File("trip.json")).find("\"records\":1,"), std::string::npos);
}

TEST(LogCommandTest, RefusesWhatItCannotReadOrWrite) {
    TempDir dir;
    WriteFile(dir.File("anna.log"), Bytes(64));
    TempDir elsewhere;
    std::filesystem::create_directory(dir.File("trip"));
    WriteFile(dir.File("trip/anna.log"), Bytes(64));
    std::filesystem::create_symlink(elsewhere.File("x"), dir.File("trip/anna.gpx"));  // dangling
    std::filesystem::create_symlink(dir.File("anna.log"), dir.File("trip/alias.log"));
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    } cases[] = {
        {{"log", "dump", dir.File("nope.log")}, 1, dir.File("nope.log") + ": no such file"},
        {{"log", "dump", dir.Path()}, 1, dir.Path()},
        {{"log", "dump"}, 2, "usage:"},
        {{"log", "cat", "x"}, 2, "usage:"},
        {{"log", "gpx", dir.File("nope.log")}, 1, dir.File("nope.log") + ": No such file or directory"},
        {{"log", "gpx", dir.Path()}, 1, dir.Path() + ": Is a directory"},
        {{"log", "gpx", dir.File("anna.log"), "-o", dir.File("no/x.gpx")}, 1,
         dir.File("no/x.gpx") + ": No such file or directory"},
        {{"log", "gpx", dir.File("anna.log"), "-o", dir.File("./anna.log")}, 2, "is the log itself"},
        {{"log", "gpx", dir.File("anna.log"), "-o"}, 2, "-o needs a file"},
        // A log is read through a link, but nothing is written through one out of its folder.
        {{"log", "gpx", dir.File("trip/anna.log")}, 1, "\\anna.gpx is refused: a symbolic link leads it out of " +
                                                           dir.File("trip") + ", to " + elsewhere.File("x")},
        {{"log", "gpx", dir.File("trip/alias.log")}, 0, "wrote 2 points to " + dir.File("trip/alias.gpx")},
        {{"log", "geojson", dir.File("nope.log")}, 1, dir.File("nope.log") + ": No such file or directory"},
        {{"log", "geojson", dir.File("anna.log"), "--points", "1"}, 2, "--points takes a whole number from 2 to 50000"},
        {{"log", "geojson", dir.File("anna.log"), "--from", "yesterday"}, 2, "--from takes a UTC time"},
        {{"log", "geojson", dir.File("anna.log"), "-o", dir.File("anna.log")}, 2, "is the log itself"},
    };
    for (const Case& c : cases) {
        Finished f = RunKestrix(c.args, dir.Path());
        EXPECT_EQ(f.exitCode, c.exitCode) << c.message;
        EXPECT_NE(f.err.find(c.message), std::string::npos) << f.err;
    }
    EXPECT_EQ(ReadFile(dir.File("anna.log")), Bytes(64));
    EXPECT_FALSE(std::filesystem::exists(elsewhere.File("x")));
}

}  // namespace
}  // namespace kestrix::test
