#include "platform/Log.h"

#include <gtest/gtest.h>

#include <regex>

#include <fcntl.h>
#include <unistd.h>

#include "support/TestSupport.h"

namespace kestrix::platform {
namespace {

TEST(LogTest, StandardErrorLinesCarryTimeProgramAndLevel) {
    test::TempDir dir;
    std::string path = dir.File("stderr.txt");
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    fflush(stderr);
    int saved = ::dup(2);
    ::dup2(fd, 2);
    LogWarning("receiver lost");
    LogError("port busy");
    ::dup2(saved, 2);
    ::close(saved);
    ::close(fd);
    std::regex line(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ kestrix: (warning: receiver lost|error: port busy)\n)");
    std::string text = test::ReadFile(path);
    size_t cut = text.find('\n') + 1;
    EXPECT_TRUE(std::regex_match(text.substr(0, cut), line)) << text;
    EXPECT_TRUE(std::regex_match(text.substr(cut), line)) << text;
}

}  // namespace
}  // namespace kestrix::platform
