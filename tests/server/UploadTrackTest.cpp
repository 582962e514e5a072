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

    test::ShellDouble shell_;
    test::UploadHost host_{settings_};
};

// A message holds 500 points: 501 records go out in two. With user id 0 the short login is
// sent; an empty log sends nothing. The server holds every point, the log is gone and the
// services that ran come back: a tracker still connecting has no state bit, but the host
// reports it running.
TEST_F(UploadTrackTest, EveryRecordReachesTheServerAndTheLogGoes) {
    using Running = std::optional<uint32_t>;
    const struct {
        uint32_t userId;
        size_t records;
        Running running;
    } cases[] = {{userId_, 501, {}}, {0u, 2, {}}, {userId_, 0, {}}, {userId_, 0, kModeTracker | kModeLogger}};
    size_t stored = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.userId) + " " + std::to_string(c.records));
        settings_.SetUserId(c.userId);
        WriteLog(c.records, 9);
        shell_.boxes.clear();
        host_.calls.clear();
        host_.state = c.running ? kModeLogger : kModeTracker | kModeLogger | kModeFix;
        host_.running = c.running;
        EXPECT_TRUE(UploadTrack(host_));
        ASSERT_EQ(shell_.boxes.size(), 1u);
        EXPECT_EQ(shell_.boxes[0].text,
                  "Track has been sent to Geomira Server, Track Point count: " + std::to_string(c.records));
        EXPECT_EQ(shell_.boxes[0].caption, "Kestrix");
        EXPECT_EQ(shell_.boxes[0].flags, platform::MB_OK | platform::MB_TOPMOST);
        EXPECT_EQ(host_.calls, (std::vector<std::string>{"stop 128", "start 3", "update"}));
        EXPECT_EQ(settings_.GetUserId(), c.userId) << "the setting is left as it was";
        EXPECT_FALSE(platform::DeviceFileExists("\\anna.log"));
        // The protocol has no answer to a track message: the server stores the points a
        // moment after the upload has returned.
        std::vector<test::ExportedPoint> points;
        test::WaitFor(
            [&] {
                points = server_.Export("anna");
                return points.size() >= stored + c.records;
            },
            std::chrono::seconds(10));
        ASSERT_EQ(points.size(), stored + c.records);
        if (c.records) {
            EXPECT_NEAR(points.back().lat, -33.0 - (c.records - 1) * 1e-4, 1e-7);
            EXPECT_NEAR(points.back().lon, 151.0 + (c.records - 1) * 1e-4, 1e-7);
        }
        stored = points.size();
    }
}

TEST_F(UploadTrackTest, FailuresAreShownAndTheLogKept) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        std::string text, start;
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
        {"a name that never resolves", [&] { settings_.SetHost(std::string("track.invalid")); },
         "Can't connect to host: 'track.invalid' port: " + std::to_string(server_.Port()) +
             " error: 6  (cannot resolve \"track.invalid\": names under .invalid never resolve)",
         "start 3"},
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
