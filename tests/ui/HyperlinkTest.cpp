#include "ui/Hyperlink.h"

#include "platform/Controls.h"
#include "ui/ColorText.h"
#include "ui/UiFixture.h"

namespace kestrix::test {
namespace {

using namespace platform;
using namespace ui;

constexpr int kLink = 10;
constexpr int kNotice = 11;
constexpr int kOtherNotice = 12;

TEST_F(UiTest, LinksAndColourTextsColourTheirDialogAndGiveItsProcedureBack) {
    DialogTemplate tmpl;
    tmpl.caption = "Links";
    tmpl.style = WS_POPUP | WS_VISIBLE;
    tmpl.cx = 100;
    tmpl.cy = 60;
    for (int id : {kLink, kNotice, kOtherNotice}) {
        tmpl.items.push_back({kStaticClass, id, "text " + std::to_string(id), WS_CHILD | WS_VISIBLE, 4,
                              static_cast<int16_t>(4 + 12 * (id - kLink)), 80, 10});
    }
    // On WM_DESTROY the dialog notes whether its own procedure is back and the hooks are gone.
    WndProcRef own;
    bool restored = false;
    const WindowHandle dialog = CreateDialogIndirectParam(
        kInstance, tmpl, kNoWindow,
        [&](WindowHandle w, uint32_t msg, WParam, LParam) -> LResult {
            if (msg == WM_DESTROY) {
                restored = GetWindowProc(w) == own && GetProp(w, HyperlinkAtom()) == 0 &&
                           GetProp(w, ColorTextAtom()) == 0;
            }
            return 0;
        },
        0);
    ASSERT_NE(dialog, kNoWindow);
    own = GetWindowProc(dialog);

    Hyperlink link;
    ColorText notice, other;
    ASSERT_TRUE(AttachHyperlink(link, dialog, kLink, "http://127.0.0.1:1280/"));
    ASSERT_TRUE(AttachColorText(notice, dialog, kNotice, Rgb(0, 128, 0)));
    ASSERT_TRUE(AttachColorText(other, dialog, kOtherNotice, Rgb(255, 0, 0)));
    EXPECT_FALSE(AttachHyperlink(link, dialog, 99, "http://x/"));
    EXPECT_EQ(Control(dialog, kLink).color, kLinkColour);
    EXPECT_EQ(Control(dialog, kNotice).color, Rgb(255, 0, 0));  // the last attach's colour is everyone's
    EXPECT_EQ(Control(dialog, kOtherNotice).color, Rgb(255, 0, 0));

    ASSERT_TRUE(HoverControl(dialog, kLink, true));
    EXPECT_TRUE(Control(dialog, kLink).underline);
    EXPECT_EQ(Control(dialog, kLink).cursor, IDC_HAND);
    EXPECT_EQ(GetCapture(), GetDlgItem(dialog, kLink));
    ASSERT_TRUE(HoverControl(dialog, kLink, false));
    EXPECT_FALSE(Control(dialog, kLink).underline);
    EXPECT_EQ(GetCapture(), kNoWindow);

    ASSERT_TRUE(ClickControl(dialog, kLink));
    EXPECT_EQ(shell_.links, std::vector<std::string>{"http://127.0.0.1:1280/"});
    EXPECT_EQ(Control(dialog, kLink).color, kVisitedLinkColour);

    ASSERT_TRUE(loop_->DestroyWindow(dialog));
    EXPECT_TRUE(restored);
    EXPECT_EQ(AttachedHyperlinks(), 0);
    EXPECT_EQ(AttachedColorTexts(), 0);
    EXPECT_TRUE(link.Visited());
}

}  // namespace
}  // namespace kestrix::test
