#include "platform/Dialog.h"

#include <gtest/gtest.h>

#include <tuple>

#include "LogCapture.h"
#include "ShellDouble.h"
#include "WindowFixture.h"

namespace kestrix::platform {
namespace {

using test::Message;
constexpr uintptr_t kInstance = 1;

// One control of each kind, a row of 12 dialog units each.
DialogTemplate Small(const char* caption = "Small", uint32_t style = WS_VISIBLE) {
    DialogTemplate t{900, caption, style, 0, 0, 156, 130, {}};
    const std::tuple<const char*, int, const char*, uint32_t> items[] = {
        {kStaticClass, IDC_STATIC, "Login", 0},         {kEditClass, 1004, "anna", WS_TABSTOP},
        {kEditClass, 1005, "secret", ES_PASSWORD},      {kStaticClass, 1079, "notice", 0},
        {kStaticClass, 1077, "link", SS_NOTIFY},        {kButtonClass, 1009, "Tracker", BS_AUTOCHECKBOX},
        {kComboBoxClass, 1008, "", CBS_DROPDOWNLIST},   {kTrackbarClass, 1050, "", 0},
        {kButtonClass, 1100, "Mode", BS_GROUPBOX},      {kTreeViewClass, 1064, "", TVS_HASBUTTONS}};
    int16_t y = 4;
    for (const auto& [cls, id, text, bits] : items) {
        t.items.push_back({cls, id, text, WS_CHILD | WS_VISIBLE | bits, 4, y, 60, 10});
        y = static_cast<int16_t>(y + 12);
    }
    return t;
}

// A dialog procedure that records what it gets (a notification by its code: its header
// lives only during the call) and hands it to a test's handler.
struct Recorder {
    std::vector<Message> seen;
    DlgProc handle;
    DlgProc Proc() {
        return [this](WindowHandle h, uint32_t m, WParam w, LParam l) -> LResult {
            seen.push_back({h, m, w, m == WM_NOTIFY ? static_cast<LParam>(reinterpret_cast<const NmHdr*>(l)->code) : l});
            return handle ? handle(h, m, w, l) : 0;
        };
    }
};

TEST(DialogTest, AModalDialogEndedDuringANestedMessageBoxReturnsOnceTheBoxIsAnswered) {
    test::WindowFixture f;
    test::ShellDouble shell;  // its box pumps the loop until answered, as the browser shell does
    shell.answer = 0;
    shell.whileShown = [&] { MessageLoop::Current()->PumpUntil([&] { return shell.answer != 0; }); };
    SetShellHost(&shell);
    Recorder r;
    int boxAnswer = 0;
    bool aliveAfterBox = false;
    size_t shownWhileBoxOpen = 99;
    r.handle = [&](WindowHandle h, uint32_t m, WParam, LParam) -> LResult {
        if (m == WM_INITDIALOG) PostMessage(h, WM_USER, 0, 0);
        if (m != WM_USER) return 0;
        f.loop.PostTask([&, h] {  // while the box is up: the dialog is ended, then the box answered
            EXPECT_TRUE(EndDialog(h, 7));
            shownWhileBoxOpen = DescribeDialogs().size();
            shell.answer = IDOK;
        });
        boxAnswer = MessageBox(h, "Login should not be empty", "Attention", MB_OK);
        aliveAfterBox = IsWindow(h);
        return 0;
    };
    EXPECT_EQ(DialogBoxIndirectParam(kInstance, Small(), kNoWindow, r.Proc(), 0), 7);
    SetShellHost(nullptr);
    EXPECT_EQ(boxAnswer, IDOK);
    EXPECT_TRUE(aliveAfterBox);  // the window goes only when its own pump returns
    EXPECT_EQ(shownWhileBoxOpen, 0u);
    EXPECT_EQ(r.seen.back().msg, WM_DESTROY);
    EXPECT_FALSE(EndDialog(f.Make(), 1));  // not a dialog
    EXPECT_EQ(DialogBoxIndirectParam(0, Small(), kNoWindow, r.Proc(), 0), -1);
    DialogTemplate broken = Small();
    broken.items.push_back({"NoSuchClass", 5, "", WS_CHILD, 0, 0, 1, 1});
    test::LogCapture quiet;
    EXPECT_EQ(DialogBoxIndirectParam(kInstance, broken, kNoWindow, r.Proc(), 0), -1);
}

}  // namespace
}  // namespace kestrix::platform
