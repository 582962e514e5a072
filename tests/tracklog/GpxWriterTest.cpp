#include "tracklog/GpxWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "platform/DeviceFs.h"
#include "platform/Text.h"
#include "platform/Time.h"
#include "support/TestSupport.h"

namespace kestrix {
namespace {

const char kHeaderLine2[] =
    "<gpx xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" version=\"1.1\" creator=\"GMRLogger\" "
    "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd\" "
    "xmlns=\"http://www.topografix.com/GPX/1/1\">\r\n";

std::string WriteToFile(const test::TempDir& dir, const std::string& name, const std::vector<LogRecord>& records,
                        GpxWriteResult* result = nullptr) {
    platform::SetDeviceRoot(dir.Path());
    platform::DeviceFile out;
    EXPECT_TRUE(out.Open("\\out.gpx", "wt"));
    size_t i = 0;
    GpxWriteResult r = WriteGpxDocument(out, name, [&](LogRecord& rec) {
        if (i == records.size()) return false;
        rec = records[i++];
        return true;
    });
    if (result) *result = r;
    out.Close();
    return test::ReadFile(dir.File("out.gpx"));
}

TEST(GpxWriterTest, TwoPointsGiveTheExactDocument) {
    test::TempDir dir;
    std::vector<LogRecord> records = {
        {-33.5, 151.25, 12.5f, 36.0f, 128809083092500000ULL},  // 2009-03-07 14:05:09.250
        {47.0000004, -8.123456789, 0.0f, 0.0f, 128809083100000000ULL},
    };
    const std::string expected = std::string("<?xml version='1.0' ?>\r\n") + kHeaderLine2 +
                                 "\t<trk>\n"
                                 "\t\t<name>Kestrix_001</name>\r\n"
                                 "\t\t<trkseg>\r\n"
                                 "\t\t\t<trkpt lat=\"-33.500000\" lon=\"151.250000\">\r\n"
                                 "\t\t\t\t<ele>12.500000</ele>\r\n"
                                 "\t\t\t\t<time>2009-03-07T14:05:09.250Z</time>\r\n"
                                 "\t\t\t\t<speed>36.000000</speed>\r\n"
                                 "\t\t\t</trkpt>\r\n"
                                 "\t\t\t<trkpt lat=\"47.000000\" lon=\"-8.123457\">\r\n"
                                 "\t\t\t\t<time>2009-03-07T14:05:10.000Z</time>\r\n"
                                 "\t\t\t</trkpt>\r\n"
                                 "\t\t</trkseg>\r\n"
                                 "\t</trk>\r\n"
                                 "</gpx>";
    GpxWriteResult result;
    EXPECT_EQ(WriteToFile(dir, "Kestrix_001", records, &result), expected);
    EXPECT_EQ(result.points, 2u);
    EXPECT_EQ(result.skipped, 0u);
    EXPECT_TRUE(result.complete);
}

TEST(GpxWriterTest, NumbersAndTimesPrintAsPrintfDoes) {
    // The writer does not go through printf; it must still print exactly what "%.6f" and
    // the calendar formatter print. Halves at the sixth decimal, values that round to
    // zero and large magnitudes are where a shortcut goes wrong; then a sweep.
    std::vector<double> values = {0.0, -0.0, 0.0078125, 0.0234375, -0.0234375, 5e-7, 2.5e-6, -1e-7, 0.1234565,
                                  179.9999995, -89.9999995, 999999999.9999995, 1e9, 1e15 + 0.5, 1e300,
                                  static_cast<double>(0.1f), static_cast<double>(520.05f),
                                  static_cast<double>(3.4e38f)};
    std::mt19937_64 rng(7);
    for (int i = 0; i < 100000; ++i) {
        const double magnitude = std::pow(10.0, static_cast<double>(rng() % 13) - 3.0);
        const double micro = static_cast<double>(rng() % 2000000001) - 1e9;
        // Near-halves of a micro-unit, then plain random values.
        values.push_back(i % 2 ? (micro + 0.5) * 1e-6 : micro * 1e-9 * magnitude);
    }
    const auto between = [](const std::string& s, const std::string& open, char close) {
        const size_t at = s.find(open);
        if (at == std::string::npos) return std::string("(none)");
        return s.substr(at + open.size(), s.find(close, at + open.size()) - at - open.size());
    };
    size_t wrong = 0;
    for (double v : values) {
        const float f = static_cast<float>(v);
        const std::string point = GpxPoint(LogRecord{v, 0.0, f, 0.0f, UINT64_MAX});
        const std::string lat = between(point, "lat=\"", '"');
        const std::string ele =
            f != 0.0f && std::isfinite(f) ? platform::Format("%f", static_cast<double>(f)) : "(none)";
        if (lat != platform::Format("%.6f", v) || between(point, "<ele>", '<') != ele) {
            if (++wrong <= 5) ADD_FAILURE() << platform::Format("%.17g", v) << ": " << point;
        }
    }
    EXPECT_EQ(wrong, 0u);
    const uint64_t times[] = {0, 125911583999990000ULL, 0x7FFFFFFFFFFFFFFFULL, rng() >> 1, rng() >> 1};
    for (uint64_t t : times) {
        EXPECT_EQ(FormatIsoTime(t), platform::FormatIsoUtc(t)) << t;
    }
}

// What is written is GPX 1.1 by its schema, with a name that needs escaping and a damaged
// record left out, but for the one element the export adds to every moving point: <speed>
// (km/h), which the schema does not define and which readers of these files expect.
TEST(GpxWriterTest, OutputIsGpx11ButForItsSpeeds) {
    test::TempDir dir;
    std::vector<LogRecord> records = {
        {-33.5, 151.25, 12.5f, 36.0f, 128809083092500000ULL},
        {std::numeric_limits<double>::quiet_NaN(), 0, 0, 0, 0},
        {47.0, 8.0, 0.0f, 3.0f, 128809083100000000ULL},
    };
    const std::string gpx = WriteToFile(dir, "R&D <test>", records);
    EXPECT_NE(gpx.find("\t\t<name>R&amp;D &lt;test&gt;</name>\r\n"), std::string::npos);
    std::string withoutSpeeds;
    size_t speeds = 0;
    for (size_t at = 0, end; at < gpx.size(); at = end) {
        end = std::min(gpx.find('\n', at), gpx.size() - 1) + 1;
        const std::string line = gpx.substr(at, end - at);
        if (line.find("<speed>") != std::string::npos) ++speeds;
        else withoutSpeeds += line;
    }
    EXPECT_EQ(speeds, 2u);
    test::WriteFile(dir.File("schema.gpx"), withoutSpeeds);
    ASSERT_EQ(std::system("command -v xmllint >/dev/null 2>&1"), 0) << "xmllint is not installed (libxml2-utils)";
    const std::string cmd = "xmllint --noout --schema '" KESTRIX_TEST_DATA_DIR "/gpx11.xsd' '" +
                            dir.File("schema.gpx") + "' 2>'" + dir.File("lint.txt") + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << test::ReadFile(dir.File("lint.txt"));
}

}  // namespace
}  // namespace kestrix
