#include "settings/Md5Hasher.h"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

TEST(Md5HasherTest, DigestsFollowRfc1321) {
    struct Row {
        std::string text;
        const char* hex;
    } rows[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"secret", "5ebe2294ecd0e0f08eab7690d2a6ee69"},
        {[] {
             std::string s;
             for (int i = 0; i < 10; ++i) s += "Correct horse battery staple, ";
             return s;
         }(),
         "55bd2a2c908582f9a14f7eb84ac225d2"},
        {"p\xC3\xA4ssw\xC3\xB6rt", "e1f27045646954e224f9f4045c8d6aed"},
    };
    for (const Row& r : rows) EXPECT_EQ(Md5Hasher::HexDigest(r.text), r.hex) << r.text.size() << " bytes";
}

TEST(Md5HasherTest, StepsFailWithoutABegunDigest) {
    Md5Hasher h;
    uint8_t buf[16];
    uint32_t len = sizeof buf;
    uint32_t size = 0;
    EXPECT_FALSE(h.Update("a", 1));
    EXPECT_FALSE(h.GetHashSize(size));
    EXPECT_FALSE(h.GetHashValue(buf, len));

    ASSERT_TRUE(h.Begin());
    EXPECT_TRUE(h.GetHashSize(size));
    EXPECT_EQ(size, 16u);
    uint32_t small = 8;
    EXPECT_FALSE(h.GetHashValue(buf, small));
    EXPECT_EQ(small, 16u);
    // Updates in pieces give the digest of the whole.
    EXPECT_TRUE(h.Update("sec", 3));
    EXPECT_TRUE(h.Update("ret", 3));
    ASSERT_TRUE(h.GetHashValue(buf, len));
    EXPECT_EQ(len, 16u);
    EXPECT_EQ(buf[0], 0x5e);
    EXPECT_EQ(buf[15], 0x69);
}

}  // namespace
}  // namespace kestrix
