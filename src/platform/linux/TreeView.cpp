// The tree-view control: items with text, a parameter and the has-children flag, expanded
// or collapsed, one selected; the parent hears of expansion and selection by WM_NOTIFY.
#include <algorithm>
#include <map>

#include "platform/Controls.h"
#include "platform/linux/WindowTable.h"

namespace kestrix::platform {

namespace internal {

struct TreeNode {
    std::string text;
    LParam param = 0;
    bool hasChildrenFlag = false;
    bool expanded = false;
    bool expandedOnce = false;
    TreeItem parent = 0;  // 0: top level
    std::vector<TreeItem> children;
};

struct TreeState {
    std::map<TreeItem, TreeNode> nodes;
    std::vector<TreeItem> roots;
    TreeItem selected = 0;
    TreeItem next = 1;

    TreeNode* Find(TreeItem item) {
        auto it = nodes.find(item);
        return it == nodes.end() ? nullptr : &it->second;
    }
    std::vector<TreeItem>& SiblingsOf(TreeItem parent) { return parent == 0 ? roots : nodes[parent].children; }
    void Erase(TreeItem item) {
        TreeNode* node = Find(item);
        if (!node) return;
        for (TreeItem child : std::vector<TreeItem>(node->children)) Erase(child);
        if (selected == item) selected = 0;
        nodes.erase(item);
    }
};

}  // namespace internal

namespace {

using internal::TreeNode;
using internal::TreeState;

// The tree's state when window is a tree view of the calling thread.
std::shared_ptr<TreeState> StateOf(WindowHandle tree) {
    auto d = internal::OwnControl(tree, internal::ControlKind::TreeView);
    if (!d) return nullptr;
    if (!d->tree) d->tree = std::make_shared<TreeState>();
    return d->tree;
}

TvItem InfoOf(TreeState& state, TreeItem item) {
    TvItem info;
    if (const TreeNode* node = state.Find(item)) {
        info.item = item;
        info.param = node->param;
        info.hasChildren = node->hasChildrenFlag;
    }
    return info;
}

// Sends a tree notification to the tree's parent; its answer (0 without a parent).
LResult Notify(WindowHandle tree, uint32_t code, uint32_t action, const TvItem& oldItem, const TvItem& newItem) {
    const WindowHandle parent = GetParent(tree);
    if (parent == kNoWindow) return 0;
    NmTreeView nm;
    nm.hdr.hwndFrom = tree;
    nm.hdr.idFrom = static_cast<uintptr_t>(GetDlgCtrlID(tree));
    nm.hdr.code = code;
    nm.action = action;
    nm.itemOld = oldItem;
    nm.itemNew = newItem;
    return SendMessage(parent, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LParam>(&nm));
}

bool IsDescendant(TreeState& state, TreeItem item, TreeItem ancestor) {
    for (const TreeNode* node = state.Find(item); node && node->parent != 0; node = state.Find(node->parent)) {
        if (node->parent == ancestor) return true;
    }
    return false;
}

std::vector<TreeItemInfo> Describe(TreeState& state, const std::vector<TreeItem>& items) {
    std::vector<TreeItemInfo> out;
    for (TreeItem item : items) {
        const TreeNode* node = state.Find(item);
        if (!node) continue;
        TreeItemInfo info;
        info.item = item;
        info.text = node->text;
        info.expanded = node->expanded;
        // The flag promises children until an expansion has shown there are none.
        info.hasChildren = !node->children.empty() || (node->hasChildrenFlag && !node->expandedOnce);
        info.children = Describe(state, node->children);
        out.push_back(std::move(info));
    }
    return out;
}

}  // namespace

namespace internal {

bool TreeSelectBy(WindowHandle tree, TreeItem item, uint32_t action) {
    auto state = StateOf(tree);
    if (!state || (item != 0 && !state->Find(item))) return false;
    const TreeItem old = state->selected;
    if (old == item) return true;
    if (Notify(tree, TVN_SELCHANGING, action, InfoOf(*state, old), InfoOf(*state, item)) != 0) return false;
    // The parent may have changed the tree while it was asked.
    state = StateOf(tree);
    if (!state || (item != 0 && !state->Find(item))) return false;
    const TreeItem previous = state->selected;
    state->selected = item;
    NotifyWindowChanged();
    Notify(tree, TVN_SELCHANGED, action, InfoOf(*state, previous), InfoOf(*state, item));
    // A selected item is shown: its collapsed ancestors open, outermost first.
    std::vector<TreeItem> ancestors;
    for (const TreeNode* node = state->Find(item); node && node->parent != 0; node = state->Find(node->parent))
        ancestors.push_back(node->parent);
    for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
        if (!TreeIsExpanded(tree, *it)) TreeExpand(tree, *it, TVE_EXPAND);
    }
    return true;
}

std::vector<TreeItemInfo> DescribeTree(WindowHandle tree) {
    auto state = StateOf(tree);
    return state ? Describe(*state, state->roots) : std::vector<TreeItemInfo>{};
}

}  // namespace internal

TreeItem TreeInsertItem(WindowHandle tree, const TreeInsert& insert) {
    auto state = StateOf(tree);
    if (!state) return 0;
    const TreeItem parent = insert.parent == TVI_ROOT ? 0 : insert.parent;
    if (parent != 0 && !state->Find(parent)) return 0;
    std::vector<TreeItem>& siblings = state->SiblingsOf(parent);
    auto at = siblings.end();
    if (insert.insertAfter == TVI_FIRST) {
        at = siblings.begin();
    } else if (insert.insertAfter == TVI_SORT) {
        at = std::find_if(siblings.begin(), siblings.end(), [&](TreeItem s) {
            return internal::CompareNoCase(state->nodes[s].text, insert.text) > 0;
        });
    } else if (insert.insertAfter != TVI_LAST) {
        at = std::find(siblings.begin(), siblings.end(), insert.insertAfter);
        if (at == siblings.end()) return 0;
        ++at;
    }
    const TreeItem item = state->next++;
    siblings.insert(at, item);
    TreeNode& node = state->nodes[item];
    node.text = insert.text;
    node.param = insert.param;
    node.hasChildrenFlag = insert.hasChildren;
    node.parent = parent;
    NotifyWindowChanged();
    return item;
}

bool TreeExpand(WindowHandle tree, TreeItem item, uint32_t action) {
    auto state = StateOf(tree);
    TreeNode* node = state ? state->Find(item) : nullptr;
    if (!node) return false;
    uint32_t resolved = action & TVE_TOGGLE;
    if (resolved == TVE_TOGGLE) resolved = node->expanded ? TVE_COLLAPSE : TVE_EXPAND;
    if (resolved == 0) return false;
    const bool expand = resolved == TVE_EXPAND;
    if (node->expanded == expand) return true;
    if (expand && node->children.empty() && !node->hasChildrenFlag) return false;
    if (Notify(tree, TVN_ITEMEXPANDING, resolved, {}, InfoOf(*state, item)) != 0) return false;
    state = StateOf(tree);
    node = state ? state->Find(item) : nullptr;
    if (!node) return false;
    node->expanded = expand;
    if (expand) node->expandedOnce = true;
    NotifyWindowChanged();
    Notify(tree, TVN_ITEMEXPANDED, resolved, {}, InfoOf(*state, item));
    // A selection hidden by the collapse moves to the collapsed item.
    if (!expand && (state = StateOf(tree)) && IsDescendant(*state, state->selected, item)) {
        internal::TreeSelectBy(tree, item, 0);
    }
    return true;
}

bool TreeIsExpanded(WindowHandle tree, TreeItem item) {
    auto state = StateOf(tree);
    const TreeNode* node = state ? state->Find(item) : nullptr;
    return node && node->expanded;
}

TreeItem TreeGetNextItem(WindowHandle tree, TreeItem item, uint32_t code) {
    auto state = StateOf(tree);
    if (!state) return 0;
    if (code == TVGN_ROOT) return state->roots.empty() ? 0 : state->roots.front();
    if (code == TVGN_CARET) return state->selected;
    const TreeNode* node = state->Find(item);
    if (!node) return 0;
    switch (code) {
        case TVGN_PARENT: return node->parent;
        case TVGN_CHILD: return node->children.empty() ? 0 : node->children.front();
        case TVGN_NEXT:
        case TVGN_PREVIOUS: {
            const auto& siblings = state->SiblingsOf(node->parent);
            auto it = std::find(siblings.begin(), siblings.end(), item);
            if (code == TVGN_NEXT) return it + 1 < siblings.end() ? *(it + 1) : 0;
            return it == siblings.begin() ? 0 : *(it - 1);
        }
        default: return 0;
    }
}

std::string TreeGetItemText(WindowHandle tree, TreeItem item, size_t maxChars) {
    auto state = StateOf(tree);
    const TreeNode* node = state ? state->Find(item) : nullptr;
    return node ? internal::Utf8Prefix(node->text, maxChars) : std::string();
}

bool TreeSelectItem(WindowHandle tree, TreeItem item) { return internal::TreeSelectBy(tree, item, 0); }

}  // namespace kestrix::platform
