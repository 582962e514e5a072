// The bounds of both HTTP servers, the daemon's page and API and the tracking server's web
// pages, tried as a careless or hostile client would, against the programs themselves.
#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "integration/Daemon.h"
#include "platform/Socket.h"
#include "support/TestSupport.h"

namespace kestrix::test {
namespace {

constexpr int kWaitMs = 15000;

struct Target {
    const char* name;
    uint16_t port;
    std::string post;  // a route that takes a body, with what it needs besides
    pid_t pid;
    std::string host;  // the rest of a request line, and a Host header that passes
};

// The process's peak resident memory, in bytes.
long PeakMemory(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long kib = -1;
    while (status >> key) {
        if (key == "VmHWM:") status >> kib;
    }
    return kib * 1024;
}

platform::Socket Open(uint16_t port) {
    platform::Socket s;
    EXPECT_EQ(s.Connect("127.0.0.1", port, kWaitMs, nullptr), 0);
    return s;
}

bool Send(platform::Socket& s, const std::string& bytes) {
    return s.SendAll(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), kWaitMs, nullptr);
}

// The status line's code of the answer, or 0 when the connection closed without one.
int StatusOf(platform::Socket& s) {
    std::string got;
    uint8_t buf[512];
    long n;
    while (got.find("\r\n") == std::string::npos && (n = s.Receive(buf, sizeof buf, kWaitMs, nullptr)) > 0)
        got.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
    return got.rfind("HTTP/1.1 ", 0) == 0 ? std::stoi(got.substr(9, 3)) : 0;
}

class HttpLimitsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        WritePowerSupply(dir_->File("power"), true);
        daemon_ = new Daemon(dir_->File("data"), dir_->File("power"), dir_->Path());
        server_ = new Process;
        server_->Start({ServerBinary(), "--listen", "127.0.0.1:0", "--web", "127.0.0.1:0", "--db",
                        dir_->File("server.sqlite")},
                       dir_->File("server.out"), dir_->File("server.err"));
    }
    static void TearDownTestSuite() {
        delete server_;
        delete daemon_;
        delete dir_;
    }
    std::vector<Target> Targets() {
        std::vector<Target> out;
        const auto host = [](uint16_t port) { return "HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n"; };
        if (daemon_->Up())
            out.push_back({"daemon", daemon_->Port(),
                           "POST /api/settings " + host(daemon_->Port()) + "X-Kestrix-Token: " + daemon_->Token() + "\r\n",
                           daemon_->Process().Pid(), host(daemon_->Port())});
        if (auto web = server_->WaitForLine("web pages on http://127.0.0.1:", std::chrono::seconds(30))) {
            const auto port = static_cast<uint16_t>(std::stoi(*web));
            out.push_back({"tracking server", port,
                           "POST /mobile/register " + host(port) + "Content-Type: application/x-www-form-urlencoded\r\n",
                           server_->Pid(), host(port)});
        }
        EXPECT_EQ(out.size(), 2u) << daemon_->Process().Err() << server_->Err();
        return out;
    }
    static TempDir* dir_;
    static Daemon* daemon_;
    static Process* server_;
};

TempDir* HttpLimitsTest::dir_;
Daemon* HttpLimitsTest::daemon_;
Process* HttpLimitsTest::server_;

// Each server refuses a request as soon as its bytes break a bound, a chunked body too,
// and never holds it whole: a flood of 256 MB leaves its peak memory within 64 MB.
TEST_F(HttpLimitsTest, RequestsPastTheirBoundsAreRefusedBeforeTheyAreRead) {
    for (const Target& t : Targets()) {
        SCOPED_TRACE(t.name);
        const long before = PeakMemory(t.pid);
        platform::Socket flood = Open(t.port);
        ASSERT_TRUE(Send(flood, t.post + "Transfer-Encoding: chunked\r\n\r\n"));
        const std::string chunk = "10000\r\n" + std::string(0x10000, 'a') + "\r\n";
        size_t sent = 0;
        while (sent < (256u << 20) && Send(flood, chunk)) sent += 0x10000;
        EXPECT_EQ(StatusOf(flood), 413);
        EXPECT_LT(sent, 8u << 20);
        EXPECT_LT(PeakMemory(t.pid) - before, 64l << 20);

        const std::pair<std::string, int> cases[] = {
            {t.post + "Content-Length: 1000000000\r\n\r\n", 413},
            {"GET / " + t.host + "X: " + std::string(40000, 'x') + "\r\n\r\n", 431},
            {[&] {
                 std::string many = "GET / " + t.host;
                 for (int i = 0; i < 100000; ++i) many += "X: y\r\n";
                 return many + "\r\n";
             }(),
             431},
            {t.post + "Content-Encoding: gzip\r\nContent-Length: 10\r\n\r\n", 415},
        };
        for (const auto& [bytes, status] : cases) {
            platform::Socket s = Open(t.port);
            Send(s, bytes);  // the server may close before it has all of it
            EXPECT_EQ(StatusOf(s), status) << bytes.substr(0, 60);
        }
    }
}

// Clients that never finish their heads take no thread that answers: the page is served
// while 64 of them hang on each server, and each of them is answered 408 once its time is up.
TEST_F(HttpLimitsTest, SlowClientsNeitherBlockOthersNorStayForever) {
    const std::vector<Target> targets = Targets();
    std::vector<std::vector<platform::Socket>> slow(targets.size());
    for (size_t i = 0; i < targets.size(); ++i) {
        for (int n = 0; n < 64; ++n) {
            slow[i].push_back(Open(targets[i].port));
            Send(slow[i].back(), "GET / " + targets[i].host + "X-Slow: ");
        }
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        SCOPED_TRACE(targets[i].name);
        platform::Socket ok = Open(targets[i].port);
        ASSERT_TRUE(Send(ok, "GET / " + targets[i].host + "\r\n"));
        EXPECT_EQ(StatusOf(ok), 200);
        for (auto& s : slow[i]) EXPECT_EQ(StatusOf(s), 408);
    }
}

}  // namespace
}  // namespace kestrix::test
