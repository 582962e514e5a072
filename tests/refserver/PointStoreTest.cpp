// The database stores a packet whole or not at all, inside and outside a group commit.
#include "PointStore.h"

#include <gtest/gtest.h>

#include <limits>

#include "support/TestSupport.h"

namespace kestrix::refserver {
namespace {

StoredPoint Point(double lat) {
    StoredPoint p;
    p.received = "2026-12-06T10:00:00.000Z";
    p.latitude = lat;
    p.longitude = 1.0;
    return p;
}

TEST(PointStoreTest, APacketIsStoredWholeOrNotAtAll) {
    test::TempDir dir;
    PointStore store;
    uint32_t user = 0;
    ASSERT_TRUE(store.Open(dir.File("p.sqlite")));
    ASSERT_TRUE(store.AddUser("u", "d", user));
    // A second connection sees only what was committed.
    const auto latitudes = [&] {
        PointStore reader;
        std::vector<double> lats;
        EXPECT_TRUE(reader.Open(dir.File("p.sqlite")));
        EXPECT_TRUE(reader.ForEachPoint(user, [&](const StoredPoint& p) { lats.push_back(p.latitude); }));
        return lats;
    };
    // A latitude that is not a number cannot be stored (the column refuses NULL), which
    // makes a packet fail half way through.
    const StoredPoint unstorable = Point(std::numeric_limits<double>::quiet_NaN());
    for (bool batch : {false, true}) {
        SCOPED_TRACE(batch ? "one group commit" : "own transactions");
        if (batch) store.BeginBatch();
        EXPECT_TRUE(store.AddPoints(user, {Point(1), Point(2)}));
        EXPECT_FALSE(store.AddPoints(user, {Point(3), unstorable, Point(4)}));
        EXPECT_NE(store.Error().find("cannot store a point"), std::string::npos) << store.Error();
        EXPECT_TRUE(store.AddPoints(user, {Point(5)}));
        if (batch) {
            EXPECT_EQ(latitudes().size(), 3u) << "nothing new before the commit";
            EXPECT_TRUE(store.EndBatch());
        }
    }
    EXPECT_EQ(latitudes(), (std::vector<double>{1, 2, 5, 1, 2, 5}));
}

}  // namespace
}  // namespace kestrix::refserver
