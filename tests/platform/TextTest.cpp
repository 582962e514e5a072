#include "platform/Text.h"

#include <gtest/gtest.h>

namespace kestrix::platform {
namespace {

TEST(TextTest, FormatSizesTheResultExactly) {
    EXPECT_EQ(Format("%d-%s-%05.1f", 7, "x", 2.25), "7-x-002.2");
    std::string big(10000, 'y');
    EXPECT_EQ(Format("<%s>", big.c_str()), "<" + big + ">");
    EXPECT_EQ(Format("%s", ""), "");
}

}  // namespace
}  // namespace kestrix::platform
