#include "platform/Window.h"

#include <gtest/gtest.h>

#include "WindowFixture.h"

namespace kestrix::platform {
namespace {

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
