#include "platform/Window.h"

#include <gtest/gtest.h>

#include "platform/linux/WindowInternal.h"
#include "WindowFixture.h"

namespace kestrix::platform {
namespace {

using test::Message;

TEST(WindowTest, DestroyReachesTheWindowThenItsChildrenDepthFirstAndDropsLaterMessages) {
    test::WindowFixture f;
    const WindowHandle root = f.Make();
    const WindowHandle a = f.Make(root, 1), a1 = f.Make(a, 11), a2 = f.Make(a, 12), b = f.Make(root, 2);
    const WindowHandle owned = f.Make();  // a dialog the root opened: it goes first
    CreateWindowParams p{"probe", "", WS_POPUP, root, 0, {}, 0};
    const WindowHandle popup = CreateWindowEx(p);
    ASSERT_NE(popup, kNoWindow);
    EXPECT_EQ(GetParent(popup), root);
    // a's WM_DESTROY destroys its sibling b before b's turn; b still gets one WM_DESTROY.
    f.onMessage = [&](WindowHandle h, uint32_t msg, WParam, LParam) -> LResult {
        if (msg == WM_DESTROY && h == a) {
            EXPECT_TRUE(DestroyWindow(b));
        }
        if (msg == WM_DESTROY && h == a1) {
            EXPECT_TRUE(IsWindow(root));  // parents live until the end
        }
        return 0;
    };
    ASSERT_TRUE(PostMessage(a2, WM_USER, 0, 0));
    ASSERT_TRUE(DestroyWindow(root));
    std::vector<WindowHandle> order;
    for (const auto& m : f.Only(WM_DESTROY)) order.push_back(m.window);
    EXPECT_EQ(order, (std::vector<WindowHandle>{popup, root, a, b, a1, a2}));
    for (WindowHandle w : {root, a, a1, a2, b, popup}) {
        EXPECT_FALSE(IsWindow(w));
        EXPECT_FALSE(PostMessage(w, WM_USER, 0, 0));
        EXPECT_EQ(SendMessage(w, WM_USER, 0, 0), 0);
        EXPECT_FALSE(DestroyWindow(w));
    }
    f.log.clear();
    f.loop.RunPending();
    EXPECT_TRUE(f.log.empty());  // the message posted before is dropped
    EXPECT_TRUE(IsWindow(owned));
    EXPECT_LT(owned, 0x10000u);  // handles stay small numbers
}

TEST(WindowTest, AProcedureMayDestroyItsOwnWindowOrItsParentWhileHandlingAMessage) {
    test::WindowFixture f;
    const WindowHandle parent = f.Make();
    const WindowHandle child = f.Make(parent, 7);
    int after = 0;
    f.onMessage = [&](WindowHandle h, uint32_t msg, WParam w, LParam) -> LResult {
        if (msg != WM_USER) return 0;
        DestroyWindow(w == 1 ? h : GetParent(h));
        // The window is gone while its procedure still runs; calls on it fail quietly.
        EXPECT_FALSE(SetWindowText(h, "x"));
        EXPECT_EQ(GetDlgCtrlID(h), 0);
        ++after;
        return 5;
    };
    const WindowHandle lone = f.Make();
    EXPECT_EQ(SendMessage(lone, WM_USER, 1, 0), 5);
    EXPECT_EQ(SendMessage(child, WM_USER, 2, 0), 5);
    EXPECT_EQ(after, 2);
    EXPECT_FALSE(IsWindow(lone));
    EXPECT_FALSE(IsWindow(parent));
    EXPECT_FALSE(IsWindow(child));
}

TEST(WindowTest, SubclassHooksChainAndRestoreThePreviousProcedure) {
    test::WindowFixture f;
    const WindowHandle one = f.Make(), two = f.Make();
    const WndProcRef classProc = GetWindowProc(one);
    ASSERT_NE(classProc, nullptr);
    EXPECT_EQ(GetWindowProc(two), classProc);  // one procedure for the class
    std::vector<std::string> calls;
    WndProcRef previous;
    const WndProcRef hook = MakeWndProc([&](WindowHandle h, uint32_t msg, WParam w, LParam l) -> LResult {
        calls.push_back("hook " + std::to_string(msg));
        if (msg == WM_DESTROY) SetWindowProc(h, previous);  // the hook leaves with its window
        return CallWindowProc(previous, h, msg, w, l) + 100;
    });
    previous = SetWindowProc(one, hook);
    EXPECT_EQ(previous, classProc);
    EXPECT_EQ(GetWindowProc(one), hook);
    EXPECT_EQ(SetWindowProc(one, nullptr), nullptr);
    EXPECT_EQ(GetWindowProc(one), hook);
    EXPECT_EQ(SetWindowProc(kNoWindow, hook), nullptr);

    f.onMessage = [](WindowHandle, uint32_t msg, WParam, LParam) -> LResult { return msg == WM_USER ? 1 : 0; };
    EXPECT_EQ(SendMessage(one, WM_USER, 0, 0), 101);
    EXPECT_EQ(SendMessage(two, WM_USER, 0, 0), 1);  // the other window of the class is not hooked
    ASSERT_TRUE(SetWindowText(one, "seen"));
    EXPECT_EQ(calls, (std::vector<std::string>{"hook 1024", "hook 12"}));
    EXPECT_EQ(GetWindowText(one), "seen");
    DestroyWindow(one);
    EXPECT_EQ(calls.back(), "hook 2");
    EXPECT_EQ(f.Only(WM_DESTROY).size(), 1u);  // passed on to the class procedure once
}

TEST(WindowTest, TextIsUtf8AndCutsNeverSplitACharacter) {
    test::WindowFixture f;
    const WindowHandle dialog = f.Make();
    const WindowHandle label = f.Make(dialog, 5);
    const struct {
        std::string text;
        size_t max;
        std::string cut;
        size_t length;
    } cases[] = {
        {"Zürich", 3, "Zür", 6}, {"Zürich", 2, "Zü", 6}, {"abc", 0, "", 3}, {"", 4, "", 0},
        {"\xE2\x82\xAC 5", 1, "\xE2\x82\xAC", 3}, {"plain", SIZE_MAX, "plain", 5},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SetDlgItemText(dialog, 5, c.text));
        EXPECT_EQ(GetDlgItemText(dialog, 5, c.max), c.cut) << c.text;
        EXPECT_EQ(GetWindowTextLength(label), c.length) << c.text;
    }
    ASSERT_TRUE(SetDlgItemInt(dialog, 5, -42));
    EXPECT_EQ(GetWindowText(label), "-42");
    EXPECT_EQ(GetDlgItem(dialog, 6), kNoWindow);
    EXPECT_FALSE(SetDlgItemText(dialog, 6, "x"));
}

TEST(WindowTest, AtomsAreCountedCaseInsensitiveNamesAndKeyProperties) {
    const Atom atom = GlobalAddAtom("_Kestrix_Test_{1}");
    ASSERT_GE(atom, 0xC000);
    EXPECT_EQ(GlobalAddAtom("_KESTRIX_test_{1}"), atom);
    EXPECT_EQ(GlobalFindAtom("_kestrix_TEST_{1}"), atom);
    EXPECT_EQ(GlobalGetAtomName(atom), "_Kestrix_Test_{1}");
    const Atom other = GlobalAddAtom("_Kestrix_Test_{2}");
    EXPECT_NE(other, atom);
    EXPECT_EQ(GlobalAddAtom(""), 0);
    EXPECT_EQ(GlobalAddAtom(std::string(256, 'a')), 0);

    test::WindowFixture f;
    const WindowHandle a = f.Make(), b = f.Make();
    EXPECT_TRUE(SetProp(a, atom, 11));
    EXPECT_TRUE(SetProp(a, atom, 12));  // replaces
    EXPECT_TRUE(SetProp(a, other, 13));
    EXPECT_EQ(GetProp(a, atom), 12u);
    EXPECT_EQ(GetProp(b, atom), 0u);
    EXPECT_EQ(RemoveProp(a, atom), 12u);
    EXPECT_EQ(RemoveProp(a, atom), 0u);
    EXPECT_EQ(GetProp(a, other), 13u);
    EXPECT_FALSE(SetProp(kNoWindow, atom, 1));

    EXPECT_TRUE(GlobalDeleteAtom(atom));  // one reference is left
    EXPECT_EQ(GlobalFindAtom("_Kestrix_Test_{1}"), atom);
    EXPECT_TRUE(GlobalDeleteAtom(atom));
    EXPECT_EQ(GlobalFindAtom("_Kestrix_Test_{1}"), 0);
    EXPECT_EQ(GlobalGetAtomName(atom), "");
    EXPECT_FALSE(GlobalDeleteAtom(atom));
    EXPECT_TRUE(GlobalDeleteAtom(other));
}

TEST(WindowTest, FocusAndCaptureTellTheWindowsThatLoseAndGainThem) {
    test::WindowFixture f;
    const WindowHandle a = f.Make(), b = f.Make();
    EXPECT_EQ(SetFocus(a), kNoWindow);
    EXPECT_EQ(SetFocus(b), a);
    EXPECT_EQ(SetFocus(b), b);  // no messages for the same window
    EXPECT_FALSE(EnableWindow(b, false));
    EXPECT_EQ(GetFocus(), kNoWindow);
    EXPECT_EQ(SetFocus(b), kNoWindow);  // a disabled window takes no focus
    EXPECT_EQ(GetFocus(), kNoWindow);
    EXPECT_TRUE(EnableWindow(b, true));

    EXPECT_EQ(SetCapture(a), kNoWindow);
    EXPECT_EQ(SetCapture(b), a);
    EXPECT_TRUE(ReleaseCapture());
    EXPECT_FALSE(ReleaseCapture());
    SetCapture(a);
    DestroyWindow(a);  // the capture goes with its holder, unannounced
    EXPECT_EQ(GetCapture(), kNoWindow);

    std::vector<Message> seen;
    for (const auto& m : f.log) {
        if (m.msg == WM_SETFOCUS || m.msg == WM_KILLFOCUS || m.msg == WM_CAPTURECHANGED || m.msg == WM_ENABLE)
            seen.push_back(m);
    }
    const auto A = static_cast<WParam>(a), B = static_cast<WParam>(b);
    EXPECT_EQ(seen, (std::vector<Message>{{a, WM_SETFOCUS, 0, 0},
                                          {a, WM_KILLFOCUS, B, 0},
                                          {b, WM_SETFOCUS, A, 0},
                                          {b, WM_KILLFOCUS, 0, 0},
                                          {b, WM_ENABLE, 0, 0},
                                          {b, WM_ENABLE, 1, 0},
                                          {a, WM_CAPTURECHANGED, 0, static_cast<LParam>(b)},
                                          {b, WM_CAPTURECHANGED, 0, 0}}));
    EXPECT_EQ(CursorId(SetCursor(LoadCursor(IDC_HAND))), 0);
    EXPECT_EQ(CursorId(GetCursor()), IDC_HAND);
    EXPECT_EQ(LoadCursor(12345), 0u);
}

TEST(WindowTest, RectanglesConvertBetweenClientAndScreenCoordinates) {
    test::WindowFixture f;
    const WindowHandle top = f.Make(kNoWindow, 0, "probe", 0, {10, 20, 110, 220});
    const WindowHandle child = f.Make(top, 1, "probe", 0, {5, 6, 35, 46});
    Rect r;
    ASSERT_TRUE(GetWindowRect(child, r));
    EXPECT_EQ(r, (Rect{15, 26, 45, 66}));
    ASSERT_TRUE(GetClientRect(child, r));
    EXPECT_EQ(r, (Rect{0, 0, 30, 40}));
    Point p{1, 2};
    ASSERT_TRUE(ClientToScreen(child, p));
    EXPECT_EQ(p, (Point{16, 28}));
    ASSERT_TRUE(ScreenToClient(top, p));
    EXPECT_EQ(p, (Point{6, 8}));
    r = {0, 0, 30, 40};
    ASSERT_TRUE(MapWindowRect(child, top, r));
    EXPECT_EQ(r, (Rect{5, 6, 35, 46}));

    ASSERT_TRUE(MoveWindow(child, 0, 0, 30, 40, false));  // moved, same size: no WM_SIZE
    ASSERT_TRUE(MoveWindow(child, 0, 0, 50, 60, false));
    const auto sizes = f.Only(WM_SIZE);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].l, MakeLParam(50, 60));
    EXPECT_FALSE(GetWindowRect(kNoWindow, r));
}

TEST(WindowTest, StateChangesReachTheListenerOnlyWhenSomethingChanged) {
    test::WindowFixture f;
    int changes = 0;
    SetWindowChangeListener([&] { ++changes; });
    const WindowHandle parent = f.Make();
    const WindowHandle child = f.Make(parent, 1);
    const struct {
        std::function<void()> act;
        int notified;
    } steps[] = {
        {[&] { SetWindowText(child, "a"); }, 1}, {[&] { SetWindowText(child, "a"); }, 0},
        {[&] { EXPECT_TRUE(ShowWindow(child, SW_HIDE)); }, 1}, {[&] { EXPECT_FALSE(ShowWindow(child, SW_HIDE)); }, 0},
        {[&] { EnableWindow(child, false); }, 1}, {[&] { SetWindowStyle(child, GetWindowStyle(child)); }, 0},
        {[&] { SendMessage(child, WM_SETFONT, 3, 0); }, 1}, {[&] { DestroyWindow(child); }, 1},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        changes = 0;
        steps[i].act();
        EXPECT_EQ(changes, steps[i].notified) << "step " << i;
    }
    SetWindowChangeListener(nullptr);
    changes = 0;
    ShowWindow(parent, SW_HIDE);
    EXPECT_EQ(changes, 0);
    const WindowHandle shown = f.Make(parent, 2);
    EXPECT_FALSE(IsWindowVisible(shown));  // its parent is hidden
}

TEST(WindowTest, InvalidationsMergeIntoOnePaintThatRemembersErasing) {
    test::WindowFixture f;
    const WindowHandle w = f.Make();
    std::vector<bool> erase;
    f.onMessage = [&](WindowHandle h, uint32_t msg, WParam, LParam) -> LResult {
        if (msg == WM_PAINT) erase.push_back(internal::TakeEraseRequest(h));
        return msg == WM_PAINT;
    };
    InvalidateRect(w, nullptr, false);
    InvalidateRect(w, nullptr, true);
    InvalidateRect(w, nullptr, false);
    f.loop.RunPending();
    InvalidateRect(w, nullptr, false);
    ASSERT_TRUE(UpdateWindow(w));  // delivered now, not again by the loop
    f.loop.RunPending();
    EXPECT_EQ(erase, (std::vector<bool>{true, false}));
    EXPECT_FALSE(InvalidateRect(kNoWindow, nullptr, true));
}

}  // namespace
}  // namespace kestrix::platform
