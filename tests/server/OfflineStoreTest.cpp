#include "server/OfflineStore.h"

#include <cmath>

#include "TestKit.h"
#include "server/Messages.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

using test::kT0;
using test::StoreName;

class OfflineStoreTest : public test::DeviceFixture {
protected:
    void SetUp() override {
        DeviceFixture::SetUp();
        ASSERT_TRUE(platform::CreateDeviceDirectory("\\logs"));
        settings_.SetLogPath(std::string("\\logs\\anna.log"));
    }

    // Writes records straight into a store file named in the registry, then records that
    // hold no position (NaN latitude, 1000 degrees, a time past 9999), then junk.
    std::string MakeStoreFile(size_t records, size_t trailingBytes, size_t damaged = 0) {
        OfflineStore store;
        EXPECT_TRUE(store.Open(&settings_));
        for (size_t i = 0; i < records; ++i) store.Write(Point(i));
        const std::string name = store.Name();
        store.Close();
        platform::DeviceFile f;
        EXPECT_TRUE(f.Open(name, "ab"));
        for (size_t i = 0; i < damaged; ++i) {
            const LogRecord bad[] = {{std::nan(""), 1, 0, 0, kT0}, {1000, 1, 0, 0, kT0}, {1, 1, 0, 0, UINT64_MAX}};
            uint8_t bytes[kLogRecordSize];
            EncodeLogRecord(bad[i % 3], bytes);
            f.Write(bytes, sizeof bytes);
        }
        f.Write(std::string(trailingBytes, '\x7F').data(), trailingBytes);
        return name;
    }

    static TrackPointRef Point(size_t i) {
        return TrackPoint::Make(40.0 + i * 1e-5, -3.0 - i * 1e-5, 600.0f + i, 4.5f, kT0 + i * 10000000ull);
    }
};

// A send function that records what it was given.
struct Recorder {
    std::vector<size_t> counts;
    std::vector<uint32_t> userIds;
    std::vector<TrackPointRef> points;
    size_t failAt = SIZE_MAX;
    OfflineStore::SendFunction Fn() {
        return [this](ServerMessage& m) {
            auto& track = static_cast<TrackMessage&>(m);
            if (counts.size() == failAt) return false;
            counts.push_back(track.Count());
            userIds.push_back(track.GetUserId());
            for (auto& p : track.Points()) points.push_back(p);
            return true;
        };
    }
};

TEST_F(OfflineStoreTest, ResendSendsWholeRecordsInBatchesAndDeletes) {
    // the damaged records never reach the server
    struct Case { size_t records, trailing, damaged; std::vector<size_t> batches; };
    const Case cases[] = {
        {0, 0, 0, {}}, {500, 0, 0, {500}}, {1001, 0, 0, {500, 500, 1}}, {3, 17, 3, {3}}, {0, 31, 0, {}},
    };
    for (const Case& c : cases) {
        const std::string name = MakeStoreFile(c.records, c.trailing, c.damaged);
        OfflineStore store;
        Recorder rec;
        EXPECT_TRUE(store.Resend(rec.Fn(), 77)) << c.records;
        EXPECT_EQ(rec.counts, c.batches) << c.records;
        for (uint32_t id : rec.userIds) EXPECT_EQ(id, 77u);
        ASSERT_EQ(rec.points.size(), c.records);
        for (size_t i = 0; i < c.records; i += 250) {
            EXPECT_EQ(rec.points[i]->GetTime(), kT0 + i * 10000000ull) << "record " << i << " in order";
            EXPECT_EQ(rec.points[i]->GetLongitude(), -3.0 - i * 1e-5);
            EXPECT_EQ(rec.points[i]->GetSpeed(), 4.5f);
        }
        EXPECT_FALSE(platform::DeviceFileExists(name)) << c.records;
        EXPECT_FALSE(StoreName()) << c.records;
    }
}

TEST_F(OfflineStoreTest, FailedResendKeepsEverythingAndStartsOverNextTime) {
    const std::string name = MakeStoreFile(1001, 0);
    OfflineStore store;
    Recorder failing;
    failing.failAt = 1;
    EXPECT_FALSE(store.Resend(failing.Fn(), 5));
    EXPECT_EQ(failing.counts, (std::vector<size_t>{500}));
    EXPECT_TRUE(platform::DeviceFileExists(name));
    EXPECT_EQ(StoreName(), name);

    Recorder ok;
    EXPECT_TRUE(store.Resend(ok.Fn(), 5));
    EXPECT_EQ(ok.counts, (std::vector<size_t>{500, 500, 1}));
    EXPECT_EQ(ok.points.front()->GetTime(), kT0);
    EXPECT_FALSE(platform::DeviceFileExists(name));
}

// Store files whose names never reached the registry (it could not be saved) are found
// beside the log and sent too; other files there stay.
TEST_F(OfflineStoreTest, ResendAlsoSendsStoreFilesNoSettingNames) {
    std::vector<std::string> names;
    for (size_t records : {3, 2, 1}) {
        if (!names.empty()) {
            EXPECT_TRUE(platform::RegKey::Open(kSettingsKey, false)->DeleteValue(kOfflineStoreValue));
        }
        names.push_back(MakeStoreFile(records, 0));
    }
    test::WriteFile(dir_.File("logs/GMROT_notes.txt"), "kept");
    OfflineStore store;
    Recorder rec;
    EXPECT_TRUE(store.Resend(rec.Fn(), 1, &settings_));
    EXPECT_EQ(rec.points.size(), 6u);
    for (const std::string& name : names) EXPECT_FALSE(platform::DeviceFileExists(name)) << name;
    EXPECT_FALSE(StoreName());
    EXPECT_EQ(test::ReadFile(dir_.File("logs/GMROT_notes.txt")), "kept");
}

// On a full disk (a tmpfs of the test's own) what the store cannot write waits in memory
// while the listener is told; the resend sends it from there.
TEST_F(OfflineStoreTest, AFullDiskKeepsPointsInMemoryForTheResend) {
    test::SmallDisk disk;
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs (root is needed): the full-disk case did not run";
    platform::SetDeviceRoot(disk.Path());
    settings_.SetLogPath(std::string("\\anna.log"));
    test::StatusRecorder listener;
    OfflineStore store(&listener);
    ASSERT_TRUE(store.Open(&settings_) && disk.Fill());
    for (size_t i = 0; i < 3; ++i) store.Write(Point(i));
    Recorder rec;
    EXPECT_TRUE(store.Resend(rec.Fn(), 1, &settings_));
    EXPECT_EQ(rec.points.size(), 3u);
    EXPECT_EQ(listener.Take(), (std::vector<std::string>{"problem 0 Can not write the offline store: No space left on "
                                                         "device. Positions wait in memory until it can.",
                                                         "problem 0 "}));
}

TEST_F(OfflineStoreTest, OpenNamesAFileBesideTheLogAndReopeningAppends) {
    OfflineStore store;
    ASSERT_TRUE(store.Open(&settings_));
    const std::string name = store.Name();
    EXPECT_EQ(name.rfind("\\logs\\GMROT_", 0), 0u) << name;
    EXPECT_EQ(StoreName(), name) << "a new file is named at once";
    store.Write(Point(0));
    store.Write(Point(1));
    store.Close();
    EXPECT_FALSE(store.IsOpen());
    EXPECT_EQ(store.Name(), "");
    EXPECT_EQ(platform::DeviceFileSize(name), 64);

    ASSERT_TRUE(store.Open(&settings_));
    EXPECT_EQ(store.Name(), name);
    store.Write(Point(2));
    store.Close();
    EXPECT_EQ(platform::DeviceFileSize(name), 96);  // what the records hold is the resend test's
}

}  // namespace
}  // namespace kestrix
