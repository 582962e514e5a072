#include "server/UploadTrack.h"

#include <functional>
#include <thread>

#include "TestKit.h"
#include "base/Listeners.h"
#include "platform/Shell.h"
#include "server/Messages.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

using test::Bytes;
using test::kT0;

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

class UploadTrackTest : public test::ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        platform::SetShellHost(&shell_);
        settings_.SetUserId(userId_);
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

    RecordingShell shell_;
    FakeHost host_{settings_};
};

TEST_F(UploadTrackTest, EmptyLogReportsZeroAndIsDeleted) {
    // The second time a tracker still connecting has no state bit; the host reports it
    // running and it comes back.
    using Running = std::optional<uint32_t>;
    for (Running running : {Running(), Running(kModeTracker | kModeLogger)}) {
        WriteLog(0);
        shell_.boxes.clear();
        host_.calls.clear();
        host_.state = running ? kModeLogger : kModeTracker | kModeLogger | kModeFix;
        host_.running = running;
        EXPECT_TRUE(UploadTrack(host_));
        ASSERT_EQ(shell_.boxes.size(), 1u);
        EXPECT_EQ(shell_.boxes[0].text, "Track has been sent to Geomira Server, Track Point count: 0");
        EXPECT_EQ(shell_.boxes[0].caption, "Kestrix");
        EXPECT_EQ(shell_.boxes[0].flags, platform::MB_OK | platform::MB_TOPMOST);
        EXPECT_FALSE(platform::DeviceFileExists("\\anna.log"));
        EXPECT_EQ(host_.calls, (std::vector<std::string>{"stop 128", "start 3", "update"}));
    }
    EXPECT_TRUE(server_.Export("anna").empty());
}

TEST_F(UploadTrackTest, LogGoesOutInMessagesOfFiveHundred) {
    struct Case {
        uint32_t userId;  // 0: the short login (type 22) and track messages for user 0
        size_t records;
        uint16_t loginType;
        size_t loginSize;
        std::vector<size_t> counts;
    };
    const Case cases[] = {
        {userId_, 501, 44, 8u + 4 + 32 + 4, {500, 1}},
        {0, 2, 22, 8u + 4 + 32, {2}},
    };
    size_t stored = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.userId);
        settings_.SetUserId(c.userId);
        WriteLog(c.records, 9);
        Relay relay(server_.Port());
        settings_.SetPort(relay.Port());
        EXPECT_TRUE(UploadTrack(host_));
        EXPECT_EQ(LastBox(), "Track has been sent to Geomira Server, Track Point count: " + std::to_string(c.records));
        EXPECT_EQ(settings_.GetUserId(), c.userId) << "the setting is left as it was";
        auto packets = relay.ClientPackets();
        ASSERT_EQ(packets.size(), 1 + c.counts.size());
        EXPECT_EQ(packets[0].Type(), c.loginType);
        EXPECT_EQ(packets[0].Size(), c.loginSize);
        std::vector<size_t> counts;
        for (size_t i = 1; i < packets.size(); ++i) {
            TrackMessage m(99);
            ASSERT_TRUE(m.Read(packets[i]));
            EXPECT_EQ(m.GetUserId(), c.userId);
            counts.push_back(m.Count());
        }
        EXPECT_EQ(counts, c.counts);
        // The protocol has no answer to a track message: the server stores what the relay
        // passed on a moment after the upload has returned.
        std::vector<test::ExportedPoint> points;
        test::WaitFor(
            [&] {
                points = server_.Export("anna");
                return points.size() >= stored + c.records;
            },
            std::chrono::seconds(10));
        ASSERT_EQ(points.size(), stored + c.records);
        EXPECT_NEAR(points.back().lat, -33.0 - (c.records - 1) * 1e-4, 1e-7);
        EXPECT_NEAR(points.back().lon, 151.0 + (c.records - 1) * 1e-4, 1e-7);
        stored = points.size();
        EXPECT_FALSE(platform::DeviceFileExists("\\anna.log"));
    }
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
