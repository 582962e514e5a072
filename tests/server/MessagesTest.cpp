#include "server/Messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <zlib.h>

#include "TestKit.h"

namespace kestrix {
namespace {

using test::Append16;
using test::Append32;
using test::Append64;
using test::AppendText;
using test::Bytes;
using test::Encode;
using test::Hex;
using test::MemoryStream;

const std::string kDigest = "0123456789abcdef0123456789abcdef";
// 2000-01-01 00:00 UTC and 12:00 the same day: OLE dates 36526.0 and 36526.5.
constexpr uint64_t kY2k = test::kT0;
constexpr uint64_t kY2kNoon = kY2k + 12ull * 3600 * 10000000;

// A received packet with this type and payload (the header is added).
Packet Incoming(uint16_t type, const Bytes& payload) {
    Bytes wire;
    Append16(wire, type);
    Append16(wire, static_cast<uint16_t>(payload.size() + 4));
    wire.insert(wire.end(), payload.begin(), payload.end());
    MemoryStream in(wire);
    Packet p;
    EXPECT_TRUE(p.Receive(in));
    return p;
}

TEST(LoginMessageTest, RequestBytes) {
    // Type 44 (48 bytes) with the user id, type 22 (44 bytes) without it.
    for (uint32_t userId : {7u, 0u}) {
        Bytes expected = {static_cast<uint8_t>(userId ? 0x2C : 0x16), 0x00, static_cast<uint8_t>(userId ? 0x30 : 0x2C),
                          0x00, 0x04, 0x00};
        AppendText(expected, "anna");
        Append16(expected, 32);
        AppendText(expected, kDigest);
        if (userId) Append32(expected, userId);
        LoginMessage m("anna", kDigest, userId);
        EXPECT_EQ(Hex(Encode(m)), Hex(expected)) << "user id " << userId;
    }
}

TEST(LoginMessageTest, Responses) {
    struct Case {
        const char* name;
        uint32_t requestUserId;
        uint16_t type;
        Bytes payload;
        bool ok;
        uint32_t userId;
        std::string text;
    };
    auto payload = [](uint32_t status, const std::string& text, bool withId, uint32_t id) {
        Bytes b;
        Append32(b, status);
        Append16(b, static_cast<uint16_t>(text.size()));
        AppendText(b, text);
        if (withId) Append32(b, id);
        return b;
    };
    const std::string long129(129, 'x');
    const std::string long128(128, 'y');
    Bytes truncated = payload(1, "", true, 9);
    truncated.pop_back();
    const Case cases[] = {
        {"accepted 45", 7, 45, payload(1, "", true, 9), true, 9, ""},
        {"accepted 23 for a request of 44", 7, 23, payload(1, "", true, 9), true, 9, ""},
        {"accepted 23 without user id", 0, 23, payload(5, "", false, 0), true, 0, ""},
        {"refusal text, user id 0", 7, 45, payload(1, "Wrong login or password", true, 0), true, 0,
         "Wrong login or password"},
        {"text of 128 bytes", 7, 45, payload(1, long128, true, 3), true, 3, long128},
        {"text of 129 bytes", 7, 45, payload(1, long129, true, 3), false, 7, ""},
        {"wrong type", 7, 46, payload(1, "", true, 9), false, 7, ""},
        {"status 0", 7, 45, payload(0, "", true, 9), false, 9, ""},
        {"truncated user id", 7, 45, truncated, false, 7, ""},
        {"no text length", 7, 45, Bytes{1, 0, 0, 0, 5}, false, 7, ""},
        {"empty", 7, 45, Bytes{}, false, 7, ""},
    };
    for (const Case& c : cases) {
        LoginMessage m("anna", kDigest, c.requestUserId);
        Packet p = Incoming(c.type, c.payload);
        EXPECT_EQ(m.Read(p), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(m.UserId(), c.userId) << c.name;
            EXPECT_EQ(m.ServerText(), c.text) << c.name;
        }
    }
}

TEST(PositionMessageTest, BytesAndSpeedClasses) {
    struct Case { float speed; uint32_t speedBits, speedClass; };
    const Case cases[] = {
        {300.5f, 0x43964000, 0}, {300.0f, 0x43960000, 2}, {5.0f, 0x40A00000, 2},
        {1.0f, 0x3F800000, 1},   {0.5f, 0x3F000000, 6},
    };
    for (const Case& c : cases) {
        auto point = TrackPoint::Make(90.0, -180.0, 100.0f, c.speed, kY2k);
        PositionMessage m(*point);
        Bytes expected = {0x6E, 0x00, 0x2C, 0x00};
        Append64(expected, 0x3FF921FB54442D18ull);  // pi/2
        Append64(expected, 0xC00921FB54442D18ull);  // -pi
        Append32(expected, 0);
        Append32(expected, 0x42C80000);  // 100.0f
        Append32(expected, c.speedBits);
        Append32(expected, 0);
        Append32(expected, c.speedClass);
        Append32(expected, 1);
        EXPECT_EQ(Hex(Encode(m)), Hex(expected)) << "speed " << c.speed;
    }
}

TEST(CoordinateCodeTest, KnownCodes) {
    struct Case { const char* what; int64_t code, expected; };
    const Case cases[] = {
        {"lat 0", LatitudeCode(0.0), 2147483647},
        {"lat +90", LatitudeCode(90.0), 0},
        {"lat -90", LatitudeCode(-90.0), 0},
        {"lat 45", LatitudeCode(45.0), 3221225471},
        {"lat 270 wraps to -90", LatitudeCode(270.0), 0},
        {"lon 0", LongitudeCode(0.0), 2147483647},
        {"lon +180", LongitudeCode(180.0), 0},
        {"alt 0", AltitudeCode(0.0f), 991146298},
        {"alt -6e6", AltitudeCode(-6000000.0f), 0},
        {"alt +2e7", AltitudeCode(20000000.0f), 4294967295},
        {"alt NaN", AltitudeCode(std::nanf("")), 0},
        {"alt 1e30 clamps", AltitudeCode(1e30f), INT64_MAX},
        {"lat inf", LatitudeCode(INFINITY), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(c.code, c.expected) << c.what;
}

TEST(TrackMessageTest, EmptyMessageIs24Bytes) {
    TrackMessage m(7);
    Bytes expected = {0x2E, 0x00, 0x18, 0x00, 7, 0, 0, 0, 0, 0, 0, 0};
    expected.resize(24, 0);
    EXPECT_EQ(Hex(Encode(m)), Hex(expected));
}

TEST(TrackMessageTest, TwoPointsBasesAndDeltas) {
    TrackMessage m(7);
    ASSERT_TRUE(m.Add(TrackPoint::Make(0.0, 0.0, 0.0f, 3.0f, kY2k)));
    ASSERT_TRUE(m.Add(TrackPoint::Make(-90.0, -180.0, -6000000.0f, 0.0f, kY2kNoon)));
    Bytes e = {0x2E, 0x00, 0x40, 0x00};
    Append32(e, 7);
    Append32(e, 2);
    Append64(e, 0x40E1D5C000000000ull);  // 36526.0
    Append64(e, 0x40E1D5D000000000ull);  // 36526.5
    for (uint32_t code : {2147483647u, 2147483647u}) {  // latitude, then longitude
        Append32(e, 0);                                 // base: the second point's code
        Append32(e, code);
        Append32(e, 0);
    }
    Append32(e, 0);
    Append32(e, 991146298);
    Append32(e, 0);
    EXPECT_EQ(Hex(Encode(m)), Hex(e));
}

// Eleven points make 244 bytes and go plain; twelve make 264 and go compressed: the
// declared total, then a zlib stream of the plain packet without its header.
TEST(TrackMessageTest, CompressedFromTwelvePoints) {
    for (int points : {11, 12}) {
        TrackMessage m(3);
        for (int i = 0; i < points; ++i) {
            m.Add(TrackPoint::Make(50.0 + i * 1e-4, 8.0 - i * 1e-4, 100.0f + i, 0.0f, kY2k + i * 10000000ull));
        }
        const Bytes wire = Encode(m);
        const size_t plain = 24 + 20 * static_cast<size_t>(points);
        EXPECT_EQ(wire[2] | wire[3] << 8, static_cast<int>(wire.size())) << points;
        if (points == 11) {
            EXPECT_EQ(Hex(Bytes(wire.begin(), wire.begin() + 2)), "2E 00");
            EXPECT_EQ(wire.size(), plain);
            continue;
        }
        EXPECT_EQ(Hex(Bytes(wire.begin(), wire.begin() + 8)), "2E 80 " + Hex({wire[2], wire[3]}) + " | 08 01 00 00");
        Bytes inflated(plain - 4);
        uLongf n = inflated.size();
        ASSERT_EQ(uncompress(inflated.data(), &n, wire.data() + 8, wire.size() - 8), Z_OK);
        EXPECT_EQ(n, plain - 4);
        EXPECT_EQ(inflated[0] | inflated[1] << 8, 3) << "user id first";
    }
}

TEST(TrackMessageTest, RoundTripThroughWriteAndRead) {
    TrackMessage sent(99);
    for (int i = 0; i < 500; ++i) {
        const double lat = -60.0 + i * 0.2437, lon = -170.0 + i * 0.6871;
        sent.Add(TrackPoint::Make(lat, lon, -100.0f + i * 17.5f, 30.0f, kY2k + i * 12345670000ull));
    }
    EXPECT_FALSE(sent.Add(TrackPoint::Make(0, 0, 0, 0, kY2k))) << "the 501st point is refused";
    MemoryStream wire(Encode(sent));
    Packet p;
    ASSERT_TRUE(p.Receive(wire));
    EXPECT_TRUE(p.Compressed());
    TrackMessage got;
    ASSERT_TRUE(got.Read(p));
    EXPECT_EQ(got.GetUserId(), 99u);
    auto a = sent.Points();
    auto b = got.Points();
    ASSERT_EQ(b.size(), a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_NEAR(b[i]->GetLatitude(), a[i]->GetLatitude(), 180.0 / 4294967295.0) << i;
        EXPECT_NEAR(b[i]->GetLongitude(), a[i]->GetLongitude(), 360.0 / 4294967295.0) << i;
        EXPECT_NEAR(b[i]->GetAltitude(), a[i]->GetAltitude(), 0.01) << i;
        EXPECT_EQ(b[i]->GetSpeed(), 0.0f) << i;
        // OLE dates carry the time to the millisecond.
        EXPECT_EQ(b[i]->GetTime(), a[i]->GetTime()) << i;
    }
}

}  // namespace
}  // namespace kestrix
