#include "today/PluginEntry.h"

#include "TodayFixture.h"
#include "core/MainWindow.h"
#include "ui/ColorText.h"
#include "ui/Hyperlink.h"

namespace kestrix::test {
namespace {

using V = std::vector<std::string>;
using namespace platform;

// The journal without the bubble's refreshes.
V ServiceCalls(Journal& journal) {
    V out;
    for (auto& call : journal.Take()) {
        if (call.rfind("shell.", 0) != 0) out.push_back(call);
    }
    return out;
}

// The buttons switch their service; the tracker's also stops a session that has not
// reported its start yet (still connecting).
TEST_F(TodayTest, ButtonsSwitchTheirService) {
    struct Case {
        int x;
        const char* call;  // the first of the service's calls; the rest are the controller's table
        const char* logger;
        const char* tracker;
    };
    const Case cases[] = {
        {392, "session.Start", "132", "136"},
        {400, "session.Stop", "132", "104"},
        {412, "log.Open", "115", "104"},
        {420, "log.Close", "132", "104"},
    };
    Item();
    Paint();
    session_->reportsStart = false;
    for (const Case& c : cases) {
        EXPECT_EQ(Tap(c.x), 1);
        EXPECT_EQ(ServiceCalls(journal_).at(0), c.call) << c.x;
        const V images = Images(Paint());
        EXPECT_EQ(images[3].substr(0, 3) + " " + images[4].substr(0, 3), std::string(c.logger) + " " + c.tracker) << c.x;
    }
}

}  // namespace
}  // namespace kestrix::test
