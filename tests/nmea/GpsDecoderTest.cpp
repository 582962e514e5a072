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

}  // namespace
}  // namespace kestrix
