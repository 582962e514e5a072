#include "server/UploadTrack.h"

#include <functional>

#include "TestKit.h"
#include "base/Listeners.h"
#include "platform/Shell.h"
#include "server/Messages.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

using test::kT0;

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

    test::ScriptedShell shell_;
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

// A message holds 500 points: 501 records go out in two. With user id 0 the short login
// is sent. The server holds every point and the log is gone.
TEST_F(UploadTrackTest, EveryRecordReachesTheServerAndTheLogGoes) {
    size_t stored = 0;
    for (const auto& [userId, records] : {std::pair{userId_, size_t{501}}, {0u, size_t{2}}}) {
        SCOPED_TRACE(userId);
        settings_.SetUserId(userId);
        WriteLog(records, 9);
        EXPECT_TRUE(UploadTrack(host_));
        EXPECT_EQ(LastBox(), "Track has been sent to Geomira Server, Track Point count: " + std::to_string(records));
        EXPECT_EQ(settings_.GetUserId(), userId) << "the setting is left as it was";
        // The protocol has no answer to a track message: the server stores the points a
        // moment after the upload has returned.
        std::vector<test::ExportedPoint> points;
        test::WaitFor(
            [&] {
                points = server_.Export("anna");
                return points.size() >= stored + records;
            },
            std::chrono::seconds(10));
        ASSERT_EQ(points.size(), stored + records);
        EXPECT_NEAR(points.back().lat, -33.0 - (records - 1) * 1e-4, 1e-7);
        EXPECT_NEAR(points.back().lon, 151.0 + (records - 1) * 1e-4, 1e-7);
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
