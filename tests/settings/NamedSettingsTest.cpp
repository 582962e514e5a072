#include "settings/NamedSettings.h"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

// Text a setting would not load back as the running tracker uses it is refused, and the
// record is left as it was; the track log path counts as the next load rebuilds it from
// the login, and a LOG is stored that way. Limits are in bytes (UTF-8).
TEST(NamedSettingsTest, TextThatWouldNotLoadBackIsRefused) {
    const std::string u63(63, 'u');
    const std::string l59(59, 'l');
    const std::string f60(60, 'f');
    std::string e32;  // 32 two-byte letters: 64 bytes
    for (int i = 0; i < 32; ++i) e32 += "\xC3\xA9";
    const std::string unprintable = " cannot hold control characters or bytes that are not UTF-8 ";
    struct Case {
        const char* name;
        std::string value;
        std::string refusal;          // empty: accepted
        const char* shown = nullptr;  // what an accepted value reads as, when not itself
    };
    const Case cases[] = {
        {"Host", u63, ""},
        {"Host", u63 + "u", "Host cannot be longer than 63 bytes"},
        {"COM", "/dev/" + std::string(59, 'd'), "COM cannot be longer than 63 bytes"},
        {"Host", e32.substr(2) + "u", ""},
        {"Host", e32, "Host cannot be longer than 63 bytes"},
        {"Host", std::string(100, '\x80'), "Host" + unprintable + "(0x80 at byte 0)"},
        {"Login", std::string("anna\0x", 6), "Login" + unprintable + "(0x00 at byte 4)"},
        {"COM", "x\n/dev/ttyS0", "COM" + unprintable + "(0x0a at byte 1)"},
        {"Password", "se\tcret", "Password" + unprintable + "(0x09 at byte 2)"},
        {"Host", "", "Host cannot be empty"},
        {"Login", "a\\b", "Login cannot hold / or \\: the track log is named after it"},
        {"Login", std::string(58, 'l'), ""},  // \lll...l.log: 63
        {"Login", l59, "Login \"" + l59 + "\" makes LOG \"\\" + l59 + ".log\" longer than 63 bytes"},
        {"LOG", "\\other.log", "", "\\anna.log"},
        {"LOG", "\\Tracks\\", "", "\\Tracks\\anna.log"},
        {"LOG", "\\" + f60 + "\\", "LOG \"\\" + f60 + "\\\" makes LOG \"\\" + f60 + "\\anna.log\" longer than 63 bytes"},
        {"Password", std::string(200, 'p'), "", "6a13d0e6302f0dea7b35b7a71d4bedaa"},  // stored as its digest
    };
    for (const Case& c : cases) {
        TrackerSettings s;
        s.SetLogin(std::string("anna"));
        s.SetLogPath(std::string("\\"));
        const std::string before = ShowSetting(s, c.name);
        EXPECT_EQ(ChangeSetting(s, c.name, c.value), c.refusal) << c.name << " " << c.value.size();
        EXPECT_EQ(ShowSetting(s, c.name), !c.refusal.empty() ? before : c.shown ? c.shown : c.value) << c.name;
    }
    TrackerSettings s;
    s.SetLogPath(std::string("\\Storage Card\\Tracks\\a.log"));
    ASSERT_EQ(ChangeSetting(s, "Login", std::string(30, 'l')), "");
    EXPECT_NE(ChangeSetting(s, "LOG", '\\' + std::string(30, 'f') + "\\x.log"), "") << "the folder and the login";
}

}  // namespace
}  // namespace kestrix
