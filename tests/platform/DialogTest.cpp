#include "platform/Dialog.h"

#include <gtest/gtest.h>

#include <map>

#include "LogCapture.h"
#include "WindowFixture.h"
#include "platform/Shell.h"

namespace kestrix::platform {
namespace {

constexpr uintptr_t kInstance = 1;


DialogItemTemplate Item(const char* cls, int id, const char* text, uint32_t style, int16_t y) {
    return {cls, id, text, WS_CHILD | WS_VISIBLE | style, 4, y, 60, 10};
}

DialogTemplate Small(const char* caption = "Small") {
    DialogTemplate t;
    t.id = 900;
    t.caption = caption;
    t.style = WS_VISIBLE;
    t.cx = 156;
    t.cy = 120;
    t.items = {Item(kStaticClass, IDC_STATIC, "Login", 0, 4),
               Item(kEditClass, 1004, "anna", WS_TABSTOP | WS_BORDER, 16),
               Item(kEditClass, 1005, "secret", WS_TABSTOP | ES_PASSWORD, 28),
               Item(kStaticClass, 1079, "notice", 0, 40),
               Item(kStaticClass, 1077, "link", SS_NOTIFY, 52),
               Item(kButtonClass, 1009, "Tracker", BS_AUTOCHECKBOX | WS_TABSTOP, 64),
               Item(kComboBoxClass, 1008, "", CBS_DROPDOWNLIST, 76),
               Item(kTrackbarClass, 1050, "", 0, 88),
               Item(kButtonClass, 1100, "Mode", BS_GROUPBOX, 100),
               Item(kTreeViewClass, 1064, "", TVS_HASBUTTONS, 112)};
    return t;
}

// A dialog procedure that records what it gets and hands it to a test's handler.
struct Recorder {
    std::vector<test::Message> seen;
    DlgProc handle;
    DlgProc Proc() {
        return [this](WindowHandle h, uint32_t m, WParam w, LParam l) -> LResult {
            // A notification is kept by its code: its header lives only during the call.
            const auto code = static_cast<LParam>(m == WM_NOTIFY ? reinterpret_cast<const NmHdr*>(l)->code : 0);
            seen.push_back({h, m, w, m == WM_NOTIFY ? code : l});
            return handle ? handle(h, m, w, l) : 0;
        };
    }
    // The notifications and keys.
    std::vector<test::Message> Notes() const {
        std::vector<test::Message> out;
        for (const auto& m : seen) {
            if (m.msg == WM_COMMAND || m.msg == WM_HSCROLL || m.msg == WM_NOTIFY || m.msg == WM_KEYDOWN ||
                m.msg == WM_CHAR || m.msg == WM_KEYUP)
                out.push_back(m);
        }
        return out;
    }
};

// Message boxes that pump the loop until a test answers them, as the browser shell does.
struct PumpingShell : ShellHost {
    bool open = false;
    int answer = 0;
    std::vector<std::string> links;
    bool NotificationAdd(const Notification&) override { return true; }
    bool NotificationUpdate(uint32_t, const Notification&) override { return true; }
    bool NotificationRemove(const std::string&, uint32_t) override { return true; }
    int MessageBox(WindowHandle, const std::string&, const std::string&, uint32_t) override {
        open = true;
        answer = 0;
        MessageLoop::Current()->PumpUntil([this] { return answer != 0; });
        open = false;
        return answer;
    }
    bool OpenLink(const std::string& url) override {
        links.push_back(url);
        return true;
    }
};

WindowHandle OpenDialog() {
    const auto dialogs = DescribeDialogs();
    return dialogs.empty() ? kNoWindow : dialogs.back().id;
}

TEST(DialogTest, DescribeDialogsShowsEachControlAsThePageWillDrawIt) {
    test::WindowFixture f;
    Recorder r;
    GdiHandle underlined = 0;
    WParam firstTabStop = 0;
    r.handle = [&](WindowHandle h, uint32_t m, WParam w, LParam l) -> LResult {
        if (m == WM_INITDIALOG) {
            firstTabStop = w;
            LogFont font;
            GetFontInfo(static_cast<GdiHandle>(SendMessage(GetDlgItem(h, 1077), WM_GETFONT, 0, 0)), font);
            font.underline = true;
            underlined = CreateFontIndirect(font);
            SendMessage(GetDlgItem(h, 1077), WM_SETFONT, underlined, 0);
            ComboAddString(GetDlgItem(h, 1008), "Battery");
            ComboAddString(GetDlgItem(h, 1008), "Power");
            ComboSetCurSel(GetDlgItem(h, 1008), 1);
            TrackbarSetPos(GetDlgItem(h, 1050), 37, false);
            const TreeItem root = TreeInsertItem(GetDlgItem(h, 1064), {TVI_ROOT, TVI_LAST, "\\", true, 0});
            TreeInsertItem(GetDlgItem(h, 1064), {root, TVI_SORT, "Tracks", true, 0});
            TreeExpand(GetDlgItem(h, 1064), root, TVE_EXPAND);
            return 0;
        }
        if (m == WM_CTLCOLORSTATIC && GetDlgCtrlID(static_cast<WindowHandle>(l)) == 1079) {
            SetTextColor(static_cast<DcHandle>(w), Rgb(255, 0, 0));
        }
        return 0;
    };
    const WindowHandle older = CreateDialogIndirectParam(kInstance, Small("Older"), kNoWindow, r.Proc(), 0);
    DialogTemplate hidden = Small("Hidden");
    hidden.style = 0;
    ASSERT_NE(CreateDialogIndirectParam(kInstance, hidden, kNoWindow, r.Proc(), 0), kNoWindow);
    const WindowHandle dialog = CreateDialogIndirectParam(kInstance, Small(), kNoWindow, r.Proc(), 0);
    ASSERT_NE(dialog, kNoWindow);
    EXPECT_EQ(firstTabStop, static_cast<WParam>(GetDlgItem(dialog, 1004)));
    // The link shows the hand cursor; its hook answers WM_SETCURSOR.
    const WindowHandle link = GetDlgItem(dialog, 1077);
    const WndProcRef previous = GetWindowProc(link);
    SetWindowProc(link, MakeWndProc([previous](WindowHandle h, uint32_t m, WParam w, LParam l) -> LResult {
        if (m != WM_SETCURSOR) return CallWindowProc(previous, h, m, w, l);
        SetCursor(LoadCursor(IDC_HAND));
        return 1;
    }));
    EnableWindow(GetDlgItem(dialog, 1004), false);
    ShowWindow(GetDlgItem(dialog, 1050), SW_HIDE);

    const auto dialogs = DescribeDialogs();
    ASSERT_EQ(dialogs.size(), 2u);  // the hidden one is not shown
    EXPECT_EQ(dialogs[0].id, older);
    const DialogInfo& d = dialogs[1];
    EXPECT_EQ(d.caption, "Small");
    EXPECT_FALSE(d.modal);
    EXPECT_FALSE(d.sheet);
    EXPECT_EQ(d.templateId, 900);
    ASSERT_EQ(d.controls.size(), 10u);
    const auto& c = d.controls;
    const struct {
        int id;
        ControlType type;
        std::string text;
    } expected[] = {{IDC_STATIC, ControlType::Static, "Login"}, {1004, ControlType::Edit, "anna"},
                    {1005, ControlType::Password, ""},         {1079, ControlType::Static, "notice"},
                    {1077, ControlType::Static, "link"},       {1009, ControlType::Check, "Tracker"},
                    {1008, ControlType::List, "Power"},        {1050, ControlType::Trackbar, ""},
                    {1100, ControlType::Group, "Mode"},  {1064, ControlType::Tree, ""}};
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(c[i].id, expected[i].id) << i;
        EXPECT_EQ(c[i].type, expected[i].type) << i;
        EXPECT_EQ(c[i].text, expected[i].text) << i;
    }
    EXPECT_EQ(c[1].rect, (Rect{8, 32, 128, 52}));  // 2 pixels a dialog unit
    EXPECT_FALSE(c[1].enabled);
    EXPECT_EQ(c[2].length, 6u);
    EXPECT_EQ(c[3].color, Rgb(255, 0, 0));
    EXPECT_EQ(c[4].color, Rgb(0, 0, 0));
    EXPECT_FALSE(c[3].underline);
    EXPECT_TRUE(c[4].underline);
    EXPECT_TRUE(c[4].notify);
    EXPECT_EQ(c[4].cursor, IDC_HAND);
    EXPECT_EQ(c[3].cursor, 0);
    EXPECT_EQ(c[6].items, (std::vector<std::string>{"Battery", "Power"}));
    EXPECT_EQ(c[6].selected, 1);
    EXPECT_EQ(c[7].pos, 37);
    EXPECT_EQ(c[7].max, 100);
    EXPECT_FALSE(c[7].visible);
    ASSERT_EQ(c[9].tree.size(), 1u);
    EXPECT_TRUE(c[9].tree[0].expanded);
    ASSERT_EQ(c[9].tree[0].children.size(), 1u);
    EXPECT_EQ(c[9].tree[0].children[0].text, "Tracks");
    EXPECT_TRUE(c[9].tree[0].children[0].hasChildren);
    EXPECT_EQ(CursorId(GetCursor()), 0);  // asking for the cursor left the current one
    DeleteObject(underlined);
}

TEST(DialogTest, AModalDialogEndedDuringANestedMessageBoxReturnsOnceTheBoxIsAnswered) {
    test::WindowFixture f;
    PumpingShell shell;
    SetShellHost(&shell);
    Recorder r;
    int boxAnswer = 0;
    bool aliveAfterBox = false;
    size_t shownWhileBoxOpen = 99;
    r.handle = [&](WindowHandle h, uint32_t m, WParam, LParam) -> LResult {
        if (m == WM_INITDIALOG) PostMessage(h, WM_USER, 0, 0);
        if (m != WM_USER) return 0;
        // What the person does while the box is up: something ends the dialog, then the box is answered.
        f.loop.PostTask([&, h] {
            EXPECT_TRUE(EndDialog(h, 7));
            shownWhileBoxOpen = DescribeDialogs().size();
            shell.answer = IDOK;
        });
        boxAnswer = MessageBox(h, "Login should not be empty", "Attention", MB_OK);
        aliveAfterBox = IsWindow(h);
        return 0;
    };
    EXPECT_EQ(DialogBoxIndirectParam(kInstance, Small(), kNoWindow, r.Proc(), 0), 7);
    EXPECT_EQ(boxAnswer, IDOK);
    EXPECT_TRUE(aliveAfterBox);  // the window goes only when its own pump returns
    EXPECT_EQ(shownWhileBoxOpen, 0u);
    EXPECT_TRUE(DescribeDialogs().empty());
    EXPECT_EQ(r.seen.back().msg, WM_DESTROY);
    SetShellHost(nullptr);
    EXPECT_FALSE(EndDialog(f.Make(), 1));  // not a dialog
    EXPECT_EQ(DialogBoxIndirectParam(0, Small(), kNoWindow, r.Proc(), 0), -1);
    DialogTemplate broken = Small();
    broken.items.push_back(Item("NoSuchClass", 5, "", 0, 0));
    EXPECT_EQ(DialogBoxIndirectParam(kInstance, broken, kNoWindow, r.Proc(), 0), -1);
}

TEST(DialogTest, NobodyAnsweringCancelsAfterTheTimeoutSinceTheLastInputOrAtShutdown) {
    test::WindowFixture f;
    test::LogCapture logs;
    Recorder r;
    int cancels = 0;
    r.handle = [&](WindowHandle, uint32_t m, WParam w, LParam) -> LResult {
        if (m == WM_COMMAND && LoWord(w) == IDCANCEL) ++cancels;  // ignored: the dialog ends all the same
        return 0;
    };
    // One step a timer tick: typing at 60 s, quiet until 179 s (119 s after it), then 180 s.
    int step = 0;
    bool openAfter119 = false;
    const uint32_t timer = f.loop.SetTimer(1, [&](uint32_t) {
        const WindowHandle dialog = OpenDialog();
        if (step == 0) {
            f.clock.Advance(60'000);
            EXPECT_TRUE(TypeText(dialog, 1005, "x"));
        } else if (step == 1) {
            f.clock.Advance(119'000);
        } else if (step == 2) {
            openAfter119 = dialog != kNoWindow && cancels == 0;
            f.clock.Advance(1'000);
        }
        ++step;
    });
    f.loop.PostTask([&] { f.clock.Advance(1); });
    SetUnattendedTimeout(120'000);
    EXPECT_EQ(DialogBoxIndirectParam(kInstance, Small("GMRT Settings"), kNoWindow, r.Proc(), 0), IDCANCEL);
    f.loop.KillTimer(timer);
    EXPECT_TRUE(openAfter119);
    EXPECT_EQ(step, 3);
    EXPECT_EQ(cancels, 1);

    f.loop.PostTask([&] { f.loop.Quit(); });
    EXPECT_EQ(DialogBoxIndirectParam(kInstance, Small("Select Folder"), kNoWindow, r.Proc(), 0), IDCANCEL);
    EXPECT_EQ(cancels, 2);
    std::vector<std::string> warnings;
    for (const auto& [level, text] : logs.lines)
        if (level == LogLevel::Warning) warnings.push_back(text);
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            "nobody answered the dialog \"GMRT Settings\" within 120 s: cancelled",
                            "the dialog \"Select Folder\" was cancelled: the shell is shutting down"}));
}

TEST(DialogTest, SheetPagesAreCreatedWhenFirstShownAndHearOfEveryStepInOrder) {
    test::WindowFixture f;
    std::vector<std::string> log;
    int refuseLeaving = -1;  // the page that refuses PSN_KILLACTIVE once
    const std::map<uint32_t, std::string> names{{PSN_SETACTIVE, "set"}, {PSN_KILLACTIVE, "kill"},
                                                {PSN_APPLY, "apply"},    {PSN_RESET, "reset"}};
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
            if (code == PSN_KILLACTIVE && refuseLeaving == index) {
                refuseLeaving = -1;
                return 1;
            }
            return 0;
        };
    };
    const DialogTemplate page = Small();
    PropSheetHeader header;
    header.flags = PSH_PROPSHEETPAGE | PSH_USEICONID | PSH_NOAPPLYNOW | PSH_USECALLBACK | PSH_MAXIMIZE;
    header.instance = kInstance;
    header.caption = "GMRT Settings";
    header.startPage = 1;
    for (int i = 0; i < 3; ++i) header.pages.push_back({PSP_USETITLE, kInstance, &page, "Tab" + std::to_string(i), pageProc(i), 100 + i});
    header.callback = [&](WindowHandle sheet, uint32_t m, LParam) {
        log.push_back("cb:" + std::to_string(m));
        if (m == WM_INITDIALOG) SHInitDialog({SHIDIM_FLAGS, sheet, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_CANCELBUTTON});
        return 0;
    };
    Recorder inner;
    inner.handle = [](WindowHandle h, uint32_t m, WParam w, LParam) -> LResult {
        if (m == WM_COMMAND && LoWord(w) == IDCANCEL) EndDialog(h, IDCANCEL);
        return 0;
    };
    const std::vector<std::string> opening{"cb:2", "cb:1", "cb:272", "1:init", "1:set"};
    const struct {
        const char* name;
        std::function<void(WindowHandle)> act;
        int result;
        std::vector<std::string> then;
    } cases[] = {
        {"done",
         [&](WindowHandle sheet) {
             Rect r;
             EXPECT_TRUE(GetWindowRect(sheet, r));
             EXPECT_EQ(r, (Rect{0, 0, 480, 640}));
             const auto d = DescribeDialogs();
             ASSERT_EQ(d.size(), 1u);
             EXPECT_TRUE(d[0].sheet && d[0].modal && d[0].doneButton && d[0].cancelButton);
             EXPECT_EQ(d[0].pages, (std::vector<std::string>{"Tab0", "Tab1", "Tab2"}));
             EXPECT_EQ(d[0].page, 1);
             EXPECT_EQ(d[0].controls.size(), page.items.size());
             EXPECT_EQ(DialogShellFlags(SheetPageWindow(sheet, 1)), 0x85u);
             // A dialog opened from a page: the sheet takes no input until it is closed.
             f.loop.PostTask([&] {
                 EXPECT_FALSE(SelectSheetPage(sheet, 0));
                 EXPECT_FALSE(PressDone(sheet));
                 EXPECT_EQ(DescribeDialogs().size(), 2u);
                 EXPECT_TRUE(PressCancel(OpenDialog()));
             });
             EXPECT_EQ(DialogBoxIndirectParam(kInstance, Small("Select Folder"), SheetPageWindow(sheet, 1), inner.Proc(), 0),
                       IDCANCEL);
             EXPECT_TRUE(IsWindowEnabled(sheet));
             refuseLeaving = 1;
             EXPECT_FALSE(SelectSheetPage(sheet, 0));
             EXPECT_TRUE(SelectSheetPage(sheet, 0));
             EXPECT_TRUE(SelectSheetPage(sheet, 1));
             refuseLeaving = 1;
             EXPECT_FALSE(PressDone(sheet));
             EXPECT_TRUE(PressDone(sheet));
         },
         1,
         {"1:kill", "1:kill", "0:init", "0:set", "0:kill", "1:set", "1:kill", "1:kill", "0:apply", "1:apply"}},
        {"cancel", [&](WindowHandle sheet) { EXPECT_TRUE(PressCancel(sheet)); }, 0, {"1:reset"}},
    };
    for (const auto& c : cases) {
        log.clear();
        f.loop.PostTask([&] { c.act(OpenDialog()); });
        EXPECT_EQ(PropertySheet(header), c.result) << c.name;
        std::vector<std::string> expected = opening;
        expected.insert(expected.end(), c.then.begin(), c.then.end());
        EXPECT_EQ(log, expected) << c.name;
    }
    header.pages[2].proc = nullptr;
    EXPECT_EQ(PropertySheet(header), -1);
}

TEST(DialogTest, APersonsInputBecomesTheMessagesTheDialogExpects) {
    test::WindowFixture f;
    Recorder r;
    const WindowHandle dialog = CreateDialogIndirectParam(kInstance, Small(), kNoWindow, r.Proc(), 0);
    const WindowHandle edit = GetDlgItem(dialog, 1004), check = GetDlgItem(dialog, 1009),
                       link = GetDlgItem(dialog, 1077), list = GetDlgItem(dialog, 1008),
                       bar = GetDlgItem(dialog, 1050), tree = GetDlgItem(dialog, 1064);
    EditLimitText(edit, 5);
    ComboAddString(list, "Battery");
    ComboAddString(list, "Power");
    const TreeItem root = TreeInsertItem(tree, {TVI_ROOT, TVI_LAST, "\\", true, 0});
    std::vector<test::Message> atLink;
    const WndProcRef previous = GetWindowProc(link);
    SetWindowProc(link, MakeWndProc([&](WindowHandle h, uint32_t m, WParam w, LParam l) {
        if (m != WM_GETFONT && m != WM_SETFONT) atLink.push_back({h, m, w, l});
        return CallWindowProc(previous, h, m, w, l);
    }));
    const auto D = static_cast<LParam>(0);
    const struct {
        const char* what;
        std::function<bool()> act;
        std::vector<test::Message> toDialog;
    } cases[] = {
        {"check", [&] { return ClickControl(dialog, 1009); }, {{dialog, WM_COMMAND, MakeWParam(1009, BN_CLICKED), static_cast<LParam>(check)}}},
        {"link", [&] { return ClickControl(dialog, 1077); }, {{dialog, WM_COMMAND, MakeWParam(1077, STN_CLICKED), static_cast<LParam>(link)}}},
        {"list", [&] { return SelectListItem(dialog, 1008, 1); }, {{dialog, WM_COMMAND, MakeWParam(1008, CBN_SELCHANGE), static_cast<LParam>(list)}}},
        {"text", [&] { return TypeText(dialog, 1004, "annabel"); }, {{dialog, WM_COMMAND, MakeWParam(1004, EN_CHANGE), static_cast<LParam>(edit)}}},
        {"scroll", [&] { return ScrollTrackbar(dialog, 1050, 150, TB_THUMBTRACK); }, {{dialog, WM_HSCROLL, MakeWParam(TB_THUMBTRACK, 100), static_cast<LParam>(bar)}}},
        {"expand", [&] { return ExpandTreeItem(dialog, 1064, root, true); }, {{dialog, WM_NOTIFY, 1064, static_cast<LParam>(TVN_ITEMEXPANDING)}, {dialog, WM_NOTIFY, 1064, static_cast<LParam>(TVN_ITEMEXPANDED)}}},
        {"select", [&] { return SelectTreeItem(dialog, 1064, root); }, {{dialog, WM_NOTIFY, 1064, static_cast<LParam>(TVN_SELCHANGING)}, {dialog, WM_NOTIFY, 1064, static_cast<LParam>(TVN_SELCHANGED)}}},
        {"done", [&] { return PressDone(dialog); }, {{dialog, WM_COMMAND, MakeWParam(IDOK, BN_CLICKED), D}}},
        {"cancel", [&] { return PressCancel(dialog); }, {{dialog, WM_COMMAND, MakeWParam(IDCANCEL, BN_CLICKED), D}}},
        {"escape", [&] { SetFocus(kNoWindow); return PressKey(dialog, VK_ESCAPE); }, {{dialog, WM_KEYDOWN, 27, 1}, {dialog, WM_CHAR, 27, 1}, {dialog, WM_KEYUP, 27, static_cast<LParam>(0xC0000001u)}}},
        {"key at focus", [&] { SetFocus(edit); return PressKey(dialog, 'A'); }, {}},
        {"hover", [&] { return HoverControl(dialog, 1077, true); }, {}},
    };
    for (const auto& c : cases) {
        r.seen.clear();
        EXPECT_TRUE(c.act()) << c.what;
        EXPECT_EQ(r.Notes(), c.toDialog) << c.what;
    }
    EXPECT_TRUE(IsDlgButtonChecked(dialog, 1009));
    EXPECT_EQ(GetWindowText(edit), "annab");  // cut at the limit a person can type
    EXPECT_EQ(TrackbarGetPos(bar), 100);
    EXPECT_EQ(ComboGetCurSel(list), 1);
    EXPECT_EQ(TreeGetNextItem(tree, 0, TVGN_CARET), root);
    SetCapture(link);
    atLink.clear();
    EXPECT_TRUE(HoverControl(dialog, 1077, false));  // just past its corner, to the capture holder
    EXPECT_EQ(atLink, (std::vector<test::Message>{{link, WM_MOUSEMOVE, 0, MakeLParam(120, 20)}}));
    r.seen.clear();
    atLink.clear();
    ClickControl(dialog, 1077);
    EXPECT_EQ(atLink, (std::vector<test::Message>{{link, WM_LBUTTONDOWN, 1, MakeLParam(60, 10)},
                                                  {link, WM_LBUTTONUP, 0, MakeLParam(60, 10)}}));
}

TEST(DialogTest, InputThatDoesNotFitIsRefusedAndSendsNothing) {
    test::WindowFixture f;
    Recorder r;
    const WindowHandle dialog = CreateDialogIndirectParam(kInstance, Small(), kNoWindow, r.Proc(), 0);
    DialogTemplate hidden = Small("Hidden");
    hidden.style = 0;
    const WindowHandle unshown = CreateDialogIndirectParam(kInstance, hidden, kNoWindow, r.Proc(), 0);
    ComboAddString(GetDlgItem(dialog, 1008), "only");
    EnableWindow(GetDlgItem(dialog, 1004), false);
    ShowWindow(GetDlgItem(dialog, 1064), SW_HIDE);
    const struct {
        const char* what;
        std::function<bool()> act;
    } cases[] = {
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
    for (const auto& c : cases) {
        r.seen.clear();
        EXPECT_FALSE(c.act()) << c.what;
        EXPECT_TRUE(r.Notes().empty()) << c.what;
    }
}

}  // namespace
}  // namespace kestrix::platform
