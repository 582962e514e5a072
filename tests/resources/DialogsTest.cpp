#include "resources/Dialogs.h"

#include <gtest/gtest.h>

#include <set>

namespace kestrix {
namespace {

using namespace platform;

bool Inside(const DialogItemTemplate& a, const DialogItemTemplate& b) {
    return a.x >= b.x && a.y >= b.y && a.x + a.cx <= b.x + b.cx && a.y + a.cy <= b.y + b.cy;
}
bool Overlap(const DialogItemTemplate& a, const DialogItemTemplate& b) {
    return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy;
}
bool Framed(const DialogItemTemplate& inner, const DialogItemTemplate& group) {
    return group.className == kButtonClass && (group.style & BS_TYPEMASK) == BS_GROUPBOX && Inside(inner, group);
}

// Every template is laid out tidily: each control inside it and shown, no id twice, and
// nothing on top of anything but its group box.
TEST(DialogsTest, TemplatesAreLaidOutWithoutOverlap) {
    for (int id : {kDlgModePage, kDlgGpsPortPage, kDlgTrackPage, kDlgAccountPage, kDlgAboutPage, kDlgSelectFolder,
                   kDlgGpsStatus}) {
        SCOPED_TRACE("template " + std::to_string(id));
        const DialogTemplate* t = DialogTemplateById(id);
        ASSERT_NE(t, nullptr);
        std::set<int> ids;
        for (const auto& a : t->items) {
            EXPECT_TRUE(a.id == IDC_STATIC || ids.insert(a.id).second) << "id " << a.id << " twice";
            EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.cx <= t->cx && a.y + a.cy <= t->cy && (a.style & WS_VISIBLE))
                << a.text;
            for (const auto& b : t->items) {
                EXPECT_TRUE(&a == &b || !Overlap(a, b) || Framed(a, b) || Framed(b, a)) << a.text << " / " << b.text;
            }
        }
    }
    EXPECT_EQ(DialogTemplateById(102), nullptr);  // the menu, not a dialog
}

}  // namespace
}  // namespace kestrix
