#include "server/UploadTrack.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "RefServer.h"
#include "WireHelpers.h"
#include "geo/Listeners.h"
#include "platform/DeviceFs.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/Socket.h"
#include "server/Messages.h"
#include "settings/TrackerSettings.h"
#include "support/TestSupport.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

using test::Bytes;
using test::RefServer;

constexpr uint64_t kT0 = 125911584000000000ull;

// The person in front of the message boxes: answers OK and remembers what was shown.
class RecordingShell : public platform::ShellHost {
public:
    struct Box {
        std::string text, caption;
        uint32_t flags;
    };
    bool NotificationAdd(const platform::Notification&) override { return false; }
    bool NotificationUpdate(uint32_t, const platform::Notification&) override { return false; }
    bool NotificationRemove(const std::string&, uint32_t) override { return false; }
    int MessageBox(platform::WindowHandle, const std::string& text, const std::string& caption,
                   uint32_t flags) override {
        boxes.push_back({text, caption, flags});
        return platform::IDOK;
    }
    bool OpenLink(const std::string&) override { return false; }
    std::vector<Box> boxes;
};

class FakeHost : public IUploadHost {
public:
    explicit FakeHost(TrackerSettings& s) : settings(s) {}
    TrackerSettings& GetSettings() override { return settings; }
    uint32_t GetState() override { return state; }
    uint32_t RunningServices() override { return running ? *running : IUploadHost::RunningServices(); }
    void StartServices(uint32_t bits) override { calls.push_back("start " + std::to_string(bits)); }
    void StopServices(uint32_t bits, bool byUser) override {
        calls.push_back("stop " + std::to_string(bits) + (byUser ? " user" : ""));
    }
    void UpdateStatus() override { calls.push_back("update"); }
    TrackerSettings& settings;
    uint32_t state = kModeTracker | kModeLogger | kModeFix;
    std::optional<uint32_t> running;
    std::vector<std::string> calls;
};

// Passes one client connection through to the server and keeps what the client sent.
class Relay {
public:
    Relay(uint16_t upstreamPort) : upstream_(upstreamPort) {
        EXPECT_EQ(listener_.Listen("127.0.0.1", 0), 0);
        thread_ = std::thread([this] { Run(); });
    }
    ~Relay() {
        stop_.Set();
        if (thread_.joinable()) thread_.join();
    }
    uint16_t Port() const { return listener_.Port(); }
    // The packets the client sent, once it has closed.
    std::vector<Packet> ClientPackets() {
        stop_.Set();
        if (thread_.joinable()) thread_.join();
        std::vector<Packet> packets;
        test::MemoryStream in(sent_);
        for (;;) {
            Packet p;
            if (!p.Receive(in)) break;
            packets.push_back(std::move(p));
        }
        return packets;
    }

private:
    void Run() {
        platform::Socket client = listener_.Accept(20000, &stop_);
        if (!client.IsOpen()) return;
        platform::Socket server;
        if (server.Connect("127.0.0.1", upstream_, 5000, nullptr) != 0) return;
        uint8_t buf[65536];
        for (;;) {
            int r = platform::WaitAny({platform::Waitable::Readable(client.Fd()),
                                       platform::Waitable::Readable(server.Fd())},
                                      20000);
            if (r == 0) {
                long n = client.Receive(buf, sizeof buf, 0, nullptr);
                if (n <= 0) return;
                sent_.insert(sent_.end(), buf, buf + n);
                if (!server.SendAll(buf, static_cast<size_t>(n), 5000, nullptr)) return;
            } else if (r == 1) {
                long n = server.Receive(buf, sizeof buf, 0, nullptr);
                if (n <= 0) return;
                if (!client.SendAll(buf, static_cast<size_t>(n), 5000, nullptr)) return;
            } else {
                return;
            }
        }
    }
    uint16_t upstream_;
    platform::TcpListener listener_;
    platform::Event stop_{true, false};
    Bytes sent_;
    std::thread thread_;
};

class UploadTrackTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!RefServer::Available()) GTEST_SKIP() << "kestrix-server is not built";
        platform::SetDeviceRoot(dir_.Path());
        ASSERT_TRUE(platform::ConfigureRegistry(dir_.File("registry.reg")));
        platform::SetShellHost(&shell_);
        userId_ = server_.AddUser("anna", "secret");
        ASSERT_TRUE(server_.Start());
        settings_.SetLogin(std::string("anna"));
        settings_.SetPassword(std::string("secret"));
        settings_.SetHost(std::string("127.0.0.1"));
        settings_.SetPort(server_.Port());
        settings_.SetUserId(userId_);
        settings_.SetLogPath(std::string("\\anna.log"));
    }
    void TearDown() override { platform::SetShellHost(nullptr); }

    void WriteLog(size_t records, size_t trailing = 0) {
        platform::DeviceFile f;
        ASSERT_TRUE(f.Open("\\anna.log", "wb"));
        for (size_t i = 0; i < records; ++i) {
            uint8_t r[kLogRecordSize];
            LogRecord rec{-33.0 - i * 1e-4, 151.0 + i * 1e-4, 20.0f, 5.0f, kT0 + i * 10000000ull};
            EncodeLogRecord(rec, r);
            f.Write(r, sizeof r);
        }
        std::string tail(trailing, '\x11');
        f.Write(tail.data(), tail.size());
    }

    std::string LastBox() const { return shell_.boxes.empty() ? "" : shell_.boxes.back().text; }

    test::TempDir dir_;
    RefServer server_{dir_.Path()};
    RecordingShell shell_;
    uint32_t userId_ = 0;
    TrackerSettings settings_;
    FakeHost host_{settings_};
};

TEST_F(UploadTrackTest, EmptyLogReportsZeroAndIsDeleted) {
    WriteLog(0);
    EXPECT_TRUE(UploadTrack(host_));
    ASSERT_EQ(shell_.boxes.size(), 1u);
    EXPECT_EQ(shell_.boxes[0].text, "Track has been sent to Geomira Server, Track Point count: 0");
    EXPECT_EQ(shell_.boxes[0].caption, "Kestrix");
    EXPECT_EQ(shell_.boxes[0].flags, platform::MB_OK | platform::MB_TOPMOST);
    EXPECT_FALSE(platform::DeviceFileExists("\\anna.log"));
    EXPECT_EQ(host_.calls, (std::vector<std::string>{"stop 128", "start 3", "update"}));
    EXPECT_TRUE(server_.Export("anna").empty());
}

TEST_F(UploadTrackTest, RestartsWhatTheHostSaysWasRunning) {
    // A tracker still connecting has no state bit; the host reports it and it comes back.
    WriteLog(0);
    host_.state = kModeLogger;
    host_.running = kModeTracker | kModeLogger;
    EXPECT_TRUE(UploadTrack(host_));
    EXPECT_EQ(host_.calls, (std::vector<std::string>{"stop 128", "start 3", "update"}));
}

TEST_F(UploadTrackTest, LogGoesOutInMessagesOfFiveHundred) {
    WriteLog(501, 9);
    Relay relay(server_.Port());
    settings_.SetPort(relay.Port());
    EXPECT_TRUE(UploadTrack(host_));
    EXPECT_EQ(LastBox(), "Track has been sent to Geomira Server, Track Point count: 501");
    auto packets = relay.ClientPackets();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].Type(), 44u);
    std::vector<size_t> counts;
    for (size_t i = 1; i < packets.size(); ++i) {
        TrackMessage m;
        ASSERT_TRUE(m.Read(packets[i]));
        EXPECT_EQ(m.GetUserId(), userId_);
        counts.push_back(m.Count());
    }
    EXPECT_EQ(counts, (std::vector<size_t>{500, 1}));
    auto stored = server_.Export("anna");
    ASSERT_EQ(stored.size(), 501u);
    EXPECT_NEAR(stored[500].lat, -33.05, 1e-7);
    EXPECT_NEAR(stored[500].lon, 151.05, 1e-7);
    EXPECT_FALSE(platform::DeviceFileExists("\\anna.log"));
}

TEST_F(UploadTrackTest, NoUserIdSendsTheShortLoginAndUserIdZero) {
    settings_.SetUserId(0);
    WriteLog(2);
    Relay relay(server_.Port());
    settings_.SetPort(relay.Port());
    EXPECT_TRUE(UploadTrack(host_));
    auto packets = relay.ClientPackets();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].Type(), 22u);
    EXPECT_EQ(packets[0].Size(), 8u + 4 + 32) << "no trailing user id";
    TrackMessage m(99);
    ASSERT_TRUE(m.Read(packets[1]));
    EXPECT_EQ(m.GetUserId(), 0u);
    EXPECT_EQ(m.Count(), 2u);
    EXPECT_EQ(settings_.GetUserId(), 0u) << "the setting is left as it was";
}

TEST_F(UploadTrackTest, FailuresAreShownAndTheLogKept) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string text;
        std::string start;
    };
    platform::TcpListener closed;
    ASSERT_EQ(closed.Listen("127.0.0.1", 0), 0);
    const uint16_t closedPort = closed.Port();
    closed.Close();
    const Case cases[] = {
        {"refused login", [&] { settings_.SetPassword(std::string("wrong")); }, "Wrong login or password",
         "start 128"},
        {"no server",
         [&] { settings_.SetPort(closedPort); },
         "Can't connect to host: '127.0.0.1' port: " + std::to_string(closedPort) + " error: 111 ", "start 3"},
        {"host name", [&] { settings_.SetHost(std::string("localhost")); },
         "Can't connect to host: 'localhost' port: " + std::to_string(server_.Port()) + " error: 99 ", "start 3"},
        {"no log", [&] { platform::DeleteDeviceFile("\\anna.log"); }, "Can't open GPS log file '\\anna.log', error: 2",
         "start 128"},
    };
    for (const Case& c : cases) {
        TrackerSettings saved = settings_;
        WriteLog(3);
        shell_.boxes.clear();
        host_.calls.clear();
        c.arrange();
        EXPECT_FALSE(UploadTrack(host_)) << c.name;
        ASSERT_EQ(shell_.boxes.size(), 1u) << c.name;
        EXPECT_EQ(shell_.boxes[0].text, c.text) << c.name;
        EXPECT_EQ(shell_.boxes[0].flags, platform::MB_OK | platform::MB_TOPMOST | platform::MB_ICONERROR) << c.name;
        EXPECT_EQ(host_.calls, (std::vector<std::string>{"stop 128", c.start})) << c.name;
        if (std::string(c.name) != "no log") {
            EXPECT_TRUE(platform::DeviceFileExists("\\anna.log")) << c.name;
        }
        settings_ = saved;
    }
    EXPECT_TRUE(server_.Export("anna").empty());
}

}  // namespace
}  // namespace kestrix
