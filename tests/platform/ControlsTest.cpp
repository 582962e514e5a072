#include "platform/Controls.h"

#include <gtest/gtest.h>

#include "WindowFixture.h"

namespace kestrix::platform {
namespace {

// A "probe" parent for controls.
struct ControlFixture : test::WindowFixture {
    WindowHandle parent = Make();
    WindowHandle Control(const char* cls, uint32_t style = 0, int id = 9) { return Make(parent, id, cls, style); }
};

TEST(ControlsTest, ComboSelectStringTakesTheFirstItemStartingWithThePrefixAfterTheStart) {
    ControlFixture f;
    const WindowHandle combo = f.Control(kComboBoxClass, CBS_DROPDOWNLIST);
    for (const char* item : {"COM1:", "COM10:", "com2:", "GPD0:"}) ComboAddString(combo, item);
    const struct {
        int startAfter;
        const char* prefix;
        int found, selected;  // CB_ERR: none found, and the selection stays
    } cases[] = {{-1, "com1", 0, 0},        {0, "COM1", 1, 1},  {1, "com1", 0, 0},    {-1, "Com2", 2, 2},
                 {-1, "COM4", CB_ERR, 2},   {3, "COM", 0, 0},   {7, "GPD", 3, 3},     {-1, "", 0, 0},
                 {-1, "COM1:x", CB_ERR, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(ComboSelectString(combo, c.startAfter, c.prefix), c.found) << c.startAfter << " " << c.prefix;
        EXPECT_EQ(ComboGetCurSel(combo), c.selected) << c.startAfter << " " << c.prefix;
    }
    EXPECT_EQ(ComboGetText(combo, 3), "COM");
    EXPECT_EQ(GetWindowText(combo), "COM1:");
    EXPECT_EQ(ComboSetCurSel(combo, 4), CB_ERR);  // out of range clears the selection
    EXPECT_EQ(ComboGetText(combo), "");
}

}  // namespace
}  // namespace kestrix::platform
