#include "ui/SettingsSheet.h"

#include "platform/Controls.h"
#include "resources/Dialogs.h"
#include "ui/FolderChooser.h"
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

// The sheet's edits refuse the text the settings refuse, with the box saying why, and store
// nothing of it.
TEST_F(SheetTest, EditsTheSettingsRefuseAreRefusedWithTheReason) {
    const std::string deep(60, 'f');
    MakeFolder(deep);
    struct Case {
        int page;
        std::function<void(WindowHandle)> edit;
        std::string box;
    };
    const Case cases[] = {
        {kPageAccount, [](WindowHandle sheet) { TypeText(sheet, kIdcLogin, "ann\ta"); },
         "Login cannot hold control characters or bytes that are not UTF-8 (0x09 at byte 3)"},
        {kPageAccount, [](WindowHandle sheet) { TypeText(sheet, kIdcPassword, "se\ncret"); },
         "Password cannot hold control characters or bytes that are not UTF-8 (0x0a at byte 2)"},
        {kPageMode,
         [&](WindowHandle sheet) {
             WhenOpen([&](WindowHandle chooser) {
                 const ControlInfo tree = Control(chooser, kIdcFolderTree);
                 for (const auto& folder : tree.tree.at(0).children) {
                     if (folder.text == deep) SelectTreeItem(chooser, kIdcFolderTree, folder.item);
                 }
                 PressDone(chooser);
             });
             ClickControl(sheet, kIdcChooseFolder);
         },
         "LOG cannot be longer than 63 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box);
        Settings().SetLogin(std::string("anna"));
        Settings().SetPassword(std::string("secret"));
        Settings().SetLogPath(std::string("\\anna.log"));
        shell_.boxes.clear();
        ASSERT_TRUE(RunSheet(c.page, [&](WindowHandle sheet) {
            c.edit(sheet);
            PressDone(sheet);
        }));
        ASSERT_FALSE(shell_.boxes.empty());
        EXPECT_EQ(shell_.boxes.front().text, c.box);
        EXPECT_EQ(Settings().GetLogin(), "anna");
        EXPECT_EQ(Settings().GetPasswordHash(), "5ebe2294ecd0e0f08eab7690d2a6ee69");
        EXPECT_EQ(Settings().GetLogPath(), "\\anna.log");
    }
}

}  // namespace
}  // namespace kestrix::test
