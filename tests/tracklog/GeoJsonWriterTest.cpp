#include "tracklog/GeoJsonWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/DeviceFs.h"
#include "support/TestSupport.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

constexpr uint64_t kSecond = 10'000'000;
const uint64_t kT0 = test::FileTimeOf(2026, 12, 7, 14, 0, 0);

// A hand-made log: east along the equator, a right-angle turn north at record 2, a damaged
// record, then eleven minutes later a second segment one degree away.
const std::vector<LogRecord> kLog = {
    {0.0, 0.0, 100.0f, 10.0f, kT0},
    {0.0, 0.001, 101.0f, 20.0f, kT0 + 10 * kSecond},
    {0.0, 0.002, 102.0f, 30.0f, kT0 + 20 * kSecond},  // the corner
    {0.001, 0.002, 103.0f, 25.0f, kT0 + 30 * kSecond},
    {std::numeric_limits<double>::quiet_NaN(), 0.002, 0.0f, 0.0f, kT0 + 35 * kSecond},  // damaged
    {0.002, 0.002, 104.0f, 15.0f, kT0 + 40 * kSecond},
    {1.0, 1.0, 200.5f, 5.0f, kT0 + 641 * kSecond},  // more than 10 minutes later
    {1.0, 1.001, 201.0f, 80.0f, kT0 + 651 * kSecond},
};

struct Answer { GeoJsonConversion result; std::string text; };

Answer Convert(const test::TempDir& dir, const std::vector<LogRecord>& records, const TrackQuery& query) {
    std::string bytes;
    for (const LogRecord& r : records) {
        uint8_t raw[kLogRecordSize];
        EncodeLogRecord(r, raw);
        bytes.append(reinterpret_cast<const char*>(raw), sizeof raw);
    }
    test::WriteFile(dir.File("anna.log"), bytes);
    platform::SetDeviceRoot(dir.Path());
    platform::DeviceFile log;
    EXPECT_TRUE(log.Open("\\anna.log", "rb"));
    Answer a;
    a.result = ConvertLogToGeoJson(&log, query, [&](const char* data, size_t size) {
        a.text.append(data, size);
        return true;
    });
    return a;
}

TEST(GeoJsonWriterTest, TwoRecordsGiveTheExactDocument) {
    test::TempDir dir;
    const Answer a = Convert(dir, kLog, {kT0 + 641 * kSecond, std::nullopt, 5000, "\\anna.log"});
    EXPECT_EQ(a.text,
              "{\"type\":\"FeatureCollection\",\"summary\":{\"records\":2,\"vertices\":2,\"segments\":1,"
              "\"segmentsLeftOut\":0,\"distance_m\":111.3,\"duration_s\":10,\"start\":\"2026-12-07T14:10:41.000Z\","
              "\"end\":\"2026-12-07T14:10:51.000Z\",\"maxSpeedKmh\":80,\"skipped\":1,\"log\":\"\\\\anna.log\"},"
              "\"features\":[{\"type\":\"Feature\",\"properties\":{\"times\":[\"2026-12-07T14:10:41.000Z\","
              "\"2026-12-07T14:10:51.000Z\"],\"speeds\":[5,80]},\"geometry\":{\"type\":\"LineString\","
              "\"coordinates\":[[1.000000,1.000000,200.5],[1.001000,1.000000,201]]}}]}");
    EXPECT_TRUE(a.result.complete && !a.result.readFailed);
}

}  // namespace
}  // namespace kestrix
