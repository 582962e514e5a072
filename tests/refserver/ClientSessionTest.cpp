// The per-connection parser without a socket: bytes in any pieces, the exact answers,
// the exact reason for every refusal, and the bound on what it holds.
#include "ClientSession.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "ServerCommand.h"
#include "StoreSink.h"
#include "TestClient.h"
#include "support/TestSupport.h"

namespace kestrix::refserver {
namespace {

using test::Bytes;

class ClientSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store_.Open(dir_.File("s.sqlite")));
        ASSERT_TRUE(store_.AddUser("alice", PasswordDigest("secret"), alice_));
        ASSERT_TRUE(store_.AddUser("bob", PasswordDigest("pw"), bob_));
    }

    static Bytes Login(const std::string& name, const std::string& password, uint32_t id = 1) {
        LoginMessage m(name, PasswordDigest(password), id);
        return test::Encode(m);
    }
    static Bytes Live(double lat, double lon) {
        PositionMessage m(*TrackPoint::Make(lat, lon, 100.0f, 20.0f, 0));
        return test::Encode(m);
    }
    static Bytes Track(size_t n) {
        TrackMessage m(1);
        for (size_t i = 0; i < n; ++i)
            m.Add(TrackPoint::Make(45.0 + 0.001 * static_cast<double>(i), 7.0, 200.0f, 0.0f,
                                   133'000'000'000'000'000ULL + i * 10'000'000ULL));
        return test::Encode(m);
    }
    static Bytes Cat(std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    }
    int64_t Count(uint32_t user) {
        int64_t n = -1;
        EXPECT_TRUE(store_.CountPoints(user, n));
        return n;
    }

    test::TempDir dir_;
    PointStore store_;
    StoreSink sink_{store_, [] { return std::string("2026-01-01T00:00:00.000Z"); }};
    uint32_t alice_ = 0;
    uint32_t bob_ = 0;
};

TEST_F(ClientSessionTest, PacketsSplitAnywhereGiveTheSameResult) {
    const Bytes stream = Cat({Login("alice", "secret"), Live(1, 2), Track(30), Live(3, 4), Track(2)});
    const Bytes answer = {0x2D, 0x00, 0x0E, 0x00, 1, 0, 0, 0, 0, 0, static_cast<uint8_t>(alice_), 0, 0, 0};
    int64_t expected = 0;
    for (size_t piece : {size_t(1), size_t(2), size_t(3), size_t(5), size_t(43), size_t(44), size_t(45), size_t(4096),
                         stream.size()}) {
        SCOPED_TRACE(piece);
        ClientSession session(sink_);
        for (size_t at = 0; at < stream.size(); at += piece) {
            size_t n = std::min(piece, stream.size() - at);
            ASSERT_TRUE(session.Feed(stream.data() + at, n)) << session.Error();
        }
        std::string out = session.TakeOutput();
        EXPECT_EQ(Bytes(out.begin(), out.end()), answer);
        EXPECT_EQ(session.Buffered(), 0u);
        EXPECT_EQ(session.PointsStored(), 34u);
        EXPECT_EQ(session.Packets(), 5u);
        expected += 34;
        EXPECT_EQ(Count(alice_), expected);
    }
}

TEST_F(ClientSessionTest, EachRefusalNamesItsReason) {
    Bytes nanLive = Live(1, 2);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::memcpy(nanLive.data() + 4, &nan, 8);
    Bytes badTime = Track(1);
    const double hugeDate = 1e300;  // far outside any calendar
    std::memcpy(badTime.data() + 12, &hugeDate, 8);
    Bytes overLong = {0x2E, 0x80, 0x10, 0x00};
    test::PutU32(overLong, 65536);
    overLong.resize(16, 0);

    struct Case {
        const char* what;
        Bytes bytes;
        std::string reason;
    };
    const Case cases[] = {
        {"header length 2", {0x6E, 0x00, 0x02, 0x00}, "packet length 2 is shorter than its header"},
        {"declared inflated size 65536", overLong, "packet refused: length too long"},
        {"live before login", Live(1, 2), "position before a successful login"},
        {"track before login", Track(3), "track message before a successful login"},
        {"unknown type", Cat({Login("alice", "secret"), Bytes{0x07, 0x00, 0x04, 0x00}}), "unknown packet type 7"},
        {"count disagrees with length",
         Cat({Login("alice", "secret"), test::Bytes{0x2E, 0, 44, 0, 1, 0, 0, 0, 2, 0, 0, 0}, Bytes(32, 0)}),
         "track message of 2 points in 44 bytes"},
        {"live position not a number", Cat({Login("alice", "secret"), nanLive}),
         "live position with a value that is not a number"},
        {"track time outside the calendar", Cat({Login("alice", "secret"), badTime}), "malformed track message"},
        {"positions after a good then a refused login", Cat({Login("alice", "secret"), Login("alice", "x"), Live(1, 2)}),
         "position before a successful login"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClientSession session(sink_);
        EXPECT_FALSE(session.Feed(c.bytes.data(), c.bytes.size()));
        EXPECT_EQ(session.Error(), c.reason);
        EXPECT_EQ(session.Buffered(), 0u);
        // Once refused, it takes nothing more, even a good packet.
        Bytes good = Login("alice", "secret");
        EXPECT_FALSE(session.Feed(good.data(), good.size()));
    }
    EXPECT_EQ(Count(alice_), 0);
}

TEST_F(ClientSessionTest, ALoginAsAnotherUserMovesTheFollowingPoints) {
    ClientSession session(sink_);
    Bytes bytes = Cat({Login("alice", "secret"), Live(1, 1), Login("bob", "pw"), Live(2, 2), Live(3, 3)});
    ASSERT_TRUE(session.Feed(bytes.data(), bytes.size())) << session.Error();
    EXPECT_EQ(session.UserId(), bob_);
    EXPECT_EQ(Count(alice_), 1);
    EXPECT_EQ(Count(bob_), 2);
}

TEST_F(ClientSessionTest, HoldsAtMostOnePartialPacket) {
    ClientSession session(sink_);
    Bytes login = Login("alice", "secret");
    ASSERT_TRUE(session.Feed(login.data(), login.size()));
    // Big compressed track messages back to back, fed in uneven pieces larger than any
    // packet: the session never keeps more than the packet it is waiting for.
    Bytes one = Track(500);
    Bytes stream;
    for (int i = 0; i < 20; ++i) stream.insert(stream.end(), one.begin(), one.end());
    size_t most = 0;
    for (size_t at = 0; at < stream.size(); at += 70001) {
        size_t n = std::min<size_t>(70001, stream.size() - at);
        ASSERT_TRUE(session.Feed(stream.data() + at, n)) << session.Error();
        most = std::max(most, session.Buffered());
    }
    EXPECT_LT(most, one.size());
    EXPECT_EQ(Count(alice_), 20 * 500);

    // A header that declares the largest packet, then its bytes one short of complete.
    ClientSession waiting(sink_);
    Bytes partial = {0x6E, 0x00, 0xFF, 0xFF};
    partial.resize(65534, 0);
    ASSERT_TRUE(waiting.Feed(partial.data(), partial.size()));
    EXPECT_EQ(waiting.Buffered(), 65534u);
    uint8_t last = 0;
    EXPECT_FALSE(waiting.Feed(&last, 1));
    EXPECT_EQ(waiting.Error(), "position before a successful login");
}

}  // namespace
}  // namespace kestrix::refserver
