#include "server/TrackerSession.h"

#include <cmath>
#include <map>
#include <set>

#include "TestKit.h"
#include "platform/Clock.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

using test::ExportedPoint;
using test::kT0;
using test::StatusRecorder;
using test::StoreName;
using test::WaitFor;

using test::Point;
constexpr auto kBound = std::chrono::seconds(20);

size_t CountKind(const std::vector<ExportedPoint>& points, const std::string& kind) {
    return static_cast<size_t>(
        std::count_if(points.begin(), points.end(), [&](const ExportedPoint& p) { return p.kind == kind; }));
}

// Which test point (by its latitude) an exported point is.
int Index(const ExportedPoint& p) { return static_cast<int>(std::lround((p.lat - 48.0) / 0.001)); }

class TrackerSessionTest : public test::ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        settings_.SetUserId(0);
        settings_.SetAutoTrackMode(0);
        session_.SetRetryPause(100);
        session_.SetTimeouts(5000, 10000);
    }
    void TearDown() override {
        session_.Stop();
        platform::SetDeviceClock(nullptr);
    }

    std::vector<ExportedPoint> WaitForPoints(size_t live, size_t track) {
        std::vector<ExportedPoint> got;
        WaitFor(
            [&] {
                got = server_.Export("anna");
                return CountKind(got, "live") >= live && CountKind(got, "track") >= track;
            },
            kBound);
        EXPECT_EQ(CountKind(got, "live"), live);
        EXPECT_EQ(CountKind(got, "track"), track);
        return got;
    }

    StatusRecorder listener_;
    TrackerSession session_{&listener_};
};

// The count rule sends the batch when a point arrives beyond the count; a point older
// than the last track point sent is not collected (one of the same time is).
TEST_F(TrackerSessionTest, CountRuleSendsOnThePointBeyondTheCount) {
    const uint64_t last = Point(1)->GetTime();
    settings_.SetLastTrackPoint(&last);
    settings_.SetAutoTrackMode(2);
    settings_.SetAutoTrackPointCount(2);
    ASSERT_TRUE(session_.Start(&settings_));
    for (int i = 0; i < 3; ++i) session_.PostPosition(Point(i));
    WaitForPoints(3, 0);
    session_.PostPosition(Point(3));
    std::set<int> inTrack;
    for (const auto& p : WaitForPoints(4, 2))
        if (p.kind == "track") inTrack.insert(Index(p));
    EXPECT_EQ(inTrack, (std::set<int>{1, 2})) << "the fourth waits in the next batch";
    EXPECT_EQ(settings_.GetLastTrackPoint(), Point(2)->GetTime());
}

TEST_F(TrackerSessionTest, TimerRuleFollowsTheDeviceClock) {
    platform::ManualClock clock(1000, kT0);
    platform::SetDeviceClock(&clock);
    settings_.SetAutoTrackMode(1);
    settings_.SetAutoTrackTimeout(2);
    ASSERT_TRUE(session_.Start(&settings_));
    for (int i = 0; i < 3; ++i) session_.PostPosition(Point(i));
    WaitForPoints(3, 0);
    clock.Advance(119000);
    session_.PostPosition(Point(3));
    WaitForPoints(4, 0);
    EXPECT_EQ(CountKind(server_.Export("anna"), "track"), 0u) << "a second before the period ends";
    clock.Advance(1000);
    auto got = WaitForPoints(4, 4);
    EXPECT_EQ(settings_.GetLastTrackPoint(), Point(3)->GetTime());
    // The worker reads the device clock until it ends: stop it before this clock goes away.
    session_.Stop();
    platform::SetDeviceClock(nullptr);
}

// Logged in, the session keeps the user id the server gave and sends live positions.
TEST_F(TrackerSessionTest, ServerOutageLosesNothingAndResendsOnce) {
    ASSERT_TRUE(session_.Start(&settings_));
    for (int i = 0; i < 3; ++i) session_.PostPosition(Point(i));
    const auto live = WaitForPoints(3, 0);
    for (size_t i = 0; i < live.size(); ++i) {
        EXPECT_NEAR(live[i].lat, 48.0 + i * 0.001, 1e-9) << i;
        EXPECT_NEAR(live[i].lon, 11.0 + i * 0.001, 1e-9) << i;
        EXPECT_NEAR(live[i].alt, 500.0 + i, 1e-3) << i;
    }
    EXPECT_TRUE(listener_.Has("started 0"));
    EXPECT_EQ(settings_.GetUserId(), userId_);

    server_.Stop();
    for (int i = 3; i < 7; ++i) session_.PostPosition(Point(i));
    std::string name;
    ASSERT_TRUE(WaitFor(
        [&] {
            auto n = StoreName();
            if (!n) return false;
            name = *n;
            return platform::DeviceFileSize(name).value_or(0) == 4 * 32;
        },
        kBound))
        << "the four points wait in the offline store";
    EXPECT_TRUE(listener_.Has("message Can't connect to Host:127.0.0.1 Port:" + std::to_string(server_.Port()) +
                              " Error:111"));

    ASSERT_TRUE(server_.Start());
    session_.PostPosition(Point(7));
    auto got = WaitForPoints(4, 4);
    std::map<int, int> seen;
    for (const auto& p : got) ++seen[Index(p)];
    for (int i = 0; i < 8; ++i) EXPECT_EQ(seen[i], 1) << "point " << i << " reaches the server exactly once";
    for (const auto& p : got) EXPECT_TRUE(p.kind == "live" || Index(p) >= 3) << Index(p);
    EXPECT_FALSE(StoreName()) << "the registry forgets the sent store";
    EXPECT_FALSE(platform::DeviceFileExists(name));
    session_.Stop();
    EXPECT_TRUE(listener_.Has("stopped 0"));
}

// A refused login shows the server's text, a missing login or password says which; every
// point waits in the offline store and none reaches the server.
TEST_F(TrackerSessionTest, RefusedOrMissingAccountsAreReportedAndThePointsKept) {
    struct Case { const char* text; std::optional<std::string> login, password; };
    const Case cases[] = {
        {"message Wrong login or password", "anna", "wrong"},
        {"message Invalid login.", std::nullopt, std::nullopt},
        {"message Invalid password.", "anna", std::nullopt},
    };
    int kept = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TrackerSettings s;
        s.SetHost(std::string("127.0.0.1"));
        s.SetPort(server_.Port());
        s.SetLogPath(std::string("\\anna.log"));
        if (c.login) s.SetLogin(*c.login);
        if (c.password) s.SetPassword(*c.password);
        StatusRecorder l;
        TrackerSession session(&l);
        session.SetRetryPause(50);
        ASSERT_TRUE(session.Start(&s));
        session.PostPosition(Point(kept++));
        EXPECT_TRUE(WaitFor([&] { return l.Has(c.text); }, kBound));
        session.Stop();
        EXPECT_FALSE(l.Has("started 0"));
        session.Store().Close();
        const auto name = StoreName();
        ASSERT_TRUE(name);
        EXPECT_EQ(platform::DeviceFileSize(*name), kept * 32);
    }
    EXPECT_TRUE(server_.Export("anna").empty());
}

TEST_F(TrackerSessionTest, StopEndsAWaitForAServerThatNeverAnswers) {
    platform::TcpListener silent;
    ASSERT_EQ(silent.Listen("127.0.0.1", 0), 0);
    settings_.SetPort(silent.Port());
    // A receive time limit far beyond the test's own: only the stop can end the wait.
    session_.SetTimeouts(5000, 600000);
    ASSERT_TRUE(session_.Start(&settings_));
    session_.PostPosition(Point(0));
    platform::Socket client = silent.Accept(20000, nullptr);
    ASSERT_TRUE(client.IsOpen());
    uint8_t login[64];
    size_t got = 0;
    while (got < 48) {
        long n = client.Receive(login + got, sizeof login - got, 20000, nullptr);
        ASSERT_GT(n, 0);
        got += static_cast<size_t>(n);
    }
    EXPECT_EQ(login[0], 44) << "the worker now waits for the answer";
    // Meanwhile more points arrive than the queue holds: the oldest make room by moving
    // to the store.
    for (int i = 1; i < 105; ++i) session_.PostPosition(Point(i));
    session_.Stop();
    EXPECT_FALSE(session_.IsRunning());
    for (const auto& e : listener_.Events()) {
        EXPECT_EQ(e.find("message Read failed"), std::string::npos) << "a stop is not a read error: " << e;
    }
    // Every point was accepted, so every point is in the store, in order.
    auto name = StoreName();
    ASSERT_TRUE(name);
    session_.Store().Close();
    platform::DeviceFile f;
    ASSERT_TRUE(f.Open(*name, "rb"));
    LogRecordReader reader(f);
    LogRecord r;
    int n = 0;
    while (reader.Next(r)) {
        EXPECT_EQ(r.time, Point(n)->GetTime()) << n;
        ++n;
    }
    EXPECT_EQ(n, 105);
}

TEST_F(TrackerSessionTest, StopEndsAConnectThatWouldHang) {
    test::FullListener full;
    if (!full.Fill()) GTEST_SKIP() << "this system does not let the accept queue fill";
    settings_.SetPort(full.listener.Port());
    session_.SetTimeouts(600000, 600000);  // only the stop can end the connect
    ASSERT_TRUE(session_.Start(&settings_));
    session_.PostPosition(Point(0));
    session_.Stop();
    EXPECT_FALSE(session_.IsRunning());
    auto name = StoreName();
    ASSERT_TRUE(name);
    EXPECT_EQ(platform::DeviceFileSize(*name), 32) << "the point waits in the store";
    for (const auto& e : listener_.Events()) {
        EXPECT_EQ(e.find("message Can't connect"), std::string::npos) << "a stop is not a failed connect: " << e;
    }
}

TEST_F(TrackerSessionTest, StopKeepsTheCollectedBatchAndLaterPointsInTheStore) {
    settings_.SetAutoTrackMode(2);
    settings_.SetAutoTrackPointCount(500);
    ASSERT_TRUE(session_.Start(&settings_));
    for (int i = 0; i < 3; ++i) session_.PostPosition(Point(i));
    WaitForPoints(3, 0);
    session_.Stop();
    ASSERT_TRUE(session_.Store().IsOpen()) << "the store stays open after the stop";
    auto name = StoreName();
    ASSERT_TRUE(name);
    EXPECT_EQ(platform::DeviceFileSize(*name), 3 * 32);
    // Without a worker, new points go straight to the store.
    session_.PostPosition(Point(3));
    session_.PostPosition(Point(4));
    session_.Store().Close();
    EXPECT_EQ(platform::DeviceFileSize(*name), 5 * 32);
    EXPECT_EQ(CountKind(server_.Export("anna"), "track"), 0u);
}

}  // namespace
}  // namespace kestrix
