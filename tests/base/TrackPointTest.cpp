#include "base/TrackPoint.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kestrix {
namespace {

class WatchedPoint : public TrackPoint {
public:
    explicit WatchedPoint(bool* destroyed) : TrackPoint(1, 2, 3, 4, 5), destroyed_(destroyed) {}
    ~WatchedPoint() override { *destroyed_ = true; }

private:
    bool* destroyed_;
};

// The count starts at zero, survives concurrent holders, and the last release destroys.
TEST(TrackPointTest, CountSurvivesConcurrentHoldersAndLastReleaseDestroys) {
    bool destroyed = false;
    auto* p = new WatchedPoint(&destroyed);
    EXPECT_EQ(p->RefCount(), 0u);
    EXPECT_EQ(p->AddRef(), 1u);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([p] {
            for (int i = 0; i < 20000; ++i) {
                p->AddRef();
                p->Release();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(p->AddRef(), 2u);
    EXPECT_EQ(p->Release(), 1u);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(p->Release(), 0u);
    EXPECT_TRUE(destroyed);
}

TEST(TrackPointTest, OleDateFromFileTime) {
    struct Row {
        const char* what;
        uint64_t fileTime;
        bool ok;
        double ole;
    } rows[] = {
        {"OLE epoch 1899-12-30", 94353120000000000ULL, true, 0.0},
        {"2009-01-01 12:00", 128752848000000000ULL, true, 39814.5},
        {"2009-01-01 06:00:00.500", 128752632005000000ULL, true, 39814.25 + 0.5 / 86400.0},
        {"past year 30827", UINT64_MAX, false, -1.0},
    };
    for (const Row& r : rows) {
        TrackPoint p(0, 0, 0, 0, r.fileTime);
        double out = -1.0;
        EXPECT_EQ(p.GetOleDate(out), r.ok) << r.what;
        EXPECT_NEAR(out, r.ole, 1e-9) << r.what;
    }
}

}  // namespace
}  // namespace kestrix
