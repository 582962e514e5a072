// The command line in-process: the password digest and the export formats.
#include "ServerCommand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/TestSupport.h"

namespace kestrix::refserver {
namespace {

struct Result {
    int code;
    std::string out, err;
};

Result RunCommand(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int code = RunServerCommand(args, out, err, [] {});
    return {code, out.str(), err.str()};
}

TEST(ServerCommand, PasswordDigestIsLowerCaseHexMd5) {
    EXPECT_EQ(PasswordDigest("secret"), "5ebe2294ecd0e0f08eab7690d2a6ee69");
    EXPECT_EQ(PasswordDigest(""), "d41d8cd98f00b204e9800998ecf8427e");
}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = dir_.File("server.sqlite");
        ASSERT_TRUE(store_.Open(db_));
        ASSERT_TRUE(store_.AddUser("alice", PasswordDigest("secret"), alice_));
        ASSERT_TRUE(store_.AddUser("b<o>b & co", PasswordDigest("pw"), bob_));
        const StoredPoint live{PointKind::Live, "2026-12-06T10:00:01.250Z", std::nullopt, 52.5, -13.25, 34.5f, 12.25f};
        const StoredPoint track{PointKind::Track, "2026-12-06T10:00:02.000Z", "2026-12-06T09:59:00.000Z",
                                -0.125, 179.5, -20.0f, 0.0f};
        // Stored in two packets, the second first for bob, so order is by arrival.
        ASSERT_TRUE(store_.AddPoints(alice_, {live}));
        ASSERT_TRUE(store_.AddPoints(alice_, {track, track}));
        ASSERT_TRUE(store_.AddPoints(bob_, {track}));
    }

    test::TempDir dir_;
    std::string db_;
    PointStore store_;
    uint32_t alice_ = 0;
    uint32_t bob_ = 0;
};

TEST_F(ExportTest, JsonLinesOldestFirst) {
    Result r = RunCommand({"--db", db_, "export", "alice"});
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string track =
        "{\"kind\":\"track\",\"received\":\"2026-12-06T10:00:02.000Z\",\"time\":\"2026-12-06T09:59:00.000Z\","
        "\"lat\":-0.125,\"lon\":179.5,\"alt\":-20,\"speed\":0}\n";
    EXPECT_EQ(r.out,
              "{\"kind\":\"live\",\"received\":\"2026-12-06T10:00:01.250Z\",\"time\":null,"
              "\"lat\":52.5,\"lon\":-13.25,\"alt\":34.5,\"speed\":12.25}\n" +
                  track + track);
}

TEST_F(ExportTest, GpxDocument) {
    Result r = RunCommand({"export", "b<o>b & co", "--gpx", "--db", db_});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<gpx version=\"1.1\" creator=\"kestrix-server\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
              "  <trk>\n"
              "    <name>b&lt;o&gt;b &amp; co</name>\n"
              "    <trkseg>\n"
              "      <trkpt lat=\"-0.125\" lon=\"179.5\"><ele>-20</ele><time>2026-12-06T09:59:00.000Z</time>"
              "<type>track</type></trkpt>\n"
              "    </trkseg>\n"
              "  </trk>\n"
              "</gpx>\n");
    // Live points carry the time they were received.
    r = RunCommand({"--db", db_, "export", "alice", "--gpx"});
    EXPECT_NE(r.out.find("<trkpt lat=\"52.5\" lon=\"-13.25\"><ele>34.5</ele><time>2026-12-06T10:00:01.250Z</time>"
                         "<type>live</type></trkpt>"),
              std::string::npos)
        << r.out;
}

TEST_F(ExportTest, RefusesUnknownUsersAndMissingDatabases) {
    Result r = RunCommand({"--db", db_, "export", "carol"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kestrix-server: no user carol\n");
    EXPECT_EQ(r.out, "");
    const std::string missing = dir_.File("none.sqlite");
    r = RunCommand({"--db", missing, "export", "alice"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kestrix-server: no database at " + missing + "\n");
    EXPECT_FALSE(std::filesystem::exists(missing));  // an export creates nothing
}

}  // namespace
}  // namespace kestrix::refserver
