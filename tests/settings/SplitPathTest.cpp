#include "settings/SplitPath.h"

#include <gtest/gtest.h>

#include <tuple>

namespace kestrix {
namespace {

TEST(SplitPathTest, PartsConcatenateToTheInputAndMayBeLeftOut) {
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
        EXPECT_EQ(std::tie(drive, dir, name, ext), std::make_tuple(r.drive, r.dir, r.name, r.ext)) << r.path;
        EXPECT_EQ(drive + dir + name + ext, r.path);
        std::string only = "x";  // the parts not wanted may be null
        SplitPath(r.path, nullptr, nullptr, nullptr, &only);
        EXPECT_EQ(only, r.ext) << r.path;
    }
}

}  // namespace
}  // namespace kestrix
