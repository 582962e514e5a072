#include "ui/FolderChooser.h"

#include "platform/Controls.h"
#include "ui/UiFixture.h"

namespace kestrix::test {
namespace {

using namespace platform;
using namespace ui;

class FolderChooserTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        MakeFolder("My Documents/Photos");
        MakeFolder("My Documents/.hidden");
        MakeFolder("Storage Card");
    }
    static TreeItemInfo Child(WindowHandle chooser, const std::vector<std::string>& path) {
        TreeItemInfo item = Control(chooser, kIdFolderTree).tree.at(0);
        for (const std::string& name : path) {
            TreeItemInfo next;
            for (const auto& c : item.children) {
                if (c.text == name) next = c;
            }
            EXPECT_NE(next.item, 0u) << name;
            item = next;
        }
        return item;
    }
    static std::vector<std::string> Names(const TreeItemInfo& item) {
        std::vector<std::string> names;
        for (const auto& c : item.children) names.push_back(c.text);
        return names;
    }
};

TEST_F(FolderChooserTest, ListsEachFolderOnceAndCreatesInsideTheSelectedOne) {
    std::string folder;
    WhenOpen([&](WindowHandle chooser) {
        EXPECT_EQ(Names(Child(chooser, {})), (std::vector<std::string>{"My Documents", "Storage Card"}));
        const TreeItem docs = Child(chooser, {"My Documents"}).item;
        for (bool expand : {true, false, true}) ASSERT_TRUE(ExpandTreeItem(chooser, kIdFolderTree, docs, expand));
        EXPECT_EQ(Names(Child(chooser, {"My Documents"})), (std::vector<std::string>{".hidden", "Photos"}));
        EXPECT_TRUE(Child(chooser, {"My Documents", "Photos"}).hasChildren);

        ASSERT_TRUE(SelectTreeItem(chooser, kIdFolderTree, docs));
        for (int i = 0; i < 2; ++i) {  // the second time it exists: nothing happens
            ASSERT_TRUE(TypeText(chooser, kIdNewFolderName, "Tracks"));
            ASSERT_TRUE(ClickControl(chooser, kIdCreateFolder));
        }
        EXPECT_EQ(Names(Child(chooser, {"My Documents"})), (std::vector<std::string>{".hidden", "Photos", "Tracks"}));
        EXPECT_EQ(Control(chooser, kIdFolderTree).treeSelected, Child(chooser, {"My Documents", "Tracks"}).item);
        EXPECT_EQ(Control(chooser, kIdCurrentFolder).text, "\\My Documents\\Tracks\\");
        PressDone(chooser);
    });
    ASSERT_TRUE(ChooseFolder(kInstance, kNoWindow, &folder, 260));
    EXPECT_EQ(folder, "\\My Documents\\Tracks\\");
    EXPECT_TRUE(std::filesystem::is_directory(Root() + "/My Documents/Tracks"));
}

TEST_F(FolderChooserTest, GivesThePathOnlyWhenOkEndsItAndThePathFits) {
    struct Case {
        const char* name;
        bool selectRoot;
        bool ok;
        size_t capacity;
        bool chosen;
    };
    const std::vector<Case> cases = {
        {"root", true, true, 260, true},
        {"no room for the terminator", true, true, 1, false},
        {"nothing selected", false, true, 260, false},
        {"cancelled", true, false, 260, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string folder = "unchanged";
        WhenOpen([&](WindowHandle chooser) {
            if (c.selectRoot) SelectTreeItem(chooser, kIdFolderTree, Child(chooser, {}).item);
            c.ok ? PressDone(chooser) : PressCancel(chooser);
        });
        EXPECT_EQ(ChooseFolder(kInstance, kNoWindow, &folder, c.capacity), c.chosen);
        EXPECT_EQ(folder, c.chosen ? "\\" : "unchanged");
    }
}

}  // namespace
}  // namespace kestrix::test
