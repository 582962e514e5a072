#include "nmea/SatelliteTable.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kestrix {
namespace {

SatelliteRecord Rec(int prn, int snr, uint8_t used = 0, SatSystem system = SatSystem::Gps) {
    SatelliteRecord r;
    r.prn = prn;
    r.elevation = prn + 10;
    r.azimuth = prn * 3;
    r.snr = snr;
    r.used = used;
    r.system = system;
    return r;
}

TEST(SatelliteTableTest, MarkUsedAndPrune) {
    struct Case {
        const char* what;
        SatSystem system;
        std::vector<int> ids;
        bool prune;
        std::vector<std::pair<int, int>> expected;  // (prn, used) of the GPS records
    };
    const Case cases[] = {
        {"mark used", SatSystem::Gps, {2, 9}, false, {{2, 1}, {5, 0}, {9, 1}}},
        {"unknown ids are ignored", SatSystem::Gps, {7, 31}, false, {{2, 0}, {5, 0}, {9, 0}}},
        {"combined talker marks every system", SatSystem::Unknown, {5}, false, {{2, 0}, {5, 1}, {9, 0}}},
        {"prune to the set", SatSystem::Gps, {5, 9, 12}, true, {{5, 1}, {9, 0}}},
        {"prune to nothing", SatSystem::Gps, {}, true, {}},
    };
    for (const Case& c : cases) {
        SatelliteTable t;
        t.AddOrUpdate(Rec(2, 30), false);
        t.AddOrUpdate(Rec(5, 30, 1), false);
        t.AddOrUpdate(Rec(9, 30), false);
        t.AddOrUpdate(Rec(5, 44, 0, SatSystem::Glonass), false);
        if (c.prune) {
            t.Prune(c.system, c.ids);
        } else {
            t.MarkUsed(c.system, c.ids);
        }
        std::vector<std::pair<int, int>> got;
        for (const SatelliteRecord& r : t.Snapshot())
            if (r.system == SatSystem::Gps) got.emplace_back(r.prn, r.used);
        EXPECT_EQ(got, c.expected) << c.what;
        SatelliteRecord glonass;
        ASSERT_TRUE(t.Find(SatelliteKey{SatSystem::Glonass, 5}, glonass)) << c.what;
        EXPECT_EQ(glonass.snr, 44) << c.what;
        // Only a sentence of every system touches another system's flags.
        EXPECT_EQ(glonass.used, c.system == SatSystem::Unknown ? 1 : 0) << c.what;
    }
}

TEST(SatelliteTableTest, ReadersNeverSeeAHalfWrittenRecord) {
    SatelliteTable t;
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            SatelliteRecord r = Rec(1 + i % 12, i);
            r.elevation = i;
            r.azimuth = i;
            t.AddOrUpdate(r, true);
            if (i % 100 == 0) t.Prune(SatSystem::Gps, {1, 2, 3});
        }
        stop = true;
    });
    while (!stop) {
        for (const SatelliteRecord& r : t.Snapshot()) {
            ASSERT_EQ(r.elevation, r.snr);
            ASSERT_EQ(r.azimuth, r.snr);
        }
    }
    writer.join();
}

}  // namespace
}  // namespace kestrix
