#include "core/StatusPage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Listeners.h"

namespace kestrix {
namespace {

// The page written out by hand, fragment by fragment, so a slip in the builder's
// literals (a blank, a quote, a missing "/") shows up as a byte difference.
std::string ExpectedPage(bool tracker, bool logger, bool fix, bool hasLastFix, const char* messageHtml) {
    const char* mode = tracker && logger ? "green\">Mode: Tracker/Logger"
                       : tracker         ? "green\">Mode: Tracker"
                       : logger          ? "green\">Mode: Logger"
                                         : "red\">Mode: Disconnected";
    std::string p = R"(<html><body bgColor="whitesmoke"><table><tr><td style="width:55%" align="left">)";
    p += std::string(R"(<b><font size="2" color=")") + mode + "</font></b><br/></td>";
    p += R"(<td style="width:45%" align="right">)";
    p += fix && hasLastFix ? R"(<b><font size="2" color="green">GPS position fixed</font></b>)"
                           : R"(<b><font size="2" color="red">GPS fix was lost...</font></b>)";
    p += "<br/></td></tr></table>";
    p += R"(<font size="2"><u>Change Your </u><a tabindex ="2" href="cmd:40004">Settings</a></font><br/>)";
    if (messageHtml) p += std::string(R"(<font size="2" color="red">Message: )") + messageHtml + "</font><br/><br/>";
    p += R"(<hr/><table style="width:16em"><tr><td style="width:55%"><table style="width:8em"><tr>)"
         R"(<td align="center" valign="middle">)"
         R"(<input style="width:6em" type="button" tabindex = "3"  value="Trk2Srv" name="cmd:40007"/></td></tr><tr>)"
         R"(<td align="center" valign="middle">)"
         R"(<input style="width:6em" type="button" tabindex = "4" value="Trk2Gpx" name="cmd:40006" /></td>)"
         R"(<td WIDTH="50%"  align="center"></td></tr></table></td>)"
         R"(<td style="width:45%" align="right" valign="middle">)";
    p += tracker || logger
             ? R"(<input style="height:3em;width:6em;text-align:center;" type="button" tabindex = "1" value="Switch&#10OFF" name="cmd:40002" />)"
             : R"(<input style="height:3em;width:6em;text-align:center;" type="button" tabindex = "1"  value="Switch&#10ON" name="cmd:40001" />)";
    p += "</td></tr></table></body></html>";
    return p;
}

TEST(StatusPageTest, EveryStateGivesItsExactPage) {
    const std::string message = "Can't connect to server 127.0.0.1:1201";
    for (uint32_t state = 0; state < 8; ++state) {
        for (bool hasLastFix : {false, true}) {
            for (bool withMessage : {false, true}) {
                SCOPED_TRACE("state " + std::to_string(state) + " lastFix " + std::to_string(hasLastFix) +
                             " message " + std::to_string(withMessage));
                std::string page = "stale content that must go";
                BuildStatusPage(state, hasLastFix, withMessage ? &message : nullptr, page);
                EXPECT_EQ(page, ExpectedPage(state & 1, state & 2, state & 4, hasLastFix,
                                             withMessage ? message.c_str() : nullptr));
            }
        }
    }
}

TEST(StatusPageTest, MessageMarkupIsEscaped) {
    struct Case { std::string message; const char* shown; };
    const std::vector<Case> cases = {
        {"<b>bold</b> & more", "&lt;b&gt;bold&lt;/b&gt; &amp; more"},
        {"</font><input name=\"cmd:40003\"/>", "&lt;/font&gt;&lt;input name=\"cmd:40003\"/&gt;"},
        {"100% done, %s %d %n", "100% done, %s %d %n"},  // never read as a format
        {"", ""},
        {"&amp;", "&amp;amp;"},
    };
    for (const Case& c : cases) {
        std::string page;
        BuildStatusPage(kModeLogger, false, &c.message, page);
        EXPECT_EQ(page, ExpectedPage(false, true, false, false, c.shown)) << c.message;
    }
}

}  // namespace
}  // namespace kestrix
