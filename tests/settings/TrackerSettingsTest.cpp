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

// Every field, in the order of the header.
auto Fields(const TrackerSettings& s) {
    return std::make_tuple(s.GetGpsPort(), s.GetBaudRate(), s.GetDataBits(), s.GetParity(), s.GetStopBits(),
                           s.GetLogin(), s.GetPasswordHash(), s.GetUserId(), s.GetHost(), s.GetPort(), s.GetMode(0),
                           s.GetMode(1), s.GetLogPath(), s.GetLastTrackPoint(), s.GetAutoTrackMode(),
                           s.GetAutoTrackTimeout(), s.GetAutoTrackPointCount());
}

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

TEST_F(TrackerSettingsTest, FreshDeviceGetsLoadDefaults) {
    TrackerSettings s;
    EXPECT_EQ(s.GetAutoTrackPointCount(), 5u);  // the constructor's value, and below the one a missing value gives
    s.Load();
    EXPECT_EQ(Fields(s), std::make_tuple(Text(), 9600u, 8u, 0u, 0u, Text(), Text(), 1u, Text(), uint16_t{1201}, 3u, 3u,
                                         Text("\\"), uint64_t{0}, 3u, 1u, 500u));
}

TEST_F(TrackerSettingsTest, StoredLogFolderIsKeptAndTheFileNamedAfterTheAccount) {
    struct Row {
        const char* login;  // nullptr: no Login value
        const char* expected;
    } rows[] = {
        {"user1", "\\Storage Card\\Tracks\\user1.log"},
        {"", "\\Storage Card\\Tracks\\Kestrix.log"},
        {nullptr, "\\Storage Card\\Tracks\\Kestrix.log"},
    };
    for (const Row& r : rows) {
        Store([&](RegKey& k) {
            k.SetString("LOG", "\\Storage Card\\Tracks\\old.log");
            if (r.login) {
                k.SetString("Login", r.login);
            } else {
                k.DeleteValue("Login");
            }
        });
        TrackerSettings s;
        s.Load();
        EXPECT_EQ(s.GetLogPath().value_or("<null>"), r.expected) << (r.login ? r.login : "no login");
    }
}

TEST_F(TrackerSettingsTest, SaveWritesExactValuesAndSkipsEmptyOnes) {
    TrackerSettings s;
    s.SetBaudRate(4800);
    s.SetPort(8080);
    s.SetMode(0, 2);
    s.SetMode(1, 1);
    s.SetLogin(std::string("anna"));
    s.SetPassword(std::string("secret"));
    s.SetHost(std::string(""));  // empty: not written
    s.SetAutoTrackTimeout(15);
    uint64_t marker = 0x019db1ded53e8000ULL;
    s.SetLastTrackPoint(&marker);
    ASSERT_EQ(s.Save(), 0);

    const char* lines[] = {
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Geomira\\GmrLogger]",
        "\"BaudRate\"=dword:000012c0",
        "\"DataBits\"=dword:00000008",
        "\"Port\"=dword:00001f90",
        "\"ModeB\"=dword:00000002",
        "\"ModeP\"=dword:00000001",
        "\"Login\"=\"anna\"",
        "\"Password\"=\"5ebe2294ecd0e0f08eab7690d2a6ee69\"",
        "\"user_id\"=dword:00000001",
        "\"LastTrkPt\"=hex:00,80,3e,d5,de,b1,9d,01",
        "\"AutoTrkMode\"=dword:00000003",
        "\"AutoTrkTimeout\"=dword:0000000f",
        "\"AutoTrkPointCount\"=dword:00000005",
    };
    for (const char* line : lines) EXPECT_TRUE(FileHasLine(line)) << line << "\n" << FileText();
    const std::string text = FileText();
    EXPECT_EQ(text.find("\"Host\""), std::string::npos);
    EXPECT_EQ(text.find("\"COM\""), std::string::npos);

    auto key = RegKey::Open(kSettingsKey, false);
    ASSERT_TRUE(key);
    std::string log;
    ASSERT_TRUE(key->QueryString("LOG", log));
    EXPECT_EQ(log, "anna.log");  // no folder known yet: a bare name
}

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

TEST_F(TrackerSettingsTest, LoginRenamesTheLog) {
    struct Row {
        const char* logPath;  // nullptr: none set
        const char* login;
        const char* expected;
    } rows[] = {
        {"\\Storage Card\\Tracks\\user1.log", "anna", "\\Storage Card\\Tracks\\anna.log"},
        {nullptr, "anna", "anna.log"},
        {"", "anna", "anna.log"},
        {"C:\\t\\x.log", "bob", "C:\\t\\bob.log"},
        // An empty account keeps the name a later load would give, not a bare ".log".
        {"\\Tracks\\anna.log", "", "\\Tracks\\Kestrix.log"},
    };
    for (const Row& r : rows) {
        TrackerSettings s;
        if (r.logPath) s.SetLogPath(std::string(r.logPath));
        ASSERT_TRUE(s.SetLogin(std::string(r.login)));
        EXPECT_EQ(s.GetLogPath().value_or("<null>"), r.expected) << r.login;
    }
}

}  // namespace
}  // namespace kestrix
