#include "platform/DeviceFs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "LogCapture.h"
#include "platform/LastError.h"
#include "platform/Registry.h"
#include "support/TestSupport.h"

namespace kestrix::platform {
namespace {

class DeviceFsTest : public testing::Test {
protected:
    void SetUp() override {
        previous_ = DeviceRoot();
        SetDeviceRoot(dir_.Path() + "/");
    }
    void TearDown() override { SetDeviceRoot(previous_); }
    test::TempDir dir_;
    std::string previous_;
};

TEST_F(DeviceFsTest, DevicePathsMapUnderTheRootOrAreRefused) {
    const std::string root = dir_.Path();
    const std::pair<std::string, std::string> cases[] = {  // device path, host path ("" = refused)
        {"\\My Documents\\anna.log", root + "/My Documents/anna.log"},
        {"/a//b/./c", root + "/a/b/c"}, {"a\\b", root + "/a/b"}, {"\\\\a\\\\\\b\\", root + "/a/b"},
        {"\\", root}, {"\\...\\x..y", root + "/.../x..y"},
        {"", ""}, {"..", ""}, {"\\a\\..\\b", ""}, {"a/../../etc/passwd", ""}, {"C:\\x", ""}, {"\\c:", ""},
        {"d:", ""}, {std::string("a\0b", 3), ""},
    };
    for (const auto& [device, expected] : cases) {
        std::string host = "unchanged";
        SetLastError(0);
        EXPECT_EQ(ToHostPath(device, host), !expected.empty()) << device;
        EXPECT_EQ(host, expected.empty() ? "unchanged" : expected) << device;
        if (expected.empty()) {
            EXPECT_EQ(GetLastError(), kErrorBadPathname) << device;
        }
    }
    DeviceFile f;
    EXPECT_FALSE(f.Open("\\..\\escape.txt", "wb"));
    EXPECT_EQ(GetLastError(), kErrorBadPathname);
}

// Links are followed as opening or creating the file would follow them: within the root
// they work, out of it (dangling or not, directly or through "..", or looping) every call
// is refused with a warning that says where they lead, and nothing outside is made. (The
// folder chooser's test shows a link to "/" is not listed.)
TEST_F(DeviceFsTest, LinksThatLeadOutOfTheRootAreRefused) {
    namespace fs = std::filesystem;
    test::TempDir elsewhere;
    const std::string root = dir_.File("root");
    const std::string above = fs::canonical(dir_.Path()).string();
    const std::string out = fs::canonical(elsewhere.Path()).string();
    fs::create_directories(root + "/My Documents");
    SetDeviceRoot(root);
    // devicePath is written through the link; leadsTo is where it leads ("": allowed)
    struct Case { const char* link; std::string target; const char* devicePath; std::string leadsTo; };
    const Case cases[] = {
        {"docs", "My Documents", "\\docs\\anna.log", ""},
        {"anna.gpx", out + "/x", "\\anna.gpx", out + "/x"},
        {"out", out, "\\out\\anna.log", out + "/anna.log"},
        {"up", "..", "\\up\\anna.log", above + "/anna.log"},
        {"loop", "loop", "\\loop", "its symbolic links loop"},
    };
    for (const Case& c : cases) {
        fs::create_symlink(c.target, root + "/" + c.link);
        test::LogCapture log;
        DeviceFile f;
        SetLastError(0);
        EXPECT_EQ(f.Open(c.devicePath, "wb"), c.leadsTo.empty()) << c.link;
        if (c.leadsTo.empty()) continue;
        EXPECT_EQ(GetLastError(), kErrorAccessDenied) << c.link;
        const std::string why = c.leadsTo[0] == '/' ? "a symbolic link leads it out of " + root + ", to " + c.leadsTo
                                                    : c.leadsTo;
        EXPECT_EQ(log.Texts(LogLevel::Warning), std::vector<std::string>{std::string(c.devicePath) + " is refused: " + why});
    }
    test::LogCapture quiet;
    EXPECT_FALSE(CreateDeviceFolder("\\out\\made"));
    EXPECT_TRUE(fs::exists(root + "/My Documents/anna.log"));
    EXPECT_TRUE(fs::is_empty(elsewhere.Path())) << "nothing made outside";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.Path()), fs::directory_iterator()), 1) << "nothing beside the root";
}

}  // namespace
}  // namespace kestrix::platform
