#include "server/Packet.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <thread>

#include "WireHelpers.h"
#include "platform/Socket.h"
#include "server/Messages.h"
#include "server/TcpSocket.h"

namespace kestrix {
namespace {

using test::Append16;
using test::Append32;
using test::AppendText;
using test::Bytes;
using test::Hex;
using test::MemoryStream;

Bytes Deflate(const Bytes& in) {
    uLongf n = compressBound(in.size());
    Bytes out(n);
    EXPECT_EQ(compress2(out.data(), &n, in.data(), in.size(), 6), Z_OK);
    out.resize(n);
    return out;
}

// A compressed packet: header, declared total, then the given zlib bytes.
Bytes CompressedWire(uint16_t type, uint32_t declared, const Bytes& stream, int lengthAdjust = 0) {
    Bytes w;
    Append16(w, static_cast<uint16_t>(type | 0x8000));
    Append16(w, static_cast<uint16_t>(8 + stream.size() + lengthAdjust));
    Append32(w, declared);
    w.insert(w.end(), stream.begin(), stream.end());
    return w;
}

TEST(PacketTest, WritersRefuseWhatDoesNotFitAndWriteNothing) {
    Packet p;
    EXPECT_FALSE(p.WriteU16(1)) << "no buffer";
    ASSERT_TRUE(p.Prepare(46, 10));
    ASSERT_TRUE(p.SetPosition(7));
    EXPECT_FALSE(p.WriteU32(0xAABBCCDD));
    EXPECT_FALSE(p.WriteRaw8(1.0));
    EXPECT_FALSE(p.WriteString("ab"));
    unsigned bit = 1;
    EXPECT_FALSE(p.WritePacked(0xFFFFFFFF, 24, bit));
    EXPECT_EQ(bit, 1u);
    EXPECT_EQ(p.Position(), 7u);
    EXPECT_TRUE(p.WriteString("a"));
    EXPECT_EQ(Hex(Bytes(p.Data(), p.Data() + 10)), Hex(Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 'a'}));
}

TEST(PacketTest, PreparedSizeLimits) {
    Packet p;
    EXPECT_FALSE(p.Prepare(46, 3));
    EXPECT_EQ(p.Error(), PacketError::TooShort);
    EXPECT_FALSE(p.Prepare(46, 65536));
    EXPECT_EQ(p.Error(), PacketError::TooLong);
    EXPECT_TRUE(p.Prepare(46, 65535));
}

TEST(PacketTest, PackedBitsGoLeastSignificantFirst) {
    struct Case {
        const char* name;
        std::vector<std::pair<uint64_t, unsigned>> fields;
        Bytes expected;
    };
    const Case cases[] = {
        {"aligned 32", {{0x11223344, 32}}, {0x44, 0x33, 0x22, 0x11, 0}},
        {"3 then 5 bits share a byte", {{0b101, 3}, {0b11001, 5}}, {0b11001101, 0, 0, 0, 0}},
        {"12 bits across bytes", {{0xABC, 12}, {0xF, 4}}, {0xBC, 0xFA, 0, 0, 0}},
        {"only the low bits of the value", {{0xFFFFFFFF00000001ull, 32}}, {1, 0, 0, 0, 0}},
        {"1 bit then 32", {{1, 1}, {0x80000001, 32}}, {0x03, 0, 0, 0, 0x01}},
    };
    for (const Case& c : cases) {
        Packet p;
        ASSERT_TRUE(p.Prepare(46, 5));
        unsigned bit = 0;
        for (auto [v, w] : c.fields) ASSERT_TRUE(p.WritePacked(v, w, bit)) << c.name;
        EXPECT_EQ(Hex(Bytes(p.Data(), p.Data() + 5)), Hex(c.expected)) << c.name;

        ASSERT_TRUE(p.SetPosition(0));
        bit = 0;
        for (auto [v, w] : c.fields) {
            uint64_t got = 0;
            ASSERT_TRUE(p.ReadPacked(got, w, bit)) << c.name;
            const uint64_t mask = w == 64 ? ~0ull : (1ull << w) - 1;
            EXPECT_EQ(got, v & mask) << c.name;
        }
    }
}

TEST(PacketTest, PackedWidth64) {
    Packet p;
    ASSERT_TRUE(p.Prepare(46, 9));
    unsigned bit = 4;
    ASSERT_TRUE(p.WritePacked(0x8000000000000001ull, 64, bit));
    EXPECT_EQ(bit, 4u);
    EXPECT_EQ(p.Position(), 8u);
    ASSERT_TRUE(p.SetPosition(0));
    bit = 4;
    uint64_t v = 0;
    ASSERT_TRUE(p.ReadPacked(v, 64, bit));
    EXPECT_EQ(v, 0x8000000000000001ull);
}

TEST(PacketTest, ReadStringBounds) {
    struct Case {
        const char* name;
        Bytes payload;
        size_t max;
        bool ok;
        std::string text;
    };
    const Case cases[] = {
        {"fits", {3, 0, 'a', 'b', 'c'}, 3, true, "abc"},
        {"over the maximum", {4, 0, 'a', 'b', 'c', 'd'}, 3, false, ""},
        {"runs past the buffer", {9, 0, 'a'}, 100, false, ""},
        {"no count", {1}, 100, false, ""},
        {"empty", {0, 0}, 0, true, ""},
    };
    for (const Case& c : cases) {
        Bytes wire;
        Append16(wire, 23);
        Append16(wire, static_cast<uint16_t>(4 + c.payload.size()));
        wire.insert(wire.end(), c.payload.begin(), c.payload.end());
        MemoryStream in(wire);
        Packet p;
        ASSERT_TRUE(p.Receive(in)) << c.name;
        std::string s = "unchanged";
        EXPECT_EQ(p.ReadString(s, c.max), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(s, c.text) << c.name;
        } else {
            EXPECT_EQ(p.Position(), 4u) << c.name;
        }
    }
}

TEST(PacketTest, ReceiveRefusesMalformedPackets) {
    Bytes plain;
    for (int i = 0; i < 300; ++i) plain.push_back(static_cast<uint8_t>(i * 7));
    const Bytes good = Deflate(plain);
    Bytes badHeader = good;
    badHeader[0] ^= 0x0F;  // not a deflate method
    Bytes badChecksum = good;
    badChecksum[good.size() - 1] ^= 0xFF;  // the Adler-32

    struct Case {
        const char* name;
        Bytes wire;
        PacketError error;
    };
    const Case cases[] = {
        {"length below the header", {46, 0, 3, 0}, PacketError::TooShort},
        {"length 0", {46, 0, 0, 0}, PacketError::TooShort},
        {"compressed length below 8", {46, 0x80, 7, 0, 1, 0, 0, 0}, PacketError::TooShort},
        {"declared above 65535", CompressedWire(46, 70000, good), PacketError::TooLong},
        {"declared below the header", CompressedWire(46, 3, good), PacketError::TooShort},
        {"inflates short of the declared size", CompressedWire(46, 304 + 10, good), PacketError::SizeMismatch},
        {"inflates beyond the declared size", CompressedWire(46, 304 - 10, good), PacketError::SizeMismatch},
        {"damaged zlib header", CompressedWire(46, 304, badHeader), PacketError::Compression},
        {"damaged checksum", CompressedWire(46, 304, badChecksum), PacketError::Compression},
        {"stream cut by its length", CompressedWire(46, 304, good, -40), PacketError::Compression},
        {"peer closes inside the payload", {46, 0, 20, 0, 1, 2, 3}, PacketError::Closed},
        {"peer closes inside the header", {46, 0}, PacketError::Closed},
        {"nothing at all", {}, PacketError::Closed},
    };
    for (const Case& c : cases) {
        MemoryStream in(c.wire);
        Packet p;
        EXPECT_FALSE(p.Receive(in)) << c.name;
        EXPECT_EQ(p.Error(), c.error) << c.name << ": " << PacketErrorName(p.Error());
        EXPECT_FALSE(p.HasData()) << c.name;
    }
    MemoryStream ok(CompressedWire(46, 304, good));
    Packet p;
    ASSERT_TRUE(p.Receive(ok));
    EXPECT_EQ(p.Size(), 304u);
    EXPECT_EQ(Bytes(p.Data() + 4, p.Data() + 304), plain);
}

TEST(PacketTest, ReceiveReadsOnlyItsOwnPacketOverPartialReads) {
    // Two packets back to back, handed out a byte or three at a time.
    Bytes wire = {46, 0, 6, 0, 0xAA, 0xBB, 23, 0, 5, 0, 0xCC};
    for (size_t chunk : {1u, 3u, 64u}) {
        MemoryStream in(wire, chunk);
        Packet a, b;
        ASSERT_TRUE(a.Receive(in)) << chunk;
        EXPECT_EQ(a.Type(), 46u);
        EXPECT_EQ(a.Size(), 6u);
        EXPECT_EQ(a.Position(), 4u);
        uint16_t v = 0;
        EXPECT_TRUE(a.ReadU16(v));
        EXPECT_EQ(v, 0xBBAA);
        EXPECT_EQ(in.Consumed(), 6u) << "nothing of the next packet is taken";
        ASSERT_TRUE(b.Receive(in)) << chunk;
        EXPECT_EQ(b.Type(), 23u);
        EXPECT_EQ(b.Remaining(), 1u);
    }
}

TEST(PacketTest, ReceiveOverASocketDeliveredInPieces) {
    platform::Socket a, b;
    ASSERT_TRUE(platform::Socket::Pair(a, b));
    TrackMessage m(5);
    for (int i = 0; i < 40; ++i) m.Add(TrackPoint::Make(i, i, 0, 0, 125911584000000000ull));
    Packet out;
    ASSERT_TRUE(out.Prepare(m));
    ASSERT_TRUE(m.Write(out));
    MemoryStream captured;
    ASSERT_TRUE(out.Send(captured));
    const Bytes& wire = captured.Output();

    // The first 3 bytes arrive before the reader starts, the rest while it waits.
    ASSERT_TRUE(a.SendAll(wire.data(), 3, 1000, nullptr));
    Packet in;
    bool ok = false;
    std::thread reader([&] {
        CallbackStream stream(
            [&](uint8_t* buf, size_t len, size_t& got) {
                long n = b.Receive(buf, len, 10000, nullptr);
                if (n < 0) return false;
                got = static_cast<size_t>(n);
                return true;
            },
            nullptr);
        ok = in.Receive(stream);
    });
    for (size_t off = 3; off < wire.size(); off += 17) {
        const size_t n = std::min<size_t>(17, wire.size() - off);
        ASSERT_TRUE(a.SendAll(wire.data() + off, n, 1000, nullptr));
    }
    reader.join();
    ASSERT_TRUE(ok) << PacketErrorName(in.Error());
    TrackMessage got;
    ASSERT_TRUE(got.Read(in));
    EXPECT_EQ(got.Count(), 40u);
    EXPECT_EQ(got.GetUserId(), 5u);
}

TEST(PacketTest, SendFailsWhenTheStreamRefuses) {
    LoginMessage m("a", "b", 1);
    Packet p;
    ASSERT_TRUE(p.Prepare(m));
    ASSERT_TRUE(m.Write(p));
    MemoryStream s;
    s.FailWrites();
    EXPECT_FALSE(p.Send(s));
    EXPECT_EQ(p.Error(), PacketError::Transport);
    Packet empty;
    EXPECT_FALSE(empty.Send(s));
    EXPECT_EQ(empty.Error(), PacketError::NoData);
}

}  // namespace
}  // namespace kestrix
