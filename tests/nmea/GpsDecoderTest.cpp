#include "nmea/GpsDecoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "nmea/NmeaTestSupport.h"
#include "nmea/SyntheticCapture.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace kestrix {
namespace {

using GpsDecoderTest = test::DeviceClockTest;

// The time of day of a time field of six digits and an optional fraction.
bool TimeOfDay(const std::string& f, int& h, int& m, int& s, int& ms) {
    if (f.size() < 6 || (f.size() > 6 && f[6] != '.')) return false;
    for (size_t i = 0; i < f.size(); ++i)
        if (i != 6 && !std::isdigit(static_cast<unsigned char>(f[i]))) return false;
    h = std::stoi(f.substr(0, 2));
    m = std::stoi(f.substr(2, 2));
    s = std::stoi(f.substr(4, 2));
    std::string frac = f.size() > 7 ? f.substr(7) : "";
    frac = (frac + "000").substr(0, 3);
    ms = std::stoi(frac);
    return h < 24 && m < 60 && s < 60;
}

std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t nl = bytes.find('\n', start);
        if (nl == std::string::npos) nl = bytes.size() - 1;
        lines.push_back(bytes.substr(start, nl - start + 1));
        start = nl + 1;
    }
    return lines;
}

TEST_F(GpsDecoderTest, EveryFixSentenceOfTwentyRealReceiversDecodes) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(KESTRIX_CORPUS_DIR) / "nmea";
    if (!fs::exists(dir)) GTEST_SKIP() << "no corpus at " << dir;
    std::vector<fs::path> logs;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".log") logs.push_back(e.path());
    std::sort(logs.begin(), logs.end());
    EXPECT_EQ(logs.size(), 20u);

    const uint64_t deviceDate = test::FileTimeOf(2031, 5, 17);
    size_t total = 0;
    size_t passed = 0;
    for (const fs::path& log : logs) {
        const std::string name = log.stem().string();
        test::FixRecorder rec;
        GpsDecoder d(&rec);
        std::map<int, std::vector<TrackPointRef>> byLine;
        const std::vector<std::string> lines = SplitLines(test::ReadFile(log.string()));
        for (size_t i = 0; i < lines.size(); ++i) {
            d.Feed(lines[i]);
            for (auto& f : rec.fixes) byLine[static_cast<int>(i + 1)].push_back(std::move(f));
            rec.fixes.clear();
        }
        std::ifstream in(dir / (name + ".sentences.jsonl"));
        std::string text;
        std::map<int, size_t> usedOnLine;
        size_t fileTotal = 0;
        size_t filePassed = 0;
        while (std::getline(in, text)) {
            const auto j = nlohmann::json::parse(text);
            const std::string type = j["type"];
            if (type != "GGA" && type != "RMC" && type != "GLL") continue;
            const int line = j["line"];
            const bool good = j["checksum_ok"];
            bool fix = false;
            if (good && type == "GGA") fix = j.value("quality", "") == "1";
            if (good && type != "GGA") fix = j.value("status", "") == "A";
            auto& fixes = byLine[line];
            if (!fix) {
                // A sentence that is not a fix never yields one (other sentences on a
                // broken line may).
                continue;
            }
            ++fileTotal;
            const size_t index = usedOnLine[line]++;
            if (index >= fixes.size()) {
                ADD_FAILURE() << name << " line " << line << ": no fix";
                continue;
            }
            const TrackPoint& p = *fixes[index];
            bool ok = true;
            if (std::fabs(p.GetLatitude() - j["lat"].get<double>()) > 1e-6 ||
                std::fabs(p.GetLongitude() - j["lon"].get<double>()) > 1e-6) {
                ADD_FAILURE() << name << " line " << line << ": position " << p.GetLatitude() << ","
                              << p.GetLongitude() << " expected " << j["lat"] << "," << j["lon"];
                ok = false;
            }
            int h, m, s, ms;
            const std::string timeField = j["time_field"];
            uint64_t expectedTime;
            if (TimeOfDay(timeField, h, m, s, ms)) {
                uint64_t date = deviceDate;
                const std::string dateField = j.value("date", "");
                if (type == "RMC" && dateField.size() == 6)
                    date = test::FileTimeOf(2000 + std::stoi(dateField.substr(4, 2)), std::stoi(dateField.substr(2, 2)),
                                    std::stoi(dateField.substr(0, 2)));
                expectedTime = date + ((h * 3600ull + m * 60ull + s) * 1000ull + static_cast<uint64_t>(ms)) * 10'000ull;
            } else {
                expectedTime = clock.UtcFileTime();
            }
            if (p.GetTime() != expectedTime) {
                ADD_FAILURE() << name << " line " << line << ": time " << platform::FormatIsoUtc(p.GetTime())
                              << " expected " << platform::FormatIsoUtc(expectedTime) << " (" << timeField << ")";
                ok = false;
            }
            if (type == "GGA") {
                const std::string alt = j.value("alt_msl_field", "");
                const double expectedAlt = alt.empty() ? 0.0 : std::stod(alt);
                if (std::fabs(p.GetAltitude() - expectedAlt) > 1e-3) {
                    ADD_FAILURE() << name << " line " << line << ": altitude " << p.GetAltitude();
                    ok = false;
                }
            }
            if (type == "RMC" && j.contains("speed_mps") && !j["speed_mps"].is_null()) {
                if (std::fabs(p.GetSpeed() - j["speed_mps"].get<double>() * 3.6) > 1e-3) {
                    ADD_FAILURE() << name << " line " << line << ": speed " << p.GetSpeed();
                    ok = false;
                }
            }
            if (ok) ++filePassed;
        }
        // No line gives more fixes than it has fix sentences.
        for (const auto& [line, fixes] : byLine)
            EXPECT_LE(fixes.size(), usedOnLine[line]) << name << " line " << line << ": fix from a non-fix sentence";
        std::printf("%-34s %4zu / %4zu fix sentences decoded right\n", name.c_str(), filePassed, fileTotal);
        total += fileTotal;
        passed += filePassed;
    }
    std::printf("corpus: %zu / %zu fix sentences decoded right\n", passed, total);
    EXPECT_EQ(passed, total);
    EXPECT_GT(total, 1300u);
}

// A receiver that cuts a sentence off, or mixes its binary protocol into the NMEA stream
// (u-blox does on USB), loses only the broken sentence: each valid one after it is a fix.
TEST_F(GpsDecoderTest, BrokenSentencesAndBinaryDataDoNotSwallowTheNextFix) {
    // A u-blox frame: sync bytes, class and id, length, then NULs, "$" and "*" with hex
    // digits, CR and LF in the payload, and the two checksum bytes.
    const std::string ubx = std::string("\xB5\x62\x01\x07\x10\x00", 6) +
                            std::string("\x00\x24\x2A\x34\x31\x0D\x0A\x00\x24\x47\x50\xFF\x2C\x2A\x00\x0A", 16) +
                            "\x5E\x91";
    const std::string junk[] = {
        "$GPR",                       // cut in the address
        "$GPRMC,081836,A,37",         // in the body
        "$GPGGA,081836,3751.65,S*",   // before the checksum digits
        "$GPGLL,3751.65,S*4",         // between them
        ubx,                          // binary data
        ubx + "$GPGSV,3,1,11,23,87,2",  // binary data, then a cut sentence
    };
    std::string stream;
    for (size_t i = 0; i < std::size(junk); ++i) {
        const std::string at = platform::Format("0818%02zu", i);
        const std::string lat = platform::Format("4807.%03zu,N,01131.000,E", i);
        const std::string valid[] = {"GPRMC," + at + ",A," + lat + ",000.0,000.0,170531,,,A",
                                     "GPGGA," + at + "," + lat + ",1,08,0.9,545.4,M,46.9,M,,",
                                     "GPGLL," + lat + "," + at + ",A,A"};
        stream += junk[i] + MakeSentence(valid[i % 3]);
    }
    for (size_t chunk : {size_t{1}, stream.size()}) {
        test::FixRecorder rec;
        GpsDecoder d(&rec);
        for (size_t i = 0; i < stream.size(); i += chunk) d.Feed(std::string_view(stream).substr(i, chunk));
        ASSERT_EQ(rec.fixes.size(), std::size(junk)) << "in chunks of " << chunk;
        for (size_t i = 0; i < rec.fixes.size(); ++i) {
            EXPECT_NEAR(rec.fixes[i]->GetLatitude(), 48 + (7 + i / 1000.0) / 60, 1e-9) << i;
            EXPECT_NEAR(rec.fixes[i]->GetLongitude(), 11 + 31 / 60.0, 1e-9) << i;
        }
    }
}

}  // namespace
}  // namespace kestrix
