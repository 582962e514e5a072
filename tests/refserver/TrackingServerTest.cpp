// The reference server in-process on 127.0.0.1:0 with a temporary database, driven by
// real TCP clients that encode their messages exactly as the tracker does. The exact
// reason for each malformed input is the session parser's test; its load is a benchmark's.
#include "TrackingServer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstring>
#include <memory>

#include "ServerCommand.h"
#include "SqliteStore.h"
#include "TestClient.h"
#include "support/TestSupport.h"

namespace kestrix::refserver {
namespace {

using test::Bytes;
using test::TestClient;

class TrackingServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dbPath_ = dir_.File("server.sqlite");
        ASSERT_TRUE(store_.Open(dbPath_)) << store_.Error();
        ASSERT_TRUE(store_.AddUser("alice", PasswordDigest("secret"), aliceId_));
        ASSERT_TRUE(store_.AddUser("bob", PasswordDigest("hunter2"), bobId_));
        ServerOptions options;
        options.listen = "127.0.0.1:0";
        StartServer(options);
    }

    void StartServer(const ServerOptions& options) {
        if (server_) server_->Stop();
        server_ = std::make_unique<TrackingServer>(store_, options);
        ASSERT_TRUE(server_->Start()) << server_->Error();
        ASSERT_NE(server_->Port(), 0);
    }

    void TearDown() override {
        if (server_) server_->Stop();
    }

    // Reads back through a connection of its own, as an export does while the server runs.
    std::vector<StoredPoint> PointsOf(uint32_t userId) {
        SqliteStore reader;
        EXPECT_TRUE(reader.Open(dbPath_)) << reader.Error();
        std::vector<StoredPoint> points;
        EXPECT_TRUE(reader.ForEachPoint(userId, [&](const StoredPoint& p) { points.push_back(p); }));
        return points;
    }

    bool WaitStored(uint64_t n) {
        return test::WaitFor([&] { return server_->PointsStored() >= n; });
    }

    void LoginAlice(TestClient& client) {
        ASSERT_TRUE(client.Connect(server_->Port()));
        LoginMessage answer;
        ASSERT_TRUE(client.Login("alice", PasswordDigest("secret"), 7, answer));
        ASSERT_EQ(answer.UserId(), aliceId_);
    }

    test::TempDir dir_;
    std::string dbPath_;
    SqliteStore store_;
    uint32_t aliceId_ = 0;
    uint32_t bobId_ = 0;
    std::unique_ptr<TrackingServer> server_;
};

TEST_F(TrackingServerTest, LoginAnswersCarryTheRightTypeStatusTextAndUserId) {
    struct Case {
        const char* what;
        std::string name, digest;
        uint32_t sentId;
        Bytes expected;
    };
    const std::string good = PasswordDigest("secret");
    // 45: status 1, empty text, the user id. 23: status 1, empty text, no user id.
    Bytes ok45 = {0x2D, 0x00, 0x0E, 0x00, 1, 0, 0, 0, 0, 0, static_cast<uint8_t>(aliceId_), 0, 0, 0};
    Bytes ok23 = {0x17, 0x00, 0x0A, 0x00, 1, 0, 0, 0, 0, 0};
    // A refusal: status 1, the text (23 bytes), user id 0; 4 + 4 + 2 + 23 + 4 = 37 bytes.
    auto refused = [](bool withId) {
        std::string text = "Wrong login or password";
        Bytes b;
        test::Append16(b, withId ? 45 : 23);
        test::Append16(b, static_cast<uint16_t>(10 + text.size() + (withId ? 4 : 0)));
        test::Append32(b, 1);
        test::Append16(b, static_cast<uint16_t>(text.size()));
        test::AppendText(b, text);
        if (withId) test::Append32(b, 0);
        return b;
    };
    const Case cases[] = {
        {"type 44, good password", "alice", good, 99, ok45},
        {"type 22, good password", "alice", good, 0, ok23},
        {"type 44, wrong password", "alice", PasswordDigest("Secret"), 5, refused(true)},
        {"type 44, unknown user", "carol", good, 5, refused(true)},
        {"type 22, wrong password", "alice", PasswordDigest("x"), 0, refused(false)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestClient client;
        ASSERT_TRUE(client.Connect(server_->Port()));
        LoginMessage request(c.name, c.digest, c.sentId);
        ASSERT_TRUE(client.Send(request));
        EXPECT_EQ(client.Read(c.expected.size()), c.expected);
    }
    ASSERT_EQ(refused(true).size(), 37u);
}

// Guessing passwords: a connection is closed after its third wrong login however many it
// sent at once, and once its address has failed five times its logins wait their turn
// while a right login from another address is answered at once.
TEST_F(TrackingServerTest, WrongLoginsCloseTheConnectionAndSlowTheirAddressDown) {
    ServerOptions options;
    options.listen = "127.0.0.1:0";
    options.logins.interval = std::chrono::minutes(10);
    StartServer(options);
    LoginMessage wrong("alice", PasswordDigest("guess"), 1);
    const Bytes once = test::Encode(wrong);
    Bytes burst;
    for (int i = 0; i < 100; ++i) burst.insert(burst.end(), once.begin(), once.end());
    TestClient guesser, again, waits, other;
    ASSERT_TRUE(guesser.Connect(server_->Port()));
    ASSERT_TRUE(guesser.SendBytes(burst));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(guesser.ReadAnswer(wrong));
        EXPECT_EQ(wrong.UserId(), 0u);
    }
    EXPECT_TRUE(guesser.WaitClosed());
    // Two more failures make five; the next login from there takes the turn, the one after waits.
    ASSERT_TRUE(again.Connect(server_->Port()));
    for (const char* password : {"guess2", "guess3", "secret"})
        ASSERT_TRUE(again.Login("alice", PasswordDigest(password), 1, wrong));
    EXPECT_EQ(wrong.UserId(), aliceId_);
    ASSERT_TRUE(waits.Connect(server_->Port()));
    LoginMessage right("alice", PasswordDigest("secret"), 1);
    ASSERT_TRUE(waits.Send(right));
    ASSERT_TRUE(other.ConnectFrom("127.0.0.2", server_->Port()));
    ASSERT_TRUE(other.Login("alice", PasswordDigest("secret"), 1, right));
    EXPECT_EQ(right.UserId(), aliceId_);
    EXPECT_FALSE(waits.HasData());
}

// A malformed packet closes its own connection; a client that sent half a packet, one that
// sends nothing and one that logged in are still served meanwhile.
TEST_F(TrackingServerTest, AMalformedPacketClosesOnlyItsOwnConnection) {
    TestClient bystander, silent, half;
    LoginAlice(bystander);
    ASSERT_TRUE(silent.Connect(server_->Port()));
    LoginAlice(half);
    PositionMessage position(*TrackPoint::Make(10.0, 20.0, 30.0f, 4.0f, 0));
    const Bytes live = test::Encode(position);
    ASSERT_TRUE(half.SendBytes(Bytes(live.begin(), live.begin() + 10)));
    const struct {
        bool login;
        Bytes bytes;
    } malformed[] = {
        {true, {0x6E, 0x00, 0x03, 0x00}},  // length below the header
        {true, {0x2E, 0x80, 0x12, 0x00, 100, 0, 0, 0, 0x78, 0x9C, 0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4}},  // zlib garbage
        {false, live},  // a position before a login
    };
    uint64_t stored = 0;
    for (const auto& m : malformed) {
        TestClient bad;
        if (m.login)
            LoginAlice(bad);
        else
            ASSERT_TRUE(bad.Connect(server_->Port()));
        ASSERT_TRUE(bad.SendBytes(m.bytes));
        EXPECT_TRUE(bad.WaitClosed());
        ASSERT_TRUE(bystander.SendBytes(live));
        ASSERT_TRUE(WaitStored(++stored));
    }
    ASSERT_TRUE(half.SendBytes(Bytes(live.begin() + 10, live.end())));
    ASSERT_TRUE(WaitStored(++stored));
    EXPECT_EQ(PointsOf(aliceId_).size(), stored);
}

// A flood of connections that never log in cannot lock the account holders out: a login
// finds room by closing the longest silent stranger.
TEST_F(TrackingServerTest, AFullServerLetsALoginInByClosingTheLongestSilentStranger) {
    // From a soft limit on descriptors below what it needs, the server raises it for
    // itself; then the test raises it for the flood, which lives in this process too.
    struct RestoreLimit {
        rlimit saved{};
        ~RestoreLimit() { setrlimit(RLIMIT_NOFILE, &saved); }
    } limit;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit.saved), 0);
    rlimit low = limit.saved;
    low.rlim_cur = std::min<rlim_t>(100, low.rlim_cur);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    ServerOptions options;
    options.listen = "127.0.0.1:0";
    options.maxConnections = 100;
    StartServer(options);
    ASSERT_EQ(server_->Capacity(), options.maxConnections);
    low.rlim_cur = std::min<rlim_t>(400, low.rlim_max);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    TestClient alice;
    LoginAlice(alice);  // the oldest connection, but logged in
    std::vector<std::unique_ptr<TestClient>> strangers(static_cast<size_t>(options.maxConnections - 1));
    for (auto& s : strangers) {
        s = std::make_unique<TestClient>();
        ASSERT_TRUE(s->Connect(server_->Port())) << std::strerror(errno);
    }
    ASSERT_TRUE(test::WaitFor([&] { return server_->Connections() == options.maxConnections; }));
    TestClient newcomer;
    LoginAlice(newcomer);
    EXPECT_TRUE(strangers[0]->WaitClosed());
    EXPECT_EQ(server_->Evicted(), 1u);
    EXPECT_EQ(server_->Refused(), 0u);
    LoginMessage answer;
    EXPECT_TRUE(alice.Login("alice", PasswordDigest("secret"), 1, answer));
}

}  // namespace
}  // namespace kestrix::refserver
