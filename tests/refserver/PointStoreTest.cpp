// The database: all-or-none packets inside and outside a group commit, order of arrival,
// and the time text.
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

// A latitude that is not a number cannot be stored (the column refuses NULL), which
// makes a packet fail half way through.
const StoredPoint kUnstorable = Point(std::numeric_limits<double>::quiet_NaN());

class PointStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store_.Open(dir_.File("p.sqlite")));
        ASSERT_TRUE(store_.AddUser("u", "d", user_));
    }
    std::vector<double> Latitudes() {
        PointStore reader;  // a second connection sees only what was committed
        EXPECT_TRUE(reader.Open(dir_.File("p.sqlite")));
        std::vector<double> lats;
        EXPECT_TRUE(reader.ForEachPoint(user_, [&](const StoredPoint& p) { lats.push_back(p.latitude); }));
        return lats;
    }

    test::TempDir dir_;
    PointStore store_;
    uint32_t user_ = 0;
};

TEST_F(PointStoreTest, APacketIsStoredWholeOrNotAtAll) {
    struct Case {
        const char* what;
        bool batch;
    };
    for (const Case& c : {Case{"own transactions", false}, Case{"one group commit", true}}) {
        SCOPED_TRACE(c.what);
        PointStore& s = store_;
        if (c.batch) s.BeginBatch();
        EXPECT_TRUE(s.AddPoints(user_, {Point(1), Point(2)}));
        EXPECT_FALSE(s.AddPoints(user_, {Point(3), kUnstorable, Point(4)}));
        EXPECT_NE(s.Error().find("cannot store a point"), std::string::npos) << s.Error();
        EXPECT_TRUE(s.AddPoints(user_, {Point(5)}));
        if (c.batch) {
            EXPECT_EQ(Latitudes().size(), 3u);  // only the first round: nothing new before the commit
            EXPECT_TRUE(s.EndBatch());
        }
    }
    EXPECT_EQ(Latitudes(), (std::vector<double>{1, 2, 5, 1, 2, 5}));
}

TEST(PointStoreTime, IsoTextInUtcWithMilliseconds) {
    struct Case {
        int64_t ms;
        const char* text;
    };
    const Case cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {1796551969123, "2026-12-06T10:12:49.123Z"},
        {951782400000, "2000-02-29T00:00:00.000Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatIsoMs(c.ms), c.text) << c.ms;
}

}  // namespace
}  // namespace kestrix::refserver
