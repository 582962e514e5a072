#include "ui/SettingsSheet.h"

#include "platform/Controls.h"
#include "resources/Dialogs.h"
#include "ui/UiFixture.h"

namespace kestrix::test {
namespace {

using namespace platform;
using namespace ui;

using SheetTest = UiTest;

TEST_F(SheetTest, TrackPageShowsAndStoresWhatThePersonSets) {
    // pos < 0: a click
    struct Step { int control; int pos; uint16_t code; };
    struct Case {
        const char* name;
        uint32_t mode;
        std::vector<Step> steps;
        const char* pointShown;
        const char* timeoutShown;
        int pointPos;
        uint32_t storedMode, storedCount, storedTimeout;
    };
    const std::vector<Case> cases = {
        {"drag to 37", 3, {{kIdcPointCountBar, 37, TB_THUMBTRACK}, {kIdcPointCountBar, 37, TB_ENDTRACK}}, "185", "10",
         37, 3, 185, 10},
        {"drag to 0 is put back to 1", 3, {{kIdcPointCountBar, 0, TB_ENDTRACK}}, "5", "10", 1, 3, 5, 10},
        {"a keyboard step", 3, {{kIdcPointCountBar, 21, TB_LINEDOWN}}, "105", "10", 21, 3, 105, 10},
        {"timeout dragged half way", 3, {{kIdcTimeoutBar, 50, TB_ENDTRACK}}, "100", "30", 20, 3, 100, 30},
        {"ticking point count", 1, {{kIdcPointCountRule, -1, 0}}, "500", "10", 100, 3, 500, 10},
        {"unticking auto track", 3, {{kIdcAutoTrack, -1, 0}}, "0", "0", 100, 0, 500, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Settings().SetAutoTrackMode(c.mode);
        Settings().SetAutoTrackPointCount(100);
        Settings().SetAutoTrackTimeout(10);
        ASSERT_TRUE(RunSheet(kPageTrack, [&](WindowHandle sheet) {
            for (const Step& s : c.steps) {
                EXPECT_TRUE(s.pos < 0 ? ClickControl(sheet, s.control)
                                      : ScrollTrackbar(sheet, s.control, s.pos, s.code));
            }
            EXPECT_EQ(Control(sheet, kIdcPointCountText).text, c.pointShown);
            EXPECT_EQ(Control(sheet, kIdcTimeoutText).text, c.timeoutShown);
            EXPECT_EQ(Control(sheet, kIdcPointCountBar).pos, c.pointPos);
            const bool on = c.storedMode != 0;
            for (int id : {kIdcPointCountBar, kIdcPointCountText, kIdcTimeoutBar, kIdcTimeoutText}) {
                EXPECT_EQ(Control(sheet, id).enabled, on) << id;
            }
            PressDone(sheet);
        }));
        EXPECT_EQ(Settings().GetAutoTrackMode(), c.storedMode);
        EXPECT_EQ(Settings().GetAutoTrackPointCount(), c.storedCount);
        EXPECT_EQ(Settings().GetAutoTrackTimeout(), c.storedTimeout);
    }
}

}  // namespace
}  // namespace kestrix::test
