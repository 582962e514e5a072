#include "nmea/GpsDecoder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "nmea/NmeaTestSupport.h"
#include "nmea/SyntheticCapture.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace kestrix {
namespace {

using GpsDecoderTest = test::DeviceClockTest;

std::vector<nlohmann::json> Jsonl(const std::string& path) {
    std::vector<nlohmann::json> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) out.push_back(nlohmann::json::parse(line));
    return out;
}

// Every fix sentence of twenty real captures, fed line by line, gives the fix the reference
// files beside the capture hold: the position (the altitude of a GGA, the speed of an RMC)
// of the per-sentence decoding, and the time gpsd reports for that line where it has one (a
// GGA or GLL takes its date from the device clock: its time of day is compared). No line
// gives more fixes than it has fix sentences.
TEST_F(GpsDecoderTest, EveryFixSentenceOfTwentyRealReceiversDecodesAsTheReferenceHasIt) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(KESTRIX_TEST_DATA_DIR) / "nmea";
    size_t logs = 0;
    size_t checked = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".log") continue;
        ++logs;
        const std::string name = entry.path().stem().string();
        test::FixRecorder rec;
        GpsDecoder d(&rec);
        std::map<int, std::vector<TrackPointRef>> byLine;
        std::istringstream bytes(test::ReadFile(entry.path().string()));
        int n = 0;
        for (std::string line; std::getline(bytes, line);) {
            d.Feed(line + "\n");
            byLine[++n] = rec.TakeFixes();
        }
        std::map<int, std::string> gpsdTime;
        for (const auto& j : Jsonl((dir / (name + ".expected.jsonl")).string()))
            if (!j["time"].is_null()) gpsdTime.emplace(j["body_line"].get<int>(), j["time"].get<std::string>());
        std::map<int, size_t> used;
        for (const auto& j : Jsonl((dir / (name + ".sentences.jsonl")).string())) {
            const std::string type = j["type"];
            if (type != "GGA" && type != "RMC" && type != "GLL") continue;
            if (!j["checksum_ok"] || (type == "GGA" ? j.value("quality", "") != "1" : j.value("status", "") != "A"))
                continue;
            const int line = j["line"];
            const size_t index = used[line]++;
            if (index >= byLine[line].size()) {
                ADD_FAILURE() << name << " line " << line << ": no fix";
                continue;
            }
            SCOPED_TRACE(name + " line " + std::to_string(line));
            const TrackPoint& p = *byLine[line][index];
            EXPECT_NEAR(p.GetLatitude(), j["lat"].get<double>(), 1e-6);
            EXPECT_NEAR(p.GetLongitude(), j["lon"].get<double>(), 1e-6);
            if (type == "GGA") {
                const std::string alt = j.value("alt_msl_field", "");
                EXPECT_NEAR(p.GetAltitude(), alt.empty() ? 0.0 : std::stod(alt), 1e-3);
            }
            if (type == "RMC" && j.contains("speed_mps") && !j["speed_mps"].is_null()) {
                EXPECT_NEAR(p.GetSpeed(), j["speed_mps"].get<double>() * 3.6, 1e-3);
            }
            if (const auto t = gpsdTime.find(line); t != gpsdTime.end()) {
                const std::string ours = platform::FormatIsoUtc(p.GetTime(), true);
                EXPECT_EQ(type == "RMC" ? ours : ours.substr(11), type == "RMC" ? t->second : t->second.substr(11));
            }
            ++checked;
        }
        for (const auto& [line, fixes] : byLine)
            EXPECT_LE(fixes.size(), used[line]) << name << " line " << line << ": a fix from a sentence that is not one";
    }
    EXPECT_EQ(logs, 20u);
    EXPECT_GT(checked, 1300u);
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
        const auto fixes = rec.Fixes();
        ASSERT_EQ(fixes.size(), std::size(junk)) << "in chunks of " << chunk;
        for (size_t i = 0; i < fixes.size(); ++i) {
            EXPECT_NEAR(fixes[i]->GetLatitude(), 48 + (7 + i / 1000.0) / 60, 1e-9) << i;
            EXPECT_NEAR(fixes[i]->GetLongitude(), 11 + 31 / 60.0, 1e-9) << i;
        }
    }
}

}  // namespace
}  // namespace kestrix
