#include "platform/Window.h"

#include <gtest/gtest.h>

#include "platform/Gdi.h"
#include "WindowFixture.h"

namespace kestrix::platform {
namespace {

using test::Message;

TEST(WindowTest, DestroyReachesOwnedWindowsThenTheWindowThenItsChildrenDepthFirst) {
    test::WindowFixture f;
    const WindowHandle root = f.Make(), a = f.Make(root, 1), a1 = f.Make(a, 11), a2 = f.Make(a, 12), b = f.Make(root, 2);
    const WindowHandle popup = CreateWindowEx({"probe", "", WS_POPUP, root, 0, {}, 0});  // a dialog it opened
    EXPECT_EQ(GetParent(popup), root);
    EXPECT_EQ(MessageLoop::OwnerOf(a2), &f.loop);
    // a's WM_DESTROY destroys its sibling b before b's turn; a2 destroys its parent's parent
    // while it handles a message: nothing is reached twice or after it is gone.
    f.onMessage = [&](WindowHandle h, uint32_t msg, WParam, LParam) -> LResult {
        EXPECT_TRUE(msg != WM_DESTROY || h != a || DestroyWindow(b)) << "sibling";
        EXPECT_TRUE(msg != WM_DESTROY || h != a1 || IsWindow(root)) << "parents live until the end";
        if (msg == WM_USER) {
            DestroyWindow(GetParent(GetParent(h)));
            EXPECT_FALSE(SetWindowText(h, "x"));  // gone while its procedure still runs
        }
        return msg == WM_USER ? 5 : 0;
    };
    ASSERT_TRUE(PostMessage(a2, WM_USER + 1, 0, 0));
    EXPECT_EQ(SendMessage(a2, WM_USER, 0, 0), 5);
    std::vector<WindowHandle> order;
    for (const auto& m : f.Only(WM_DESTROY)) order.push_back(m.window);
    EXPECT_EQ(order, (std::vector<WindowHandle>{popup, root, a, b, a1, a2}));
    for (WindowHandle w : {root, a, a1, a2, b, popup}) {
        EXPECT_FALSE(IsWindow(w));
        EXPECT_FALSE(PostMessage(w, WM_USER, 0, 0));
        EXPECT_EQ(SendMessage(w, WM_USER, 0, 0), 0);
        EXPECT_FALSE(DestroyWindow(w));
        EXPECT_EQ(MessageLoop::OwnerOf(w), nullptr);
    }
    f.log.clear();
    f.loop.RunPending();
    EXPECT_TRUE(f.log.empty());  // the message posted before is dropped
    EXPECT_LT(f.Make(), 0x10000u);  // handles stay small numbers
}

TEST(WindowTest, SubclassHooksChainAndRestoreThePreviousProcedure) {
    test::WindowFixture f;
    const WindowHandle one = f.Make(), two = f.Make();
    const WndProcRef classProc = GetWindowProc(one);
    EXPECT_EQ(GetWindowProc(two), classProc);  // one procedure for the class: a hook can tell it is not there
    std::vector<uint32_t> hooked;
    WndProcRef previous;
    const WndProcRef hook = MakeWndProc([&](WindowHandle h, uint32_t msg, WParam w, LParam l) -> LResult {
        hooked.push_back(msg);
        if (msg == WM_DESTROY) SetWindowProc(h, previous);  // the hook leaves with its window
        return CallWindowProc(previous, h, msg, w, l) + 100;
    });
    previous = SetWindowProc(one, hook);
    EXPECT_EQ(previous, classProc);
    EXPECT_EQ(SetWindowProc(one, nullptr), nullptr);
    EXPECT_EQ(GetWindowProc(one), hook);
    f.onMessage = [](WindowHandle, uint32_t msg, WParam, LParam) -> LResult { return msg == WM_USER; };
    EXPECT_EQ(SendMessage(one, WM_USER, 0, 0), 101);
    EXPECT_EQ(SendMessage(two, WM_USER, 0, 0), 1);
    ASSERT_TRUE(SetWindowText(one, "seen"));  // through WM_SETTEXT, so the hook sees it
    EXPECT_EQ(GetWindowText(one), "seen");
    DestroyWindow(one);
    EXPECT_EQ(hooked, (std::vector<uint32_t>{WM_USER, WM_SETTEXT, WM_GETTEXT, WM_DESTROY}));
    EXPECT_EQ(f.Only(WM_DESTROY).size(), 1u);
}

TEST(WindowTest, TextIsUtf8AndCutsNeverSplitACharacter) {
    test::WindowFixture f;
    const WindowHandle dialog = f.Make(), label = f.Make(dialog, 5);
    const struct {
        std::string text;
        size_t max;
        std::string cut;
    } cases[] = {{"Zürich", 3, "Zür"}, {"Zürich", 2, "Zü"}, {"abc", 0, ""},
                 {"\xE2\x82\xAC 5", 1, "\xE2\x82\xAC"}, {"plain", SIZE_MAX, "plain"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(SetDlgItemText(dialog, 5, c.text));
        EXPECT_EQ(GetDlgItemText(dialog, 5, c.max), c.cut) << c.text;
    }
    ASSERT_TRUE(SetDlgItemInt(dialog, 5, -42));
    EXPECT_EQ(GetWindowText(label), "-42");
    EXPECT_FALSE(SetDlgItemText(dialog, 6, "x"));
}

TEST(WindowTest, AtomsAreCountedCaseInsensitiveNamesAndKeyProperties) {
    const Atom atom = GlobalAddAtom("_Kestrix_Test_{1}"), other = GlobalAddAtom("_Kestrix_Test_{2}");
    ASSERT_GE(atom, 0xC000);
    EXPECT_NE(other, atom);
    EXPECT_EQ(GlobalAddAtom("_KESTRIX_test_{1}"), atom);
    test::WindowFixture f;
    const WindowHandle a = f.Make(), b = f.Make();
    EXPECT_TRUE(SetProp(a, atom, 11) && SetProp(a, atom, 12) && SetProp(a, other, 13));
    EXPECT_EQ(GetProp(b, atom), 0u);
    EXPECT_EQ(RemoveProp(a, atom), 12u);
    EXPECT_EQ(RemoveProp(a, atom), 0u);
    EXPECT_EQ(GetProp(a, other), 13u);
    EXPECT_TRUE(GlobalDeleteAtom(atom));  // one reference left
    EXPECT_EQ(GlobalFindAtom("_kestrix_TEST_{1}"), atom);
    EXPECT_TRUE(GlobalDeleteAtom(atom));
    EXPECT_EQ(GlobalFindAtom("_Kestrix_Test_{1}"), 0);
    EXPECT_FALSE(GlobalDeleteAtom(atom));
    EXPECT_TRUE(GlobalDeleteAtom(other));
}

TEST(WindowTest, FocusAndCaptureTellTheWindowsThatLoseAndGainThem) {
    test::WindowFixture f;
    const WindowHandle a = f.Make(), b = f.Make();
    SetFocus(a);
    EXPECT_EQ(SetFocus(b), a);
    EXPECT_EQ(SetFocus(b), b);  // the same window: no messages
    EXPECT_FALSE(EnableWindow(b, false));  // a disabled window loses the focus and takes none
    EXPECT_EQ(SetFocus(b), kNoWindow);
    EXPECT_EQ(GetFocus(), kNoWindow);
    SetCapture(a);
    EXPECT_EQ(SetCapture(b), a);
    EXPECT_TRUE(ReleaseCapture());
    EXPECT_FALSE(ReleaseCapture());
    SetCapture(a);
    DestroyWindow(a);  // the capture goes with its holder, unannounced
    EXPECT_EQ(GetCapture(), kNoWindow);
    std::vector<Message> seen;
    for (const auto& m : f.log)
        if (m.msg == WM_SETFOCUS || m.msg == WM_KILLFOCUS || m.msg == WM_CAPTURECHANGED) seen.push_back(m);
    EXPECT_EQ(seen, (std::vector<Message>{{a, WM_SETFOCUS, 0, 0},
                                          {a, WM_KILLFOCUS, b, 0},
                                          {b, WM_SETFOCUS, a, 0},
                                          {b, WM_KILLFOCUS, 0, 0},
                                          {a, WM_CAPTURECHANGED, 0, static_cast<LParam>(b)},
                                          {b, WM_CAPTURECHANGED, 0, 0}}));
    SetCursor(LoadCursor(IDC_HAND));
    EXPECT_EQ(CursorId(GetCursor()), IDC_HAND);
}

// Invalidations before a paint merge into one WM_PAINT, which erases when any of them
// asked; the default erasing fills with the class background.
TEST(WindowTest, InvalidationsMergeIntoOnePaintThatErasesWithTheClassBackground) {
    test::WindowFixture f;
    const GdiHandle brush = GetSysColorBrush(COLOR_BTNFACE);
    ASSERT_TRUE(RegisterWindowClass({"filled", 0, [&](WindowHandle h, uint32_t m, WParam w, LParam l) -> LResult {
                                         f.log.push_back({h, m, w, l});
                                         if (m != WM_PAINT) return DefWindowProc(h, m, w, l);
                                         PaintStruct ps;
                                         BeginPaint(h, ps);
                                         return EndPaint(h, ps);
                                     }, brush}));
    const WindowHandle w = f.Make(kNoWindow, 0, "filled", 0, {0, 0, 40, 20});
    for (bool erase : {false, true, false}) InvalidateRect(w, nullptr, erase);
    f.loop.Invalidate(w);
    InvalidateWindow(w);
    f.loop.RunPending();
    EXPECT_EQ(f.Only(WM_PAINT).size(), 1u);
    EXPECT_NE(GetWindowPainting(w).find(ColorHex(GetSysColor(COLOR_BTNFACE))), std::string::npos);
    InvalidateRect(w, nullptr, false);
    ASSERT_TRUE(UpdateWindow(w));  // delivered now, not again by the loop
    f.loop.RunPending();
    EXPECT_EQ(f.Only(WM_PAINT).size(), 2u);
    EXPECT_EQ(GetWindowPainting(w).find(ColorHex(GetSysColor(COLOR_BTNFACE))), std::string::npos);
}

}  // namespace
}  // namespace kestrix::platform
