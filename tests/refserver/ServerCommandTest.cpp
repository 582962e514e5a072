// The command line in-process (export formats, usage errors, a taken web port)
// and the real kestrix-server program as a process: the "listening on" and "web pages on"
// lines, a login over TCP, and a clean exit on SIGINT and SIGTERM.
#include "ServerCommand.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <sstream>

#include "Credential.h"
#include "SqliteStore.h"
#include "TestClient.h"
#include "TestDatabase.h"
#include "WebFrontEnd.h"
#include "support/Process.h"
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

// What the tracker sends (an MD5 digest, in either case) checks against the salted hash the
// database keeps; nothing else does.
TEST(ServerCommand, PasswordsAreKeptAsSaltedHashesOfTheirDigest) {
    EXPECT_EQ(PasswordDigest("secret"), "5ebe2294ecd0e0f08eab7690d2a6ee69");
    EXPECT_EQ(PasswordDigest(""), "d41d8cd98f00b204e9800998ecf8427e");
    const std::string a = MakeCredential(PasswordDigest("secret"));
    const std::string b = MakeCredential(PasswordDigest("secret"));
    EXPECT_NE(a, b) << "each has its own salt";
    EXPECT_EQ(a.size(), std::string("scrypt$2048$8$1$").size() + 32 + 1 + 64) << a;
    EXPECT_TRUE(VerifyCredential(a, "5EBE2294ECD0E0F08EAB7690D2A6EE69"));
    const std::pair<std::string, std::string> refused[] = {
        {a, PasswordDigest("Secret")}, {a, ""}, {PasswordDigest("secret"), PasswordDigest("secret")},
        {a + "$00", PasswordDigest("secret")}, {"scrypt$0$8$1$00$" + std::string(64, '0'), ""},
        {"scrypt$2048$8$1$zz$" + std::string(64, '0'), ""}};
    for (const auto& [credential, digest] : refused) EXPECT_FALSE(VerifyCredential(credential, digest)) << credential;
    EXPECT_FALSE(IsCredential(PasswordDigest("secret")));
}

// The account commands and prune in turn on one database, each with exactly what it says;
// the file is its owner's only.
TEST(ServerCommand, AccountCommands) {
    test::TempDir dir;
    const std::string db = dir.File("server.sqlite");
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out, err;
    };
    const std::string header = "id\tname\tadmin\tlive\ttrack\tlast point\n";
    const Case cases[] = {
        {{"user", "list"}, 1, "", "kestrix-server: no database at " + db + "\n"},
        {{"user", "add", "anna", "pw", "--admin"}, 0, "1\n", ""},
        {{"user", "add", "ben", "pw"}, 0, "2\n", ""},
        {{"user", "admin", "ben", "on"}, 0, "ben is an administrator\n", ""},
        {{"user", "admin", "anna", "off"}, 0, "anna is not an administrator\n", ""},
        {{"user", "admin", "carol", "on"}, 1, "", "kestrix-server: no user carol\n"},
        {{"user", "passwd", "ben", "new"}, 0, "changed the password of ben and signed it out of the web pages\n", ""},
        {{"user", "passwd", "ben", "a\tb"}, 2, "", "kestrix-server: The password cannot contain control characters.\n"},
        {{"prune", "--before", "2026-12-06"}, 0, "deleted 0 points received before 2026-12-06T00:00:00.000Z\n", ""},
        {{"prune", "--before", "2026-12-07", "--user", "ben"}, 0,
         "deleted 1 point received before 2026-12-07T00:00:00.000Z by ben\n", ""},
        {{"prune", "--before", "2026-12-07", "--user", "carol"}, 1, "", "kestrix-server: no user carol\n"},
        {{"prune", "--before", "yesterday"}, 2, "",
         "kestrix-server: --before is a time: YYYY-MM-DD, YYYY-MM-DDTHH:MM:SSZ or YYYY-MM-DDTHH:MM:SS.mmmZ (UTC)\n"},
        {{"user", "list"}, 0, header + "1\tanna\tno\t2\t0\t2026-12-06T10:00:01.000Z\n2\tben\tyes\t0\t0\t-\n", ""},
        {{"user", "del", "anna"}, 0, "deleted anna and its 2 points\n", ""},
        {{"user", "del", "anna"}, 1, "", "kestrix-server: no user anna\n"},
        {{"user", "list"}, 0, header + "2\tben\tyes\t0\t0\t-\n", ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), {"--db", db});
        Result r = RunCommand(args);
        EXPECT_EQ(std::tie(r.code, r.out, r.err), std::tie(c.code, c.out, c.err)) << c.args[0] << " " << c.args[1];
        if (c.args.size() > 2 && c.args[1] == "add" && c.args[2] == "ben") {
            SqliteStore store;
            ASSERT_TRUE(store.Open(db));
            const StoredPoint p{.receivedMs = 1796551201000};
            ASSERT_TRUE(store.AddPoints(1, std::vector{p, p}));
            ASSERT_TRUE(store.AddPoints(2, std::vector{p}));
        }
    }
    SqliteStore store;
    ASSERT_TRUE(store.Open(db));
    UserRecord ben;
    ASSERT_TRUE(store.FindUser("ben", ben));
    EXPECT_TRUE(VerifyCredential(ben.credential, PasswordDigest("new")));
    EXPECT_EQ(std::filesystem::status(db).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(ServerCommand, BadCommandLinesGiveUsage) {
    const std::vector<std::vector<std::string>> bad = {
        {"user"}, {"user", "add", "x"}, {"user", "del", "x", "y"}, {"export"}, {"export", "a", "b"},
        {"--db"}, {"--listen"}, {"--bogus"}, {"frobnicate"}, {"user", "add", "a", "b", "--gpx"},
        {"--web"}, {"--web", "nowhere"}, {"--web", "127.0.0.1:99999"}, {"user", "admin", "x", "yes"},
        {"user", "list", "x"}, {"user", "del", "x", "--admin"}, {"export", "x", "--admin"}, {"prune"},
        {"prune", "--user", "x"}, {"user", "list", "--before", "2026-12-06"}, {"--registration", "maybe"},
        {"--tiles", "ftp://x/{z}/{x}/{y}"}, {"--keep-days", "0"}, {"--admin"},
    };
    for (const auto& args : bad) {
        Result r = RunCommand(args);
        EXPECT_EQ(r.code, 2) << args[0];
        EXPECT_NE(r.err.find("usage: kestrix-server"), std::string::npos) << args[0];
    }
}

// The command line makes only the accounts the web form would make.
TEST(ServerCommand, UserAddRefusesWhatTheFormRefuses) {
    test::TempDir dir;
    const std::string db = dir.File("server.sqlite");
    const std::string slash = "kestrix-server: The login cannot contain / or \\: the tracker names its log file after it.\n";
    const std::pair<std::string, std::string> cases[] = {
        {"a/b", slash}, {"a\\b", slash},
        {"a\tb", "kestrix-server: The login cannot contain control characters.\n"},
        {" ann", "kestrix-server: The login cannot begin or end with a space.\n"},
    };
    for (const auto& [name, message] : cases) {
        Result r = RunCommand({"--db", db, "user", "add", name, "secret"});
        EXPECT_EQ(r.code, 2) << name;
        EXPECT_EQ(r.err, message) << name;
    }
    EXPECT_EQ(RunCommand({"--db", db, "user", "add", "anna", "secret"}).out, "1\n");
}

// Pages asked for by address must be served; the default ones are not worth losing the
// tracking server for (taken here by this test or by whoever already holds the port).
TEST(ServerCommand, WebPagesOnATakenPort) {
    test::TempDir dir;
    const std::string db = dir.File("server.sqlite");
    WebFrontEnd taken(WebOptions{"127.0.0.1:0", db, "127.0.0.1:1201", nullptr});
    ASSERT_TRUE(taken.Start()) << taken.Error();
    Result r = RunCommand({"--listen", "127.0.0.1:0", "--db", db, "--web", taken.Address()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "kestrix-server: cannot serve the web pages on " + taken.Address() + ": Address already in use\n");
    WebFrontEnd usual(WebOptions{"127.0.0.1:" + std::to_string(kDefaultWebPort), db, "127.0.0.1:1201", nullptr});
    usual.Start();
    r = RunCommand({"--listen", "127.0.0.1:0", "--db", db});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("listening on 127.0.0.1:", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "kestrix-server: cannot serve the web pages on 127.0.0.1:1280: Address already in use; "
                     "tracking goes on without them (--web ADDR:PORT moves them)\n");
}

// A file of the first server (its tables, no schema version) is upgraded in place by the
// first command that opens it, which says so, and keeps its accounts and points.
TEST(ServerCommand, AFileOfTheFirstServerIsUpgradedInPlace) {
    test::TestDatabase db(test::Backend::Sqlite);
    ASSERT_TRUE(db.Execute(
        "CREATE TABLE users (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL UNIQUE, digest TEXT NOT NULL);"
        "CREATE TABLE points (id INTEGER PRIMARY KEY AUTOINCREMENT, user_id INTEGER NOT NULL, kind TEXT NOT NULL,"
        " received TEXT NOT NULL, time TEXT, lat REAL NOT NULL, lon REAL NOT NULL, alt REAL NOT NULL,"
        " speed REAL NOT NULL);"
        "CREATE INDEX points_user ON points(user_id, id);"
        "INSERT INTO users(name, digest) VALUES ('anna', '5ebe2294ecd0e0f08eab7690d2a6ee69');"
        "INSERT INTO points(user_id, kind, received, time, lat, lon, alt, speed) VALUES"
        " (1, 'live', '2026-12-06T10:00:01.250Z', NULL, 52.5, -13.25, 34.5, 12.25),"
        " (1, 'track', '2026-12-06T10:00:02.000Z', '2026-12-06T09:59:00.000Z', -0.125, 179.5, -20, 0);"));
    const std::string lines =
        "{\"kind\":\"live\",\"received\":\"2026-12-06T10:00:01.250Z\",\"time\":null,\"lat\":52.5,\"lon\":-13.25,"
        "\"alt\":34.5,\"speed\":12.25}\n"
        "{\"kind\":\"track\",\"received\":\"2026-12-06T10:00:02.000Z\",\"time\":\"2026-12-06T09:59:00.000Z\","
        "\"lat\":-0.125,\"lon\":179.5,\"alt\":-20,\"speed\":0}\n";
    Result r = RunCommand({"--db", db.Location(), "export", "anna"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "kestrix-server: upgraded the database " + db.Location() + " from schema version 1 to 3\n");
    EXPECT_EQ(r.out, lines);
    EXPECT_EQ(std::filesystem::status(db.Location()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    r = RunCommand({"--db", db.Location(), "user", "add", "ben", "pw"});
    EXPECT_EQ(std::tie(r.code, r.out, r.err), std::make_tuple(0, std::string("2\n"), std::string()));
}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = dir_.File("server.sqlite");
        ASSERT_TRUE(store_.Open(db_));
        ASSERT_TRUE(store_.AddUser("alice", PasswordDigest("secret"), alice_));
        ASSERT_TRUE(store_.AddUser("b<o>b & co", PasswordDigest("pw"), bob_));
        const StoredPoint live{.receivedMs = 1796551201250, .latitude = 52.5, .longitude = -13.25,
                               .altitude = 34.5f, .speed = 12.25f};
        // Received 2026-12-06T10:00:02.000Z, fixed at 09:59:00.
        const StoredPoint track{.receivedMs = 1796551202000, .timeMs = 1796551140000, .latitude = -0.125,
                                .longitude = 179.5, .altitude = -20.0f, .kind = PointKind::Track};
        ASSERT_TRUE(store_.AddPoints(alice_, std::vector{live}));
        ASSERT_TRUE(store_.AddPoints(alice_, std::vector{track, track}));
        ASSERT_TRUE(store_.AddPoints(bob_, std::vector{track}));
    }

    test::TempDir dir_;
    std::string db_;
    SqliteStore store_;
    uint32_t alice_ = 0;
    uint32_t bob_ = 0;
};

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

TEST_F(ExportTest, TheProgramServesAndStopsCleanlyOnEachSignal) {
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        test::Process server;
        ASSERT_TRUE(server.Start({test::ServerBinary(), "--listen", "127.0.0.1:0", "--db", db_, "--web", "127.0.0.1:0"},
                                 dir_.File("server.out"), dir_.File("server.err")));
        const auto port = server.WaitForLine("listening on 127.0.0.1:", std::chrono::seconds(20));
        const auto webPort = server.WaitForLine("web pages on http://127.0.0.1:", std::chrono::seconds(20));
        ASSERT_TRUE(port && webPort) << server.Out() << server.Err();
        test::TestClient client;
        ASSERT_TRUE(client.Connect(static_cast<uint16_t>(std::stoi(*port))));
        LoginMessage answer;
        ASSERT_TRUE(client.Login("alice", PasswordDigest("secret"), 1, answer));
        EXPECT_EQ(answer.UserId(), alice_);
        ASSERT_TRUE(server.Signal(sig));
        EXPECT_EQ(server.Wait(std::chrono::seconds(20)), 0) << server.Err();
        EXPECT_TRUE(client.WaitClosed());
    }
}

}  // namespace
}  // namespace kestrix::refserver
