// The per-connection parser without a socket, on the server's own sink and writer: the
// exact reason for every refusal.
#include "ClientSession.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "ServerCommand.h"
#include "SqliteStore.h"
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
        std::string error;
        ASSERT_TRUE(writer_.Start(error)) << error;
    }

    // Feeds the bytes and hands the session each login answer it waits for, as the loop does.
    bool Feed(ClientSession& session, const Bytes& bytes) {
        bool ok = session.Feed(bytes.data(), bytes.size());
        while (ok && session.Pause().count() > 0) {
            pollfd p{writer_.NotifyFd(), POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) return false;
            for (const auto& a : writer_.TakeAnswers())
                if (session.AwaitsLogin(a.request)) ok = session.Answer(a.userId);
        }
        return ok;
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
    // An uncompressed track message claiming count points but carrying carried.
    static Bytes TrackWithCount(uint32_t count, uint32_t carried) {
        Bytes b;
        test::Append16(b, 46);
        test::Append16(b, static_cast<uint16_t>(24 + 20 * carried));
        test::Append32(b, 1);
        test::Append32(b, count);
        b.resize(24 + 20 * carried, 0);
        return b;
    }
    static Bytes Cat(std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    }
    test::TempDir dir_;
    SqliteStore store_;
    StoreWriter writer_{store_, {}};
    StoreSink sink_{writer_, nullptr, {}, std::chrono::seconds(5)};
    uint32_t alice_ = 0;
    uint32_t bob_ = 0;
};

TEST_F(ClientSessionTest, EachRefusalNamesItsReason) {
    Bytes nanLive = Live(1, 2);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::memcpy(nanLive.data() + 4, &nan, 8);
    Bytes badTime = Track(1);
    const double hugeDate = 1e300;  // far outside any calendar
    std::memcpy(badTime.data() + 12, &hugeDate, 8);
    Bytes overLong = {0x2E, 0x80, 0x10, 0x00};
    test::Append32(overLong, 65536);
    overLong.resize(16, 0);
    const Bytes login = Login("alice", "secret");

    struct Case {
        const char* what;
        Bytes bytes;
        std::string reason;
    };
    const Case cases[] = {
        {"header length 2", {0x6E, 0x00, 0x02, 0x00}, "packet length 2 is shorter than its header"},
        {"compressed packet shorter than its own header", {0x6E, 0x80, 0x06, 0x00, 0x2C, 0x00},
         "packet refused: length too short"},
        {"declared inflated size 65536", overLong, "packet refused: length too long"},
        {"zlib garbage", {0x2E, 0x80, 0x12, 0x00, 100, 0, 0, 0, 0x78, 0x9C, 0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4},
         "packet refused: bad compressed data"},
        {"live before login", Live(1, 2), "position before a successful login"},
        {"track before login", Track(3), "track message before a successful login"},
        {"unknown type", Cat({login, Bytes{0x07, 0x00, 0x04, 0x00}}), "unknown packet type 7"},
        {"login with a string running past the packet", {0x2C, 0x00, 0x08, 0x00, 0x10, 0x00, 0x41, 0x41},
         "malformed login request"},
        {"count disagrees with length", Cat({login, TrackWithCount(2, 1)}), "track message of 2 points in 44 bytes"},
        {"count of four billion", Cat({login, TrackWithCount(0xFFFFFFFFu, 1)}),
         "track message of 4294967295 points in 44 bytes"},
        {"live position of the wrong length", Cat({login, Bytes{0x6E, 0x00, 0x08, 0x00, 0, 0, 0, 0}}),
         "malformed live position"},
        {"live position not a number", Cat({login, nanLive}), "live position with a value that is not a number"},
        {"track time outside the calendar", Cat({login, badTime}), "malformed track message"},
        {"positions after a good then a refused login", Cat({login, Login("alice", "x"), Live(1, 2)}),
         "position before a successful login"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClientSession session(sink_);
        EXPECT_FALSE(Feed(session, c.bytes));
        EXPECT_EQ(session.Error(), c.reason);
        EXPECT_EQ(session.Buffered(), 0u);
        // Once refused, it takes nothing more, even a good packet.
        EXPECT_FALSE(session.Feed(login.data(), login.size()));
    }
    writer_.Stop();
    EXPECT_EQ(writer_.Stored(), 0u);
}

}  // namespace
}  // namespace kestrix::refserver
