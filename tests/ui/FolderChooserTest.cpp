#include "ui/FolderChooser.h"

#include "platform/Controls.h"
#include "resources/Dialogs.h"
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
        MakeFolder("My Documents/line\nbreak");  // never listed
        MakeFolder("Storage Card/Maps");
        std::filesystem::create_directory_symlink("/", Root() + "/Storage Card/Everything");  // never listed
    }
    static TreeItemInfo Child(WindowHandle chooser, const std::vector<std::string>& path) {
        TreeItemInfo item = Control(chooser, kIdcFolderTree).tree.at(0);
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
        for (bool expand : {true, false, true}) ASSERT_TRUE(ExpandTreeItem(chooser, kIdcFolderTree, docs, expand));
        EXPECT_EQ(Names(Child(chooser, {"My Documents"})), (std::vector<std::string>{".hidden", "Photos"}));
        EXPECT_TRUE(Child(chooser, {"My Documents", "Photos"}).hasChildren);

        // A folder never expanded is listed before the new one joins it.
        auto create = [&](const std::vector<std::string>& in, const char* name) {
            ASSERT_TRUE(SelectTreeItem(chooser, kIdcFolderTree, Child(chooser, in).item));
            ASSERT_TRUE(TypeText(chooser, kIdcNewFolderName, name));
            ASSERT_TRUE(ClickControl(chooser, kIdcCreateFolder));
        };
        create({"Storage Card"}, "Tracks");
        EXPECT_EQ(Names(Child(chooser, {"Storage Card"})), (std::vector<std::string>{"Maps", "Tracks"}));
        EXPECT_EQ(Control(chooser, kIdcFolderTree).treeSelected, Child(chooser, {"Storage Card", "Tracks"}).item);
        EXPECT_EQ(Control(chooser, kIdcFolderPath).text, "\\Storage Card\\Tracks\\");
        create({"Storage Card"}, "tab\tbed");  // never made
        create({"My Documents"}, "Photos");  // exists: nothing happens
        EXPECT_EQ(Names(Child(chooser, {"My Documents"})), (std::vector<std::string>{".hidden", "Photos"}));
        EXPECT_EQ(Control(chooser, kIdcFolderPath).text, "\\My Documents\\");
        PressDone(chooser);
    });
    ASSERT_TRUE(ChooseFolder(kInstance, kNoWindow, &folder, 260));
    EXPECT_EQ(folder, "\\My Documents\\");
    EXPECT_TRUE(std::filesystem::is_directory(Root() + "/Storage Card/Tracks"));
    EXPECT_FALSE(std::filesystem::exists(Root() + "/Storage Card/tab\tbed"));
}

}  // namespace
}  // namespace kestrix::test
