// Servers on PostgreSQL: two in-process servers sharing one database, and one whose
// database goes away while its clients send. Real TCP clients on loopback, a real
// PostgreSQL (the ctest fixture's cluster, or one of the test's own that it stops).
#include <gtest/gtest.h>
#include <httplib.h>

#include <cmath>
#include <regex>
#include <sstream>
#include <thread>

#include "ServerCommand.h"
#include "TestClient.h"
#include "TestDatabase.h"
#include "TrackingServer.h"
#include "WebFrontEnd.h"

namespace kestrix::refserver {
namespace {

using test::Bytes;
using test::TestClient;

// Client c's live positions from..to-1, one packet each: the latitude says whose, the
// longitude which.
Bytes Numbered(int client, int from, int to) {
    Bytes all;
    for (int k = from; k < to; ++k) {
        PositionMessage m(*TrackPoint::Make(client, k * 0.001, 0.0f, 0.0f, 0));
        const Bytes one = test::Encode(m);
        all.insert(all.end(), one.begin(), one.end());
    }
    return all;
}

// The numbers of the user's positions as the database holds them, in order.
std::vector<long> Numbers(const std::string& location, uint32_t user) {
    std::vector<long> out;
    std::unique_ptr<Store> store = MakeStore(location);
    EXPECT_TRUE(store->Open(location)) << store->Error();
    EXPECT_TRUE(store->ForEachPoint(user, [&](const StoredPoint& p) { out.push_back(std::lround(p.longitude / 0.001)); }));
    return out;
}

std::vector<long> Range(long to) {
    std::vector<long> r;
    for (long k = 0; k < to; ++k) r.push_back(k);
    return r;
}

ServerOptions OnLoopback() {
    ServerOptions o;
    o.listen = "127.0.0.1:0";
    return o;
}

// A login whose answer means everything sent before it on the connection is committed.
uint32_t Login(TestClient& client, const std::string& name) {
    LoginMessage answer;
    return client.Login(name, PasswordDigest("pw"), 1, answer) ? answer.UserId() : 0;
}

// Clients log in to either server, move from one to the other half way, and every point
// is stored once; an account made on one server's web pages logs in on the other at once.
TEST(PostgresServers, TwoServersShareOneDatabase) {
    test::TestDatabase db(test::Backend::Postgres);
    if (!db.Skip().empty()) GTEST_SKIP() << db.Skip();
    const std::string& uri = db.Location();
    constexpr int kClients = 4;
    uint32_t ids[kClients] = {};
    for (int i = 0; i < kClients; ++i) {
        std::ostringstream out, err;
        ASSERT_EQ(RunServerCommand({"--db", uri, "user", "add", "c" + std::to_string(i), "pw"}, out, err, {}), 0)
            << err.str();
        ids[i] = static_cast<uint32_t>(std::stoul(out.str()));
    }
    std::unique_ptr<Store> stores[2] = {MakeStore(uri), MakeStore(uri)};
    std::unique_ptr<TrackingServer> servers[2];
    for (int s = 0; s < 2; ++s) {
        ASSERT_TRUE(stores[s]->Open(uri)) << stores[s]->Error();
        servers[s] = std::make_unique<TrackingServer>(*stores[s], OnLoopback());
        ASSERT_TRUE(servers[s]->Start()) << servers[s]->Error();
    }
    bool ok[kClients] = {};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i] {
            ok[i] = true;
            for (int half = 0; half < 2; ++half) {
                TestClient client;
                ok[i] = ok[i] && client.Connect(servers[(i + half) % 2]->Port()) &&
                        Login(client, "c" + std::to_string(i)) == ids[i] &&
                        client.SendBytes(Numbered(i, half * 200, half * 200 + 200)) &&
                        Login(client, "c" + std::to_string(i)) == ids[i];
            }
        });
    for (std::thread& t : clients) t.join();
    for (int i = 0; i < kClients; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(ok[i]);
        EXPECT_EQ(Numbers(uri, ids[i]), Range(400));
    }

    WebFrontEnd web(WebOptions{"127.0.0.1:0", uri, servers[0]->Address(), nullptr});
    ASSERT_TRUE(web.Start()) << web.Error();
    httplib::Client browser("127.0.0.1", web.Port());
    auto form = browser.Get("/mobile/register");
    std::smatch token;
    ASSERT_TRUE(form && std::regex_search(form->body, token, std::regex("name=\"token\" value=\"([0-9a-f]{64})\"")));
    const std::string cookie = form->get_header_value("Set-Cookie");
    auto made = browser.Post("/mobile/register", {{"Cookie", cookie.substr(0, cookie.find(';'))}},
                             httplib::Params{{"token", token[1]}, {"login", "carol"}, {"password", "pw"}, {"again", "pw"}});
    ASSERT_TRUE(made);
    EXPECT_EQ(made->status, 200) << made->body;
    TestClient carol;
    ASSERT_TRUE(carol.Connect(servers[1]->Port()));
    EXPECT_EQ(Login(carol, "carol"), kClients + 1u);
}

// The database stops while clients send: the server keeps reading into its queue, refuses
// a login it cannot check, stops reading once the queue is full, and when the database is
// back stores everything in order, once, having said so once each way.
TEST(PostgresServers, ADatabaseThatGoesAwayLosesNothing) {
    test::OwnCluster cluster;
    if (!cluster.Start()) {
        if (!cluster.Skip().empty()) GTEST_SKIP() << cluster.Skip();
        FAIL() << "the test's own cluster did not start";
    }
    const std::string uri = cluster.Uri();
    constexpr int kClients = 4;
    constexpr int kBefore = 100, kDuring = 2000, kAfter = 100;
    std::unique_ptr<Store> store = MakeStore(uri);
    ASSERT_TRUE(store->Open(uri)) << store->Error();
    uint32_t ids[kClients] = {};
    for (int i = 0; i < kClients; ++i) ASSERT_TRUE(store->AddUser("c" + std::to_string(i), PasswordDigest("pw"), ids[i]));
    ServerOptions options = OnLoopback();
    options.loginWait = std::chrono::milliseconds(300);
    // Smaller than what the clients send while the database is away.
    options.writer.queueBytes = 256 * 1024;
    options.writer.firstRetry = std::chrono::milliseconds(20);
    options.writer.lastRetry = std::chrono::milliseconds(200);
    testing::internal::CaptureStderr();
    TrackingServer server(*store, options);
    ASSERT_TRUE(server.Start()) << server.Error();
    TestClient clients[kClients];
    for (int i = 0; i < kClients; ++i) {
        ASSERT_TRUE(clients[i].Connect(server.Port()));
        ASSERT_EQ(Login(clients[i], "c" + std::to_string(i)), ids[i]);
        ASSERT_TRUE(clients[i].SendBytes(Numbered(i, 0, kBefore)));
    }

    ASSERT_TRUE(cluster.Stop());
    TestClient newcomer;
    ASSERT_TRUE(newcomer.Connect(server.Port()));
    LoginMessage refused;
    ASSERT_TRUE(newcomer.Login("c0", PasswordDigest("pw"), 1, refused));
    EXPECT_EQ(refused.UserId(), 0u);
    EXPECT_EQ(refused.ServerText(), ClientSession::kUnavailableText);
    for (int i = 0; i < kClients; ++i) ASSERT_TRUE(clients[i].SendBytes(Numbered(i, kBefore, kBefore + kDuring)));
    EXPECT_TRUE(test::WaitFor([&] { return server.HoldingBack(); })) << server.Writer().Queued();
    EXPECT_LE(server.Writer().Queued(), options.writer.queueBytes + 64 * 1024);

    ASSERT_TRUE(cluster.Start());
    for (int i = 0; i < kClients; ++i) {
        ASSERT_TRUE(clients[i].SendBytes(Numbered(i, kBefore + kDuring, kBefore + kDuring + kAfter)));
        EXPECT_EQ(Login(clients[i], "c" + std::to_string(i)), ids[i]);
    }
    server.Stop();
    const std::string log = testing::internal::GetCapturedStderr();
    for (int i = 0; i < kClients; ++i) EXPECT_EQ(Numbers(uri, ids[i]), Range(kBefore + kDuring + kAfter)) << i;
    auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("kestrix-server: the database is not available ("), 1u) << log;
    EXPECT_EQ(count("kestrix-server: the database is back after"), 1u) << log;
    EXPECT_EQ(count(" MB wait for the database; no tracker is read until it takes them\n"), 1u) << log;
    EXPECT_EQ(count("kestrix-server: reading trackers again after"), 1u) << log;
}

}  // namespace
}  // namespace kestrix::refserver
