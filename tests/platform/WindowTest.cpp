#include "platform/Window.h"

#include <gtest/gtest.h>

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

// An atom is counted: it goes with its last delete, whatever the case of the name.
TEST(WindowTest, AtomsAreCountedCaseInsensitiveNames) {
    const Atom atom = GlobalAddAtom("_Kestrix_Test_{1}");
    ASSERT_GE(atom, 0xC000);
    EXPECT_EQ(GlobalAddAtom("_KESTRIX_test_{1}"), atom);
    EXPECT_TRUE(GlobalDeleteAtom(atom));
    EXPECT_EQ(GlobalFindAtom("_kestrix_TEST_{1}"), atom);
    EXPECT_TRUE(GlobalDeleteAtom(atom));
    EXPECT_EQ(GlobalFindAtom("_Kestrix_Test_{1}"), 0);
    EXPECT_FALSE(GlobalDeleteAtom(atom));
}

}  // namespace
}  // namespace kestrix::platform
