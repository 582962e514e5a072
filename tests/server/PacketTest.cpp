#include "server/Packet.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <vector>

#include "TestKit.h"

namespace kestrix {
namespace {

using test::Append16;
using test::Append32;
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

TEST(PacketTest, SizeLimitsAndWritersRefuseWhatDoesNotFit) {
    Packet p;
    EXPECT_FALSE(p.WriteU16(1)) << "no buffer";
    EXPECT_FALSE(p.Prepare(46, 3));
    EXPECT_EQ(p.Error(), PacketError::TooShort);
    EXPECT_FALSE(p.Prepare(46, 65536));
    EXPECT_EQ(p.Error(), PacketError::TooLong);
    EXPECT_TRUE(p.Prepare(46, 65535));
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

TEST(PacketTest, FieldsInARowPackAsTheirBitsOneByOne) {
    // Every width from one bit to 64, starting at every bit of a byte, against a plain
    // bit-by-bit reference; the reader (a separate piece-by-piece loop) reads them back.
    std::mt19937_64 rng(11);
    for (unsigned width : {1u, 7u, 8u, 13u, 31u, 32u, 33u, 57u, 63u, 64u}) {
        for (unsigned start = 0; start < 8; ++start) {
            std::vector<uint64_t> values(9);
            for (uint64_t& v : values) v = rng();
            const size_t bits = start + width * values.size();
            Bytes expected(std::max<size_t>(Packet::kHeaderSize, (bits + 7) / 8 + 1), 0);
            for (size_t i = 0; i < values.size(); ++i) {
                for (unsigned b = 0; b < width; ++b) {
                    const size_t at = start + i * width + b;
                    if ((values[i] >> b) & 1) expected[at / 8] = static_cast<uint8_t>(expected[at / 8] | 1 << at % 8);
                }
            }
            Packet p;
            ASSERT_TRUE(p.Prepare(46, expected.size()));
            unsigned bit = start;
            ASSERT_TRUE(p.WritePacked(values.data(), values.size(), width, bit));
            EXPECT_EQ(p.Position() * 8 + bit, bits);
            EXPECT_EQ(Hex(Bytes(p.Data(), p.Data() + p.Size())), Hex(expected)) << width << " bits from " << start;
            ASSERT_TRUE(p.SetPosition(0));
            bit = start;
            for (uint64_t v : values) {
                uint64_t got = 0;
                ASSERT_TRUE(p.ReadPacked(got, width, bit));
                EXPECT_EQ(got, width == 64 ? v : v & ((1ull << width) - 1)) << width << " bits from " << start;
            }
            const std::vector<uint64_t> tooMany(p.Size() * 8 / width + 1, ~0ull);
            ASSERT_TRUE(p.SetPosition(0));
            bit = start;
            EXPECT_FALSE(p.WritePacked(tooMany.data(), tooMany.size(), width, bit)) << width << " bits from " << start;
            EXPECT_EQ(Hex(Bytes(p.Data(), p.Data() + p.Size())), Hex(expected)) << "nothing written";
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

    struct Case { const char* name; Bytes wire; PacketError error; };
    const Case cases[] = {
        {"length below the header", {46, 0, 3, 0}, PacketError::TooShort},
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

}  // namespace
}  // namespace kestrix
