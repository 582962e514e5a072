#include "settings/Md5Hasher.h"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

// The digest is the password's stored form: lower-case hex of the bytes as given (UTF-8).
TEST(Md5HasherTest, StepsNeedABegunDigestAndPiecesGiveTheDigestOfTheWhole) {
    EXPECT_EQ(Md5Hasher::HexDigest("p\xC3\xA4ssw\xC3\xB6rt"), "e1f27045646954e224f9f4045c8d6aed");
    Md5Hasher h;
    uint8_t buf[16];
    uint32_t len = sizeof buf, size = 0, small = 8;
    EXPECT_FALSE(h.Update("a", 1));
    EXPECT_FALSE(h.GetHashSize(size));
    EXPECT_FALSE(h.GetHashValue(buf, len));
    ASSERT_TRUE(h.Begin());
    EXPECT_TRUE(h.GetHashSize(size));
    EXPECT_EQ(size, 16u);
    EXPECT_FALSE(h.GetHashValue(buf, small));
    EXPECT_EQ(small, 16u);
    EXPECT_TRUE(h.Update("sec", 3) && h.Update("ret", 3));
    ASSERT_TRUE(h.GetHashValue(buf, len));
    EXPECT_EQ(std::make_tuple(len, buf[0], buf[15]), std::make_tuple(16u, uint8_t{0x5e}, uint8_t{0x69}));
    EXPECT_FALSE(h.Update("x", 1)) << "finishing ends the digest";
}

}  // namespace
}  // namespace kestrix
