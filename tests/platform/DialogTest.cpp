#include "platform/Dialog.h"

#include <gtest/gtest.h>

#include <map>
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
    std::vector<Message> Notes() const {  // commands, notifications and keys
        std::vector<Message> out;
        for (const auto& m : seen)
            if (m.msg == WM_COMMAND || m.msg == WM_HSCROLL || m.msg == WM_NOTIFY || (m.msg >= WM_KEYDOWN && m.msg <= WM_CHAR))
                out.push_back(m);
        return out;
    }
};

WindowHandle NewestDialog() {
    const auto dialogs = DescribeDialogs();
    return dialogs.empty() ? kNoWindow : dialogs.back().id;
}

TEST(DialogTest, AModalDialogEndedDuringANestedMessageBoxReturnsOnceTheBoxIsAnswered) {
    test::WindowFixture f;
    test::ShellDouble shell;  // its box pumps the loop until answered, as the browser shell does
    int answer = 0;
    shell.answer = [&](const test::ShellDouble::Box&) {
        MessageLoop::Current()->PumpUntil([&] { return answer != 0; });
        return answer;
    };
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
            answer = IDOK;
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

TEST(DialogTest, NobodyAnsweringCancelsAfterTheTimeoutSinceTheLastInputOrAtShutdown) {
    test::WindowFixture f;
    test::LogCapture logs;
    Recorder r;
    int cancels = 0;
    r.handle = [&](WindowHandle, uint32_t m, WParam w, LParam) -> LResult {
        cancels += m == WM_COMMAND && LoWord(w) == IDCANCEL;  // ignored: the dialog ends all the same
        return 0;
    };
    // A step a timer tick: typing at 60 s, quiet until 179 s (119 s after it), then 180 s.
    int step = 0;
    bool openAfter119 = false;
    const uint32_t timer = f.loop.SetTimer(1, [&](uint32_t) {
        if (step == 2) openAfter119 = NewestDialog() != kNoWindow && cancels == 0;
        f.clock.Advance(step == 0 ? 60'000 : step == 1 ? 119'000 : 1'000);
        EXPECT_TRUE(step++ != 0 || TypeText(NewestDialog(), 1005, "x"));
    });
    f.loop.PostTask([&] { f.clock.Advance(1); });
    SetUnattendedTimeout(120'000);
    EXPECT_EQ(DialogBoxIndirectParam(kInstance, Small("GMRT Settings"), kNoWindow, r.Proc(), 0), IDCANCEL);
    f.loop.KillTimer(timer);
    EXPECT_TRUE(openAfter119);
    EXPECT_EQ(std::tie(step, cancels), std::make_tuple(3, 1));

    f.loop.PostTask([&] { f.loop.Quit(); });
    EXPECT_EQ(DialogBoxIndirectParam(kInstance, Small("Select Folder"), kNoWindow, r.Proc(), 0), IDCANCEL);
    EXPECT_EQ(cancels, 2);
    EXPECT_EQ(logs.Texts(LogLevel::Warning),
              (std::vector<std::string>{"nobody answered the dialog \"GMRT Settings\" within 120 s: cancelled",
                                        "the dialog \"Select Folder\" was cancelled: the shell is shutting down"}));
}

TEST(DialogTest, SheetPagesAreCreatedWhenFirstShownAndHearOfEveryStepInOrder) {
    test::WindowFixture f;
    std::vector<std::string> log;
    int refuseLeaving = -1;  // the page that refuses PSN_KILLACTIVE once
    const std::map<uint32_t, std::string> names{
        {PSN_SETACTIVE, "set"}, {PSN_KILLACTIVE, "kill"}, {PSN_APPLY, "apply"}, {PSN_RESET, "reset"}};
    auto pageProc = [&](int index) -> DlgProc {
        return [&, index](WindowHandle, uint32_t m, WParam, LParam l) -> LResult {
            const std::string page = std::to_string(index) + ":";
            if (m == WM_INITDIALOG) {
                log.push_back(page + "init");
                EXPECT_EQ(reinterpret_cast<const PropSheetPage*>(l)->lParam, 100 + index);
            }
            if (m != WM_NOTIFY) return 0;
            const uint32_t code = reinterpret_cast<const NmHdr*>(l)->code;
            log.push_back(page + names.at(code));
            const bool refuse = code == PSN_KILLACTIVE && refuseLeaving == index;
            if (refuse) refuseLeaving = -1;
            return refuse;
        };
    };
    const DialogTemplate page = Small();
    PropSheetHeader header{PSH_PROPSHEETPAGE | PSH_USECALLBACK | PSH_MAXIMIZE, kNoWindow, kInstance, 134,
                           "GMRT Settings", 1, {}, nullptr};
    for (int i = 0; i < 3; ++i) header.pages.push_back({PSP_USETITLE, kInstance, &page, "Tab" + std::to_string(i), pageProc(i), 100 + i});
    header.callback = [&](WindowHandle sheet, uint32_t m, LParam) {
        log.push_back("cb:" + std::to_string(m));
        if (m == WM_INITDIALOG) SHInitDialog({SHIDIM_FLAGS, sheet, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_CANCELBUTTON});
        return 0;
    };
    Recorder inner;
    inner.handle = [](WindowHandle h, uint32_t m, WParam w, LParam) -> LResult {
        return m == WM_COMMAND && LoWord(w) == IDCANCEL && EndDialog(h, IDCANCEL);
    };
    auto done = [&](WindowHandle sheet) {
        Rect r;
        GetWindowRect(sheet, r);
        EXPECT_EQ(r, (Rect{0, 0, 480, 640}));
        // What the page shows of the sheet (tabs, Done) the browser's first start reads.
        // A dialog opened from a page: the sheet takes no input until it is closed.
        f.loop.PostTask([&] {
            EXPECT_FALSE(SelectSheetPage(sheet, 0));
            EXPECT_FALSE(PressDone(sheet));
            EXPECT_EQ(DescribeDialogs().size(), 2u);
            EXPECT_TRUE(PressCancel(NewestDialog()));
        });
        EXPECT_EQ(DialogBoxIndirectParam(kInstance, Small("Select Folder"), SheetPageWindow(sheet, 1), inner.Proc(), 0),
                  IDCANCEL);
        refuseLeaving = 1;
        EXPECT_FALSE(SelectSheetPage(sheet, 0));
        EXPECT_TRUE(SelectSheetPage(sheet, 0));
        EXPECT_TRUE(SelectSheetPage(sheet, 1));
        refuseLeaving = 1;
        EXPECT_FALSE(PressDone(sheet));
        EXPECT_TRUE(PressDone(sheet));
    };
    const std::tuple<std::function<void(WindowHandle)>, int, std::vector<std::string>> cases[] = {
        {done, 1, {"1:kill", "1:kill", "0:init", "0:set", "0:kill", "1:set", "1:kill", "1:kill", "0:apply", "1:apply"}},
        {[](WindowHandle sheet) { EXPECT_TRUE(PressCancel(sheet)); }, 0, {"1:reset"}},
    };
    for (const auto& [act, result, then] : cases) {
        log.clear();
        f.loop.PostTask([&] { act(NewestDialog()); });
        EXPECT_EQ(PropertySheet(header), result);
        std::vector<std::string> expected{"cb:2", "cb:1", "cb:272", "1:init", "1:set"};
        expected.insert(expected.end(), then.begin(), then.end());
        EXPECT_EQ(log, expected);
    }
    header.pages[2].proc = nullptr;
    EXPECT_EQ(PropertySheet(header), -1);
}

TEST(DialogTest, InputThatDoesNotFitIsRefusedAndSendsNothing) {
    test::WindowFixture f;
    Recorder r;
    const WindowHandle dialog = CreateDialogIndirectParam(kInstance, Small(), kNoWindow, r.Proc(), 0);
    const WindowHandle unshown = CreateDialogIndirectParam(kInstance, Small("Hidden", 0), kNoWindow, r.Proc(), 0);
    ComboAddString(GetDlgItem(dialog, 1008), "only");
    EnableWindow(GetDlgItem(dialog, 1004), false);
    ShowWindow(GetDlgItem(dialog, 1064), SW_HIDE);
    const std::pair<const char*, std::function<bool()>> cases[] = {
        {"disabled edit", [&] { return TypeText(dialog, 1004, "x"); }},
        {"hidden tree", [&] { return ExpandTreeItem(dialog, 1064, 1, true); }},
        {"static without SS_NOTIFY", [&] { return ClickControl(dialog, 1079); }},
        {"hover over it", [&] { return HoverControl(dialog, 1079, true); }},
        {"group box", [&] { return ClickControl(dialog, 1100); }},
        {"edit clicked", [&] { return ClickControl(dialog, 1005); }},
        {"item out of range", [&] { return SelectListItem(dialog, 1008, 1); }},
        {"text into a list", [&] { return TypeText(dialog, 1008, "x"); }},
        {"unknown scroll code", [&] { return ScrollTrackbar(dialog, 1050, 1, 9); }},
        {"unknown control", [&] { return ClickControl(dialog, 4242); }},
        {"not a sheet", [&] { return SelectSheetPage(dialog, 0); }},
        {"unknown dialog", [&] { return PressDone(dialog + 1000); }},
        {"hidden dialog", [&] { return PressCancel(unshown); }},
        {"a control is no dialog", [&] { return PressDone(GetDlgItem(dialog, 1004)); }},
    };
    for (const auto& [what, act] : cases) {
        r.seen.clear();
        EXPECT_FALSE(act()) << what;
        EXPECT_TRUE(r.Notes().empty()) << what;
    }
}

}  // namespace
}  // namespace kestrix::platform
