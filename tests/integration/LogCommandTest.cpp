#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "integration/ChildProcess.h"
#include "support/TestSupport.h"

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

TEST(LogCommandTest, DumpPrintsWholeRecordsAndSkipsAPartialTail) {
    struct Case {
        const char* what;
        size_t bytes;  // of kTwoRecords, then padding up to this many
        std::string out;
        bool tailNote;
    };
    const Case cases[] = {
        {"empty", 0, "", false},
        {"one record", 32, kTwoLines.substr(0, kTwoLines.find('\n') + 1), false},
        {"a record and a cut one", 40, kTwoLines.substr(0, kTwoLines.find('\n') + 1), true},
        {"two records", 64, kTwoLines, false},
        {"two records and 6 bytes", 70, kTwoLines, true},
    };
    TempDir dir;
    for (const Case& c : cases) {
        std::string bytes(kTwoRecords.begin(), kTwoRecords.begin() + std::min<size_t>(c.bytes, 64));
        bytes.resize(c.bytes, '\x7f');
        std::string path = dir.File("anna.log");
        WriteFile(path, bytes);
        Finished f = RunKestrix({"log", "dump", path}, dir.Path());
        EXPECT_EQ(f.exitCode, 0) << c.what << ": " << f.err;
        EXPECT_EQ(f.out, c.out) << c.what;
        EXPECT_EQ(f.err.find("partial record") != std::string::npos, c.tailNote) << c.what << ": " << f.err;
    }
}

TEST(LogCommandTest, MissingFileAndBadArgumentsAreRefused) {
    TempDir dir;
    Finished missing = RunKestrix({"log", "dump", dir.File("nope.log")}, dir.Path());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("nope.log: no such file"), std::string::npos) << missing.err;
    Finished folder = RunKestrix({"log", "dump", dir.Path()}, dir.Path());
    EXPECT_EQ(folder.exitCode, 1);
    for (auto args : {std::vector<std::string>{"log"}, {"log", "dump"}, {"log", "cat", "x"}}) {
        EXPECT_EQ(RunKestrix(args, dir.Path()).exitCode, 2) << args.size();
    }
}

}  // namespace
}  // namespace kestrix::test
