#include "settings/SplitPath.h"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

TEST(SplitPathTest, PartsConcatenateToTheInput) {
    struct Row {
        const char* path;
        const char* drive;
        const char* dir;
        const char* name;
        const char* ext;
    } rows[] = {
        {"\\My Documents\\Kestrix.log", "", "\\My Documents\\", "Kestrix", ".log"},
        {"\\a.b\\c", "", "\\a.b\\", "c", ""},
        {"\\x\\f.tar.gz", "", "\\x\\", "f.tar", ".gz"},
        {"C:\\f.txt", "C:", "\\", "f", ".txt"},
        {"Kestrix.log", "", "", "Kestrix", ".log"},
        {"\\file", "", "\\", "file", ""},
        {"/home/anna/t.log", "", "/home/anna/", "t", ".log"},
        {"\\mixed/sep\\x.y", "", "\\mixed/sep\\", "x", ".y"},
        {"\\a:b\\c.d", "", "\\a:b\\", "c", ".d"},    // ':' after a separator is ordinary
        {"C:f.txt", "C:", "", "f", ".txt"},
        {"\\Tracks\\", "", "\\Tracks\\", "", ""},
        {".log", "", "", "", ".log"},
        {"", "", "", "", ""},
    };
    for (const Row& r : rows) {
        std::string drive = "x", dir = "x", name = "x", ext = "x";
        SplitPath(r.path, &drive, &dir, &name, &ext);
        EXPECT_EQ(drive, r.drive) << r.path;
        EXPECT_EQ(dir, r.dir) << r.path;
        EXPECT_EQ(name, r.name) << r.path;
        EXPECT_EQ(ext, r.ext) << r.path;
        EXPECT_EQ(drive + dir + name + ext, r.path);
    }
}

TEST(SplitPathTest, UnwantedPartsMayBeNull) {
    std::string name = "stale";
    SplitPath("\\x\\f.tar.gz", nullptr, nullptr, &name, nullptr);
    EXPECT_EQ(name, "f.tar");
    std::string ext = "stale";
    SplitPath("\\x\\f", nullptr, nullptr, nullptr, &ext);
    EXPECT_EQ(ext, "");
}

}  // namespace
}  // namespace kestrix
