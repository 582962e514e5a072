#include "platform/Controls.h"

#include <gtest/gtest.h>

#include "WindowFixture.h"

namespace kestrix::platform {
namespace {

// A "probe" parent with one control of a class.
struct ControlFixture : test::WindowFixture {
    WindowHandle parent = Make();
    WindowHandle Control(const char* cls, uint32_t style = 0, int id = 9) { return Make(parent, id, cls, style); }
    // The WM_NOTIFY codes the parent heard, with the item each was about.
    std::vector<std::pair<uint32_t, TreeItem>> treeNotes;
    std::function<LResult(const NmTreeView&)> answer;
    ControlFixture() {
        onMessage = [this](WindowHandle, uint32_t msg, WParam, LParam l) -> LResult {
            if (msg != WM_NOTIFY) return 0;
            const auto& nm = *reinterpret_cast<const NmTreeView*>(l);
            treeNotes.emplace_back(nm.hdr.code, nm.itemNew.item);
            return answer ? answer(nm) : 0;
        };
    }
};

TEST(ControlsTest, ComboSelectStringTakesTheFirstItemStartingWithThePrefixAfterTheStart) {
    ControlFixture f;
    const WindowHandle combo = f.Control(kComboBoxClass, CBS_DROPDOWNLIST);
    for (const char* item : {"COM1:", "COM10:", "com2:", "GPD0:"}) ComboAddString(combo, item);
    const struct {
        int startAfter;
        const char* prefix;
        int found;     // CB_ERR: none, and the selection stays
        int selected;
    } cases[] = {
        {-1, "com1", 0, 0}, {0, "COM1", 1, 1}, {1, "com1", 0, 0},  // after the last match it wraps
        {-1, "Com2", 2, 2}, {-1, "COM4", CB_ERR, 2}, {-1, "gpd0:", 3, 3}, {3, "COM", 0, 0},
        {7, "GPD", 3, 3}, {-1, "", 0, 0}, {-1, "COM1:x", CB_ERR, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ComboSelectString(combo, c.startAfter, c.prefix), c.found) << c.startAfter << " " << c.prefix;
        EXPECT_EQ(ComboGetCurSel(combo), c.selected) << c.startAfter << " " << c.prefix;
    }
    EXPECT_EQ(ComboGetText(combo, 3), "COM");
    EXPECT_EQ(GetWindowText(combo), "COM1:");
    EXPECT_EQ(ComboSetCurSel(combo, 4), CB_ERR);  // out of range clears the selection
    EXPECT_EQ(ComboGetCurSel(combo), CB_ERR);
    EXPECT_EQ(ComboGetText(combo), "");
    EXPECT_EQ(ComboGetItemText(combo, 2), "com2:");
    EXPECT_EQ(ComboGetCount(combo), 4);
}

TEST(ControlsTest, TrackbarPositionStaysInItsRange) {
    ControlFixture f;
    const WindowHandle bar = f.Control(kTrackbarClass);
    EXPECT_EQ(TrackbarGetRangeMax(bar), 100);
    const struct {
        int lo, hi, set, pos;
    } cases[] = {{0, 100, 37, 37}, {0, 100, 101, 100}, {0, 100, -3, 0}, {10, 20, 5, 10}, {10, 20, 15, 15}};
    for (const auto& c : cases) {
        ASSERT_TRUE(TrackbarSetRange(bar, c.lo, c.hi, false));
        ASSERT_TRUE(TrackbarSetPos(bar, c.set, true));
        EXPECT_EQ(TrackbarGetPos(bar), c.pos) << c.set;
    }
    TrackbarSetPos(bar, 20, false);
    ASSERT_TRUE(TrackbarSetRange(bar, 0, 12, false));  // a narrower range moves the position in
    EXPECT_EQ(TrackbarGetPos(bar), 12);
    EXPECT_FALSE(TrackbarSetRange(bar, 5, 4, false));
    EXPECT_EQ(TrackbarGetRangeMin(bar), 0);
}

TEST(ControlsTest, EditTextChangesNotifyTheParentAndTheLimitIsForTyping) {
    ControlFixture f;
    const WindowHandle edit = f.Control(kEditClass, ES_AUTOHSCROLL, 1004);
    EXPECT_EQ(EditGetLimitText(edit), 30000u);
    ASSERT_TRUE(EditLimitText(edit, 3));
    ASSERT_TRUE(SetWindowText(edit, "longer than three"));
    EXPECT_EQ(GetWindowText(edit), "longer than three");
    ASSERT_TRUE(SetDlgItemText(f.parent, 1004, ""));
    const auto commands = f.Only(WM_COMMAND);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].w, MakeWParam(1004, EN_CHANGE));
    EXPECT_EQ(commands[0].l, static_cast<LParam>(edit));
}

TEST(ControlsTest, OperationsOnAnotherKindOfControlFail) {
    ControlFixture f;
    const WindowHandle push = f.Control(kButtonClass, BS_PUSHBUTTON), check = f.Control(kButtonClass, BS_AUTOCHECKBOX);
    const WindowHandle edit = f.Control(kEditClass), label = f.Control(kStaticClass);
    EXPECT_FALSE(SetCheck(push, true));
    EXPECT_FALSE(GetCheck(push));
    EXPECT_TRUE(SetCheck(check, true));
    EXPECT_TRUE(GetCheck(check));
    EXPECT_EQ(ComboAddString(edit, "x"), CB_ERR);
    EXPECT_EQ(ComboGetCount(label), CB_ERR);
    EXPECT_FALSE(EditLimitText(label, 3));
    EXPECT_FALSE(TrackbarSetPos(edit, 3, false));
    EXPECT_EQ(TreeInsertItem(label, {}), 0u);
    EXPECT_FALSE(TreeExpand(edit, 1, TVE_EXPAND));
    EXPECT_EQ(GetClassName(check), kButtonClass);
    EXPECT_EQ(GetClassName(f.Control("button")), kButtonClass);  // class names ignore case
}

TEST(ControlsTest, TreeItemsInsertSortedAndLinkToParentsAndSiblings) {
    ControlFixture f;
    const WindowHandle tree = f.Control(kTreeViewClass, TVS_HASBUTTONS);
    const TreeItem root = TreeInsertItem(tree, {TVI_ROOT, TVI_LAST, "\\", true, 7});
    for (const char* name : {"Storage Card", "My Documents", "temp", "Program Files", "a", "Zed"})
        TreeInsertItem(tree, {root, TVI_SORT, name, true, 0});
    const TreeItem first = TreeInsertItem(tree, {root, TVI_FIRST, "~first", false, 0});
    std::vector<std::string> names;
    for (TreeItem i = TreeGetNextItem(tree, root, TVGN_CHILD); i; i = TreeGetNextItem(tree, i, TVGN_NEXT))
        names.push_back(TreeGetItemText(tree, i));
    EXPECT_EQ(names, (std::vector<std::string>{"~first", "a", "My Documents", "Program Files", "Storage Card",
                                               "temp", "Zed"}));
    const TreeItem second = TreeGetNextItem(tree, first, TVGN_NEXT);
    EXPECT_EQ(TreeGetNextItem(tree, second, TVGN_PREVIOUS), first);
    EXPECT_EQ(TreeGetNextItem(tree, first, TVGN_PREVIOUS), 0u);
    EXPECT_EQ(TreeGetNextItem(tree, second, TVGN_PARENT), root);
    EXPECT_EQ(TreeGetNextItem(tree, root, TVGN_PARENT), 0u);
    EXPECT_EQ(TreeGetNextItem(tree, 0, TVGN_ROOT), root);
    EXPECT_EQ(TreeGetItemParam(tree, root), 7);
    EXPECT_TRUE(TreeItemHasChildrenFlag(tree, second));
    EXPECT_FALSE(TreeItemHasChildrenFlag(tree, first));
    EXPECT_EQ(TreeGetItemText(tree, second, 0), "");
    const TreeItem after = TreeInsertItem(tree, {root, first, "after first", false, 0});
    EXPECT_EQ(TreeGetNextItem(tree, first, TVGN_NEXT), after);
    EXPECT_EQ(TreeInsertItem(tree, {root, 999, "nowhere", false, 0}), 0u);
    EXPECT_EQ(TreeInsertItem(tree, {999, TVI_LAST, "orphan", false, 0}), 0u);
    ASSERT_TRUE(TreeDeleteItem(tree, root));
    EXPECT_EQ(TreeGetNextItem(tree, 0, TVGN_ROOT), 0u);
    EXPECT_EQ(TreeGetItemText(tree, second), "");
}

TEST(ControlsTest, TreeExpansionAsksTheParentWhichMayRefuseOrFillTheItem) {
    ControlFixture f;
    const WindowHandle tree = f.Control(kTreeViewClass);
    const TreeItem root = TreeInsertItem(tree, {TVI_ROOT, TVI_LAST, "\\", true, 0});
    const TreeItem bare = TreeInsertItem(tree, {TVI_ROOT, TVI_LAST, "bare", false, 0});
    bool refuse = true;
    f.answer = [&](const NmTreeView& nm) -> LResult {
        if (nm.hdr.code != TVN_ITEMEXPANDING) return 0;
        EXPECT_EQ(nm.hdr.hwndFrom, tree);
        EXPECT_EQ(nm.hdr.idFrom, 9u);
        EXPECT_TRUE(nm.itemNew.hasChildren);
        // Filling the item while it is asked, as a folder list does.
        if (!refuse && nm.action == TVE_EXPAND && !TreeGetNextItem(tree, root, TVGN_CHILD))
            TreeInsertItem(tree, {root, TVI_SORT, "child", true, 0});
        return refuse ? 1 : 0;
    };
    EXPECT_FALSE(TreeExpand(tree, root, TVE_EXPAND));
    EXPECT_FALSE(TreeIsExpanded(tree, root));
    refuse = false;
    EXPECT_TRUE(TreeExpand(tree, root, TVE_EXPAND));
    EXPECT_TRUE(TreeExpand(tree, root, TVE_EXPAND));  // already expanded: nothing asked
    EXPECT_TRUE(TreeExpand(tree, root, TVE_TOGGLE));
    EXPECT_FALSE(TreeIsExpanded(tree, root));
    EXPECT_FALSE(TreeExpand(tree, bare, TVE_EXPAND));  // nothing to show
    const std::vector<std::pair<uint32_t, TreeItem>> expected{
        {TVN_ITEMEXPANDING, root}, {TVN_ITEMEXPANDING, root}, {TVN_ITEMEXPANDED, root},
        {TVN_ITEMEXPANDING, root}, {TVN_ITEMEXPANDED, root}};
    EXPECT_EQ(f.treeNotes, expected);
    TreeItem children = 0;
    for (TreeItem i = TreeGetNextItem(tree, root, TVGN_CHILD); i; i = TreeGetNextItem(tree, i, TVGN_NEXT)) ++children;
    EXPECT_EQ(children, 1u);
}

TEST(ControlsTest, TreeSelectionAsksFirstTellsAfterAndShowsTheItem) {
    ControlFixture f;
    const WindowHandle tree = f.Control(kTreeViewClass);
    const TreeItem root = TreeInsertItem(tree, {TVI_ROOT, TVI_LAST, "\\", true, 0});
    const TreeItem docs = TreeInsertItem(tree, {root, TVI_SORT, "My Documents", true, 0});
    const TreeItem tracks = TreeInsertItem(tree, {docs, TVI_SORT, "Tracks", true, 0});
    TreeItem refused = 0;
    f.answer = [&](const NmTreeView& nm) -> LResult {
        return nm.hdr.code == TVN_SELCHANGING && nm.itemNew.item == refused ? 1 : 0;
    };
    ASSERT_TRUE(TreeSelectItem(tree, tracks));  // its collapsed ancestors open, outermost first
    EXPECT_TRUE(TreeIsExpanded(tree, root));
    EXPECT_TRUE(TreeIsExpanded(tree, docs));
    EXPECT_TRUE(TreeSelectItem(tree, tracks));  // the same again: nothing asked
    refused = root;
    EXPECT_FALSE(TreeSelectItem(tree, root));
    EXPECT_EQ(TreeGetNextItem(tree, 0, TVGN_CARET), tracks);
    refused = 0;
    ASSERT_TRUE(TreeExpand(tree, docs, TVE_COLLAPSE));  // the hidden selection moves up
    EXPECT_EQ(TreeGetNextItem(tree, 0, TVGN_CARET), docs);
    const std::vector<std::pair<uint32_t, TreeItem>> expected{
        {TVN_SELCHANGING, tracks},   {TVN_SELCHANGED, tracks},   {TVN_ITEMEXPANDING, root},
        {TVN_ITEMEXPANDED, root},    {TVN_ITEMEXPANDING, docs},  {TVN_ITEMEXPANDED, docs},
        {TVN_SELCHANGING, root},     {TVN_ITEMEXPANDING, docs},  {TVN_ITEMEXPANDED, docs},
        {TVN_SELCHANGING, docs},     {TVN_SELCHANGED, docs}};
    EXPECT_EQ(f.treeNotes, expected);
    EXPECT_FALSE(TreeSelectItem(tree, 999));
    ASSERT_TRUE(TreeDeleteItem(tree, docs));
    EXPECT_EQ(TreeGetNextItem(tree, 0, TVGN_CARET), 0u);  // the selection went with its item
}

}  // namespace
}  // namespace kestrix::platform
