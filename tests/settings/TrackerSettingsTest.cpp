#include "settings/TrackerSettings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/Registry.h"
#include "support/TestSupport.h"

namespace kestrix {
namespace {

using platform::RegKey;
using Text = std::optional<std::string>;

class TrackerSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        regFile_ = dir_.File("registry.reg");
        std::string error;
        ASSERT_TRUE(platform::ConfigureRegistry(regFile_, &error)) << error;
    }

    // Stores values as another program (or an earlier run) would have left them.
    template <class Fill>
    void Store(Fill fill) {
        auto key = RegKey::Open(kSettingsKey, true);
        ASSERT_TRUE(key);
        fill(*key);
        ASSERT_EQ(key->Close(), 0);
    }

    std::string FileText() const { return test::ReadFile(regFile_); }
    bool FileHasLine(const std::string& line) const {
        return ('\n' + FileText() + '\n').find("\n" + line + "\n") != std::string::npos;
    }

    test::TempDir dir_;
    std::string regFile_;
};

TEST_F(TrackerSettingsTest, ZeroMarkerIsNotWrittenSoAStoredOneSurvives) {
    Store([](RegKey& k) { k.SetBinary("LastTrkPt", {1, 2, 3, 4, 5, 6, 7, 8}); });
    TrackerSettings s;
    uint64_t zero = 0;
    ASSERT_TRUE(s.SetLastTrackPoint(&zero));
    ASSERT_EQ(s.Save(), 0);
    EXPECT_TRUE(FileHasLine("\"LastTrkPt\"=hex:01,02,03,04,05,06,07,08")) << FileText();
    s.Load();
    EXPECT_EQ(s.GetLastTrackPoint(), 0x0807060504030201ULL);
}

TEST_F(TrackerSettingsTest, OddStoredValuesCountAsMissing) {
    const std::string longHost(64, 'h');
    const std::string okLogin(63, 'u');
    std::string accents = "/dev/u";
    for (int i = 0; i < 29; ++i) accents += "\xC3\xA9";
    Store([&](RegKey& k) {
        k.SetString("Host", longHost);           // longer than a stored string may be
        k.SetString("Login", okLogin);           // exactly at the limit
        k.SetString("COM", accents);             // 35 characters, 64 bytes
        k.SetString("BaudRate", "fast");         // wrong type
        k.SetDword("Port", 0x000104B1);          // only the low 16 bits are the port
        k.SetBinary("LastTrkPt", {1, 2, 3});     // not 8 bytes
        k.SetString("LOG", "\\" + std::string(70, 'd') + "\\t.log");
    });
    TrackerSettings s;
    s.SetHost(std::string("10.0.0.1"));
    uint64_t marker = 99;
    s.SetLastTrackPoint(&marker);
    s.Load();
    EXPECT_EQ(std::make_tuple(s.GetHost(), s.GetLogin(), s.GetBaudRate(), s.GetPort(), s.GetLastTrackPoint(), s.GetLogPath(),
                              s.GetGpsPort()),
              std::make_tuple(Text("10.0.0.1"), Text(okLogin), 9600u, uint16_t{1201}, uint64_t{0}, Text("\\"), Text()));
}

TEST_F(TrackerSettingsTest, SettersRefuseWhatTheRecordCannotHold) {
    TrackerSettings s;
    ASSERT_TRUE(s.SetAutoTrackTimeout(30) && s.SetAutoTrackPointCount(100));
    EXPECT_FALSE(s.SetAutoTrackTimeout(61));
    EXPECT_FALSE(s.SetAutoTrackPointCount(501));
    EXPECT_EQ(std::make_pair(s.GetAutoTrackTimeout(), s.GetAutoTrackPointCount()), std::make_pair(30u, 100u));
    EXPECT_TRUE(s.SetAutoTrackTimeout(60) && s.SetAutoTrackPointCount(500));
    EXPECT_EQ(std::make_pair(s.GetAutoTrackTimeout(), s.GetAutoTrackPointCount()), std::make_pair(60u, 500u));
    EXPECT_EQ(s.GetMode(255), 0u);
    EXPECT_EQ((std::vector<bool>{s.SetMode(2, 1), s.SetLogin(std::nullopt), s.SetPassword(std::nullopt),
                                 s.SetGpsPort(std::nullopt), s.SetLogPath(std::nullopt), s.SetLastTrackPoint(nullptr)}),
              std::vector<bool>(6, false));
}

}  // namespace
}  // namespace kestrix
