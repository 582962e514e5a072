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

}  // namespace
}  // namespace kestrix
