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
