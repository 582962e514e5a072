#include "tracklog/TrackLog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/DeviceFs.h"
#include "platform/MessageLoop.h"
#include "platform/ShellDouble.h"
#include "settings/TrackerSettings.h"
#include "support/Recorders.h"
#include "support/TestSupport.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

using Events = std::vector<std::string>;

class TrackLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetDeviceRoot(dir_.Path());
        settings_.SetLogPath(std::string("\\Kestrix.log"));
    }

    std::string LogBytes() const { return test::ReadFile(dir_.File("Kestrix.log")); }

    static std::string Encoded(double lat, double lon, float alt, float speed, uint64_t time) {
        uint8_t b[32];
        EncodeLogRecord(LogRecord{lat, lon, alt, speed, time}, b);
        return std::string(reinterpret_cast<const char*>(b), 32);
    }

    test::TempDir dir_;
    TrackerSettings settings_;
    test::StatusRecorder listener_;
};

TEST_F(TrackLogTest, CutRecordIsFilledSoLaterRecordsStayAligned) {
    const std::string good = Encoded(1, 2, 0, 0, 7) + Encoded(3, 4, 0, 0, 8);
    test::WriteFile(dir_.File("Kestrix.log"), good + Encoded(5, 6, 0, 0, 9).substr(0, 6));
    TrackLog log(&listener_);
    ASSERT_TRUE(log.Open(&settings_));
    log.Write(TrackPoint::Make(-33.5, 151.25, 12.5f, 36.0f, 10));
    log.Close();

    const std::string bytes = LogBytes();
    ASSERT_EQ(bytes.size(), 128u);
    EXPECT_EQ(bytes.substr(0, 64), good);
    EXPECT_EQ(bytes.substr(64, 6), Encoded(5, 6, 0, 0, 9).substr(0, 6));
    EXPECT_EQ(bytes.substr(70, 26), std::string(26, '\xFF'));
    LogRecord filled = DecodeLogRecord(reinterpret_cast<const uint8_t*>(bytes.data() + 64));
    EXPECT_TRUE(std::isnan(filled.latitude));
    EXPECT_EQ(bytes.substr(96), Encoded(-33.5, 151.25, 12.5f, 36.0f, 10));
}

TEST_F(TrackLogTest, OpenAndCloseReportOnlyWhatHappened) {
    struct Row {
        const char* what;
        std::optional<std::string> path;  // nullopt: no settings at all
        bool opened;
        Events events;
    } rows[] = {
        {"no settings", std::nullopt, false, {}},
        {"empty path", std::string(""), false, {}},
        {"missing folder", std::string("\\no such folder\\Kestrix.log"), false, {"message Can not open file..."}},
        {"good path", std::string("\\Kestrix.log"), true, {"started 1"}},
    };
    for (const Row& r : rows) {
        TrackLog log(&listener_);
        TrackerSettings s;
        if (r.path) s.SetLogPath(*r.path);
        EXPECT_EQ(log.Open(r.path ? &s : nullptr), r.opened) << r.what;
        EXPECT_EQ(log.IsOpen(), r.opened) << r.what;
        EXPECT_EQ(listener_.Take(), r.events) << r.what;
        log.Close();
        log.Close();  // already closed: still reported
        EXPECT_EQ(listener_.Take(), (Events{"stopped 1", "stopped 1"})) << r.what;
    }
}

// A listener that calls back into the log while the log holds its lock: the lock must be
// re-entrant or this deadlocks.
class ReentrantListener : public test::StatusRecorder {
public:
    TrackLog* log = nullptr;
    void OnStarted(int kind) override {
        StatusRecorder::OnStarted(kind);
        log->Write(TrackPoint::Make(5, 5, 0, 0, 1));
    }
};

TEST_F(TrackLogTest, ListenerMayCallBackIntoTheLog) {
    ReentrantListener listener;
    TrackLog log(&listener);
    listener.log = &log;
    ASSERT_TRUE(log.Open(&settings_));
    log.Close();
    EXPECT_EQ(LogBytes(), Encoded(5, 5, 0, 0, 1));
}

TEST_F(TrackLogTest, ConcurrentWritersNeverInterleaveRecords) {
    TrackLog log(&listener_);
    ASSERT_TRUE(log.Open(&settings_));
    constexpr int kPerThread = 300;
    std::vector<std::thread> writers;
    for (int t = 1; t <= 3; ++t) {
        writers.emplace_back([&log, t] {
            for (int i = 0; i < kPerThread; ++i) log.Write(TrackPoint::Make(t, i, 0, 0, static_cast<uint64_t>(t)));
        });
    }
    for (auto& w : writers) w.join();
    log.Close();

    const std::string bytes = LogBytes();
    ASSERT_EQ(bytes.size(), 3u * kPerThread * 32u);
    std::vector<int> next(4, 0);
    for (size_t off = 0; off < bytes.size(); off += 32) {
        LogRecord r = DecodeLogRecord(reinterpret_cast<const uint8_t*>(bytes.data() + off));
        int t = static_cast<int>(r.latitude);
        ASSERT_TRUE(t >= 1 && t <= 3) << "record at " << off;
        EXPECT_EQ(r.time, static_cast<uint64_t>(t));
        EXPECT_EQ(r.longitude, next[t]++) << "thread " << t << " out of order";
    }
}

class ExportTest : public TrackLogTest {
protected:
    void SetUp() override {
        TrackLogTest::SetUp();
        shell_.answer = platform::IDCANCEL;
        platform::SetShellHost(&shell_);
    }
    void TearDown() override {
        platform::SetShellHost(nullptr);
        TrackLog::SetSettingsSource(nullptr);
    }

    const std::vector<test::ShellDouble::Box> kQuestion = {
        {"Would you like to remove the binary log?", "GMRLogger", 33}};
    test::ShellDouble shell_;
    // As on the UI thread: the log converts on a worker while this loop turns ("kestrix log
    // gpx" converts on a thread without one).
    platform::MessageLoop loop_;
};

// The question waits for a person while the loop turns: a logger started meanwhile must
// not append to the log that OK removes, or every later record would go with it.
TEST_F(ExportTest, ALoggerStartedWhileTheQuestionWaitsWritesToTheNewLog) {
    TrackLog log(&listener_);
    ASSERT_TRUE(log.Open(&settings_));
    shell_.whileShown = [&] { EXPECT_FALSE(log.Open(&settings_)); };
    shell_.answer = platform::IDOK;
    EXPECT_TRUE(log.ExportGpx());
    log.Write(TrackPoint::Make(1, 2, 0, 0, 3));
    EXPECT_EQ(LogBytes(), Encoded(1, 2, 0, 0, 3));
}

TEST_F(ExportTest, CancelKeepsTheLogAndLaterFilesGetCounters) {
    const std::string original = Encoded(1, 2, 0, 0, 0) + Encoded(3, 4, 0, 0, 0) + "partial";
    test::WriteFile(dir_.File("Kestrix.log"), original);
    test::WriteFile(dir_.File("Kestrix.gpx"), "older");
    test::WriteFile(dir_.File("Kestrix_000.gpx"), "older");
    TrackLog log(&listener_);
    ASSERT_TRUE(log.Open(&settings_));
    shell_.answer = platform::IDCANCEL;

    ASSERT_TRUE(log.ExportGpx());
    EXPECT_EQ(log.LastExportPath(), "\\Kestrix_001.gpx");
    EXPECT_TRUE(shell_.boxes == kQuestion) << "the filled-up record does not stop the question";
    const std::string gpx = test::ReadFile(dir_.File("Kestrix_001.gpx"));
    EXPECT_NE(gpx.find("<name>Kestrix_001</name>"), std::string::npos);
    size_t points = 0;
    for (size_t at = gpx.find("<trkpt"); at != std::string::npos; at = gpx.find("<trkpt", at + 1)) ++points;
    EXPECT_EQ(points, 2u) << "the trailing partial record is not exported";
    EXPECT_EQ(test::ReadFile(dir_.File("Kestrix.gpx")), "older");
    // Kept (the reopening only fills the cut record up).
    EXPECT_EQ(LogBytes().substr(0, original.size()), original);
    EXPECT_EQ(LogBytes().size(), 96u);

    ASSERT_TRUE(log.ExportGpx());
    EXPECT_EQ(log.LastExportPath(), "\\Kestrix_002.gpx");
}

TEST_F(ExportTest, PathComesFromTheSettingsWhenTheLogHasNone) {
    TrackLog log(&listener_);
    TrackerSettings s;
    s.SetLogPath(std::string(""));
    EXPECT_FALSE(log.Open(&s));
    EXPECT_FALSE(log.ExportGpx()) << "no path anywhere";
    EXPECT_FALSE(log.IsOpen());
    EXPECT_TRUE(shell_.boxes.empty());

    test::WriteFile(dir_.File("late.log"), Encoded(1, 2, 0, 0, 0));
    s.SetLogPath(std::string("\\late.log"));
    EXPECT_TRUE(log.ExportGpx());
    EXPECT_EQ(log.LastExportPath(), "\\late.gpx");
    EXPECT_EQ(shell_.boxes.size(), 1u);
    EXPECT_TRUE(log.IsOpen());
    EXPECT_EQ(log.Path(), "\\late.log");
}

// With nothing to write (the log is gone) or nowhere to write it, the export asks nothing
// and the log stays, open.
TEST_F(ExportTest, NothingWrittenAsksNothingAndKeepsTheLog) {
    shell_.answer = platform::IDOK;
    for (bool logGone : {true, false}) {
        SCOPED_TRACE(logGone ? "the log is gone" : "the GPX file cannot be created");
        if (!logGone) {
            test::WriteFile(dir_.File("Kestrix.log"), Encoded(1, 2, 0, 0, 0));
            // A dangling link where the GPX file would go: the name looks free (it cannot
            // be read) but the file cannot be created through it.
            std::filesystem::create_symlink(dir_.File("no such folder/x.gpx"), dir_.File("Kestrix.gpx"));
        }
        TrackLog log(&listener_);
        ASSERT_TRUE(log.Open(&settings_));
        if (logGone) {
            log.Close();
            ASSERT_TRUE(platform::DeleteDeviceFile("\\Kestrix.log"));
        }
        EXPECT_TRUE(log.ExportGpx());
        EXPECT_TRUE(shell_.boxes.empty());
        EXPECT_TRUE(log.IsOpen());
        EXPECT_EQ(LogBytes(), logGone ? "" : Encoded(1, 2, 0, 0, 0));
        if (logGone) {
            EXPECT_FALSE(platform::DeviceFileExists("\\Kestrix.gpx"));
        }
    }
}

}  // namespace
}  // namespace kestrix
