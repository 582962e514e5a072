// The link to the server as a person sets it up (a host name or an IPv6 address, plain TCP
// or TLS) against the reference server on loopback: live points, a track message and an
// upload arrive as they do over plain TCP, and a server that cannot be reached or trusted
// gets nothing while the points wait offline.
#include "server/TcpSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "TestKit.h"
#include "platform/Shell.h"
#include "server/TrackerSession.h"
#include "support/TestCertificates.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

using test::kT0;
using test::WaitFor;

constexpr auto kBound = std::chrono::seconds(20);

TrackPointRef Point(int i) {
    return TrackPoint::Make(48.0 + i * 0.001, 11.0 + i * 0.001, 500.0f + i, 36.0f, kT0 + i * 10000000ull);
}

struct Link {
    const char* name;
    const char* serverHost;  // as --listen takes it
    const char* host;        // the Host setting
    int serverCert;          // 0 plain, 1 the server's, 2 another authority's, 3 another name's
    uint32_t tls;
};

class TcpSocketTest : public test::DeviceFixture, public ::testing::WithParamInterface<Link> {
protected:
    static void SetUpTestSuite() {
        certsDir_ = new test::TempDir;
        certs_ = new test::TestCertificates(test::MakeTestCertificates(certsDir_->Path()));
    }
    static void TearDownTestSuite() {
        delete certs_;
        delete certsDir_;
    }
    void SetUp() override {
        ASSERT_TRUE(test::RefServer::Available()) << "kestrix-server is not built: " << test::ServerBinary();
        DeviceFixture::SetUp();
        ASSERT_TRUE(certs_->made);
        platform::SetShellHost(&shell_);
    }
    void TearDown() override {
        session_.Stop();
        platform::SetShellHost(nullptr);
    }
    // A server with the account anna/secret as the link names it; the settings point at it.
    void Serve(const Link& link) {
        std::vector<std::string> extra;
        const std::string* pem[][2] = {{nullptr, nullptr},
                                       {&certs_->cert, &certs_->key},
                                       {&certs_->strangerCert, &certs_->strangerKey},
                                       {&certs_->elsewhereCert, &certs_->elsewhereKey}};
        if (link.serverCert != 0) extra = {"--tls-cert", *pem[link.serverCert][0], "--tls-key", *pem[link.serverCert][1]};
        std::filesystem::create_directories(dir_.File("server"));
        server_ = std::make_unique<test::RefServer>(dir_.File("server"), link.serverHost, extra);
        ASSERT_NE(server_->AddUser("anna", "secret"), 0u);
        ASSERT_TRUE(server_->Start());
        settings_.SetLogin(std::string("anna"));
        settings_.SetPassword(std::string("secret"));
        settings_.SetHost(std::string(link.host));
        settings_.SetPort(server_->Port());
        settings_.SetTls(link.tls);
        settings_.SetTlsCa(certs_->ca);
        settings_.SetAutoTrackMode(2);
        settings_.SetAutoTrackPointCount(2);
        session_.SetRetryPause(100);
    }
    static test::TempDir* certsDir_;
    static test::TestCertificates* certs_;
    std::unique_ptr<test::RefServer> server_;
    test::StatusRecorder listener_;
    TrackerSession session_{&listener_};
    test::ScriptedShell shell_;
    test::UploadHost host_{settings_};
};

test::TempDir* TcpSocketTest::certsDir_;
test::TestCertificates* TcpSocketTest::certs_;

class Delivered : public TcpSocketTest {};

// Three live points and a track message of two from the session, then an upload of three
// records: every point arrives with the values plain TCP by address delivers.
TEST_P(Delivered, LivePointsTrackMessagesAndUploadsArriveWhole) {
    const Link& link = GetParam();
    if (std::string(link.serverHost) == "[::1]") {
        platform::TcpListener v6;
        if (v6.Listen("::1", 0) != 0) GTEST_SKIP() << "this machine has no IPv6 loopback";
    }
    Serve(link);
    ASSERT_TRUE(session_.Start(&settings_));
    for (int i = 0; i < 3; ++i) session_.PostPosition(Point(i));
    std::vector<test::ExportedPoint> got;
    EXPECT_TRUE(WaitFor([&] { return (got = server_->Export("anna")).size() == 5; }, kBound)) << got.size();
    session_.Stop();
    platform::DeviceFile log;
    ASSERT_TRUE(log.Open("\\anna.log", "wb"));
    for (int i = 0; i < 3; ++i) {
        uint8_t r[kLogRecordSize];
        EncodeLogRecord(LogRecord{-33.0 - i, 151.0 + i, 20.0f, 5.0f, kT0 + i * 10000000ull}, r);
        log.Write(r, sizeof r);
    }
    log.Close();
    EXPECT_TRUE(UploadTrack(host_));
    ASSERT_EQ(shell_.boxes.size(), 1u);
    EXPECT_EQ(shell_.boxes[0].text, "Track has been sent to Geomira Server, Track Point count: 3");
    got = server_->Export("anna");
    ASSERT_EQ(got.size(), 8u);
    // The track message and the upload carry the compact encoding: 1e-7 degree, 1 cm.
    const std::pair<const char*, int> expected[] = {{"live", 0}, {"live", 1}, {"live", 2}, {"track", 0}, {"track", 1}};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(got[i].kind, expected[i].first) << i;
        EXPECT_NEAR(got[i].lat, 48.0 + expected[i].second * 0.001, 1e-7) << i;
        EXPECT_NEAR(got[i].lon, 11.0 + expected[i].second * 0.001, 1e-7) << i;
        EXPECT_NEAR(got[i].alt, 500.0 + expected[i].second, 1e-2) << i;
    }
    for (size_t i = 5; i < 8; ++i) EXPECT_NEAR(got[i].lat, -33.0 - static_cast<double>(i - 5), 1e-7) << i;
}

INSTANTIATE_TEST_SUITE_P(Links, Delivered,
                         ::testing::Values(Link{"ByName", "127.0.0.1", "localhost", 0, 0},
                                           Link{"ByIPv6", "[::1]", "::1", 0, 0},
                                           Link{"InTlsByName", "127.0.0.1", "localhost", 1, 1},
                                           Link{"InTlsByIPv6", "[::1]", "::1", 1, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

class Refused : public TcpSocketTest {};

// Nothing reaches a server that cannot be found or trusted, or that a plain client cannot
// speak to; the tracker says why and keeps the point offline.
TEST_P(Refused, NothingReachesTheServerAndThePointWaitsOffline) {
    const Link& link = GetParam();
    Serve(link);
    ASSERT_TRUE(session_.Start(&settings_));
    session_.PostPosition(Point(0));
    const std::string port = std::to_string(server_->Port());
    const std::map<std::string, std::string> why = {
        {"NameUnderInvalid", "message Can't connect to Host:track.invalid Port:" + port +
                                 " Error:6 (cannot resolve \"track.invalid\": names under .invalid never resolve)"},
        {"AnotherAuthority", "message Can't connect to Host:localhost Port:" + port +
                                 " Error:71 (the server's certificate does not verify: unable to get local issuer "
                                 "certificate)"},
        {"AnotherName", "message Can't connect to Host:localhost Port:" + port +
                            " Error:71 (the server's certificate does not verify: hostname mismatch)"},
        // The server closes at the first byte that is no handshake; the session, which
        // hears no answer to its login, tries again later.
        {"PlainToTls", "stopped 0"}};
    EXPECT_TRUE(WaitFor([&] { return listener_.Has(why.at(link.name)); }, kBound))
        << ::testing::PrintToString(listener_.Events());
    if (link.serverCert != 0 && link.tls == 0) {
        EXPECT_TRUE(WaitFor([&] {
            return test::ReadFile(dir_.File("server/server-1.log")).find("the client does not speak TLS") !=
                   std::string::npos;
        }));
    }
    session_.Stop();
    session_.Store().Close();
    const auto name = test::StoreName();
    ASSERT_TRUE(name);
    EXPECT_EQ(platform::DeviceFileSize(*name), 32);
    EXPECT_TRUE(server_->Export("anna").empty());
}

INSTANTIATE_TEST_SUITE_P(Links, Refused,
                         ::testing::Values(Link{"NameUnderInvalid", "127.0.0.1", "track.invalid", 0, 0},
                                           Link{"AnotherAuthority", "127.0.0.1", "localhost", 2, 1},
                                           Link{"AnotherName", "127.0.0.1", "localhost", 3, 1},
                                           Link{"PlainToTls", "127.0.0.1", "localhost", 1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TcpSocketTest, ConnectHasATimeLimit) {
    test::FullListener full;
    if (!full.Fill()) GTEST_SKIP() << "this system does not let the accept queue fill";
    TcpSocket socket;
    socket.SetTimeouts(200, 1000);
    int error = 0;
    EXPECT_FALSE(socket.Connect("127.0.0.1", full.listener.Port(), error));
    EXPECT_EQ(error, platform::kSocketTimedOut);
}

// With TLS the server's first bytes are a handshake, never the login; and a stop ends a
// name lookup that its name server never answers, the point kept.
TEST_F(TcpSocketTest, TheLoginNeverLeavesInClearAndAStopEndsAHangingLookup) {
    platform::TcpListener listener;
    ASSERT_EQ(listener.Listen("127.0.0.1", 0), 0);
    settings_.SetHost(std::string("localhost"));
    settings_.SetPort(listener.Port());
    settings_.SetTls(1);
    ASSERT_TRUE(session_.Start(&settings_));
    session_.PostPosition(Point(0));
    platform::Socket server = listener.Accept(20000, nullptr);
    uint8_t first[2] = {};
    ASSERT_EQ(server.Receive(first, 2, 20000, nullptr), 2);
    EXPECT_EQ(first[0], 22) << "a TLS handshake record";
    EXPECT_EQ(first[1], 3);
    session_.Stop();

    // A name server on loopback that takes the question and never answers.
    const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof at;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    const timeval bound{20, 0};
    ::setsockopt(silent, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&at), &len);
    platform::SetNameServers("127.0.0.1:" + std::to_string(ntohs(at.sin_port)));
    settings_.SetHost(std::string("tracker.example"));
    session_.SetTimeouts(600000, 600000);  // only the stop can end the lookup
    ASSERT_TRUE(session_.Start(&settings_));
    session_.PostPosition(Point(1));
    char question[512];
    EXPECT_GT(::recv(silent, question, sizeof question, 0), 0) << "the lookup has begun";
    session_.Stop();
    platform::SetNameServers("");
    ::close(silent);
    EXPECT_FALSE(session_.IsRunning());
    for (const auto& e : listener_.Events())
        EXPECT_EQ(e.find("Can't connect"), std::string::npos) << "a stop is not a failed connect: " << e;
    session_.Store().Close();
    const auto name = test::StoreName();
    ASSERT_TRUE(name);
    EXPECT_EQ(platform::DeviceFileSize(*name), 64);
}

}  // namespace
}  // namespace kestrix
