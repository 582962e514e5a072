#include "tracklog/LogRecord.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

#include "platform/DeviceFs.h"
#include "support/TestSupport.h"

namespace kestrix {
namespace {

// -33.5, 151.25, 12.5 m, 36 km/h, FILETIME 0x01C99F3A12345678, worked out by hand from
// the IEEE-754 layouts: -33.5 = -1.000011b x 2^5 -> C040C00000000000, 151.25 =
// 1.001011101b x 2^7 -> 4062E80000000000, 12.5f -> 41480000, 36.0f -> 42100000.
constexpr uint8_t kGolden[32] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0xc0, 0x40, 0xc0,  // latitude
    0x00, 0x00, 0x00, 0x00, 0x00, 0xe8, 0x62, 0x40,  // longitude
    0x00, 0x00, 0x48, 0x41,                          // altitude
    0x00, 0x00, 0x10, 0x42,                          // speed
    0x78, 0x56, 0x34, 0x12, 0x3a, 0x9f, 0xc9, 0x01,  // time, low half first
};

TEST(LogRecordTest, EncodesTheGoldenRecord) {
    LogRecord r{-33.5, 151.25, 12.5f, 36.0f, 0x01C99F3A12345678ULL};
    uint8_t out[32];
    EncodeLogRecord(r, out);
    for (size_t i = 0; i < 32; ++i) EXPECT_EQ(out[i], kGolden[i]) << "byte " << i;

    LogRecord back = DecodeLogRecord(kGolden);
    EXPECT_EQ(back.latitude, -33.5);
    EXPECT_EQ(back.longitude, 151.25);
    EXPECT_EQ(back.altitude, 12.5f);
    EXPECT_EQ(back.speed, 36.0f);
    EXPECT_EQ(back.time, 0x01C99F3A12345678ULL);
}

TEST(LogRecordTest, RoundTripKeepsEveryBit) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    LogRecord rows[] = {
        {0.0, -0.0, 0.0f, 0.0f, 0},
        {90.0, -180.0, -431.5f, 1e-6f, UINT64_MAX},
        {nan, std::numeric_limits<double>::denorm_min(), std::numeric_limits<float>::infinity(),
         std::numeric_limits<float>::max(), 1},
    };
    for (const LogRecord& r : rows) {
        uint8_t bytes[32];
        EncodeLogRecord(r, bytes);
        LogRecord b = DecodeLogRecord(bytes);
        EXPECT_EQ(std::bit_cast<uint64_t>(b.latitude), std::bit_cast<uint64_t>(r.latitude));
        EXPECT_EQ(std::bit_cast<uint64_t>(b.longitude), std::bit_cast<uint64_t>(r.longitude));
        EXPECT_EQ(std::bit_cast<uint32_t>(b.altitude), std::bit_cast<uint32_t>(r.altitude));
        EXPECT_EQ(std::bit_cast<uint32_t>(b.speed), std::bit_cast<uint32_t>(r.speed));
        EXPECT_EQ(b.time, r.time);
    }
}

constexpr uint64_t kTime = 0x01C99F3A12345678ULL;

TEST(LogRecordReaderTest, PassesOverRecordsThatHoldNoPositionAndClearsAbsurdFields) {
    // A record filled with 0xFF after a cut-off write decodes as NaN; damaged bytes can give
    // coordinates or a time out of range; a pre-allocated or sparse file reads as zeros (0, 0
    // in 1601). None may become a point for the upload, the GPX file or the offline resend;
    // 0, 0 with a time may, and an absurd altitude or speed alone is only cleared.
    test::TempDir dir;
    platform::SetDeviceRoot(dir.Path());
    const float inf = std::numeric_limits<float>::infinity();
    auto encode = [](double lat, double lon, float alt = 0.0f, float speed = 0.0f, uint64_t time = kTime) {
        uint8_t b[32];
        EncodeLogRecord(LogRecord{lat, lon, alt, speed, time}, b);
        return std::string(reinterpret_cast<char*>(b), 32);
    };
    std::string content = encode(10.0, 20.0, -431.5f, 99999.0f) + std::string(32, '\xFF') + std::string(32, '\0') +
                          encode(91.0, 0.0) + encode(0.0, -180.5) + encode(std::numeric_limits<double>::infinity(), 0.0) +
                          encode(0.0, 0.0) + encode(1.0, 2.0, 0.0f, 0.0f, UINT64_MAX) +
                          encode(-90.0, 180.0, 1e30f, -3.0f) + encode(5.0, 6.0, -inf, inf) +
                          encode(7.0, 8.0, 100001.0f, 100001.0f);
    test::WriteFile(dir.File("t.log"), content);
    platform::DeviceFile f;
    ASSERT_TRUE(f.Open("\\t.log", "rb"));
    LogRecordReader reader(f);
    const std::vector<std::tuple<double, double, float, float>> expected = {{10.0, 20.0, -431.5f, 99999.0f},
                                                                            {0.0, 0.0, 0.0f, 0.0f},
                                                                            {-90.0, 180.0, 0.0f, 0.0f},
                                                                            {5.0, 6.0, 0.0f, 0.0f},
                                                                            {7.0, 8.0, 0.0f, 0.0f}};
    std::vector<std::tuple<double, double, float, float>> read;
    for (LogRecord r; reader.Next(r);) read.emplace_back(r.latitude, r.longitude, r.altitude, r.speed);
    EXPECT_EQ(read, expected);
    EXPECT_EQ(reader.Count(), 5u);
    EXPECT_EQ(reader.Skipped(), 6u);
}

}  // namespace
}  // namespace kestrix
