#include "settings/NamedSettings.h"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

// Text a setting could not load back from the registry is refused, and the record is left
// as it was; the track log path counts as the next load rebuilds it from the login.
TEST(NamedSettingsTest, TextThatWouldNotLoadBackIsRefused) {
    const std::string u63(63, 'u');
    struct Case {
        const char* name;
        std::string value;
        std::string refusal;  // empty: accepted
    };
    const Case cases[] = {
        {"Host", u63, ""},
        {"Host", u63 + "u", "Host cannot be longer than 63 characters"},
        {"COM", "/dev/" + std::string(59, 'd'), "COM cannot be longer than 63 characters"},
        {"Host", std::string(31, 'u') + "\xF0\x9F\x9B\xB0", ""},  // a pair of UTF-16 units: 33 in all
        {"Host", std::string(62, 'u') + "\xF0\x9F\x9B\xB0", "Host cannot be longer than 63 characters"},
        {"Login", std::string(58, 'l'), ""},  // \lll...l.log: 63
        {"Login", std::string(59, 'l'),
         "Login \"" + std::string(59, 'l') + "\" makes LOG \"\\" + std::string(59, 'l') + ".log\" longer than 63 characters"},
        {"LOG", "\\" + std::string(63, 'f'), "LOG cannot be longer than 63 characters"},
        {"Password", std::string(200, 'p'), ""},  // stored as its digest
    };
    for (const Case& c : cases) {
        TrackerSettings s;
        s.SetLogPath(std::string("\\"));
        const std::string before = ShowSetting(s, c.name);
        EXPECT_EQ(ChangeSetting(s, c.name, c.value), c.refusal) << c.name << " " << c.value.size();
        if (!c.refusal.empty()) {
            EXPECT_EQ(ShowSetting(s, c.name), before) << c.name;
        }
    }
    TrackerSettings s;
    s.SetLogPath(std::string("\\Storage Card\\Tracks\\a.log"));
    ASSERT_EQ(ChangeSetting(s, "Login", std::string(30, 'l')), "");
    EXPECT_NE(ChangeSetting(s, "LOG", "\\" + std::string(30, 'f') + "\\x.log"), "") << "the folder and the login";
}

}  // namespace
}  // namespace kestrix
