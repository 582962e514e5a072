#include "platform/Shell.h"

#include <gtest/gtest.h>

#include "platform/LogCapture.h"
#include "platform/ShellDouble.h"

namespace kestrix::platform {
namespace {

TEST(ShellTest, WithoutAHostABoxIsLoggedAndAnsweredSafely) {
    ASSERT_EQ(GetShellHost(), nullptr);
    test::LogCapture capture;
    EXPECT_EQ(MessageBox(kNoWindow, "Delete the log?", "Kestrix", MB_YESNO), IDNO);
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_NE(capture.lines[0].second.find("Delete the log?"), std::string::npos);

    test::ShellDouble host;
    host.answer = [](const test::ShellDouble::Box&) { return IDYES; };
    SetShellHost(&host);
    EXPECT_EQ(MessageBox(kNoWindow, "Delete the log?", "Kestrix", MB_YESNO), IDYES);
    SetShellHost(nullptr);
}

}  // namespace
}  // namespace kestrix::platform
