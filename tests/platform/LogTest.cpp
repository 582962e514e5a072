#include "platform/Log.h"

#include <gtest/gtest.h>


#include <fcntl.h>
#include <unistd.h>

#include "LogCapture.h"
#include "platform/Text.h"
#include "support/TestSupport.h"

namespace kestrix::platform {
namespace {

// Text from outside reaches the log as one line: what is not printable UTF-8 is shown as
// \xNN. FindUnprintable, which the settings use to refuse such text, stops at the same byte.
TEST(LogTest, TextThatIsNotPrintableIsEscaped) {
    struct Case { std::string text; const char* logged; size_t firstUnprintable; };
    const Case cases[] = {
        {std::string("login refused: \xff\xfe\x00\n<", 20), "login refused: \\xff\\xfe\\x00\\x0a<", 15},
        {"\x1b[31mred\x7f", "\\x1b[31mred\\x7f", 0},
        {"J\xC3\xBCrgen \xE2\x9C\x93 \xF0\x9F\x9B\xB0 \\My Documents\\anna.log",
         "J\xC3\xBCrgen \xE2\x9C\x93 \xF0\x9F\x9B\xB0 \\My Documents\\anna.log", std::string::npos},
        {"c1 \xC2\x9B" "2J", "c1 \\xc2\\x9b2J", 3},  // a control character of U+0080..U+009F
        {"overlong \xC0\xAF, cut \xE2\x9C", "overlong \\xc0\\xaf, cut \\xe2\\x9c", 9},
    };
    for (const Case& c : cases) {
        test::LogCapture capture;
        LogWarning(c.text);
        EXPECT_EQ(capture.Texts(LogLevel::Warning), std::vector<std::string>{c.logged}) << c.logged;
        EXPECT_EQ(FindUnprintable(c.text), c.firstUnprintable) << c.logged;
    }
}

}  // namespace
}  // namespace kestrix::platform
