#include "platform/Md5.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrix::platform {
namespace {

std::string Hex(const std::array<uint8_t, 16>& d) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (uint8_t b : d) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// The test suite of RFC 1321, appendix A.5.
const struct {
    std::string input, digest;
} kVectors[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

// Whole and in 7-byte pieces through one reused context.
TEST(Md5Test, DigestsOfTheReferenceSuite) {
    Md5Context ctx;
    for (const auto& v : kVectors) {
        EXPECT_EQ(Hex(Md5Digest(v.input.data(), v.input.size())), v.digest) << v.input;
        ASSERT_TRUE(ctx.Begin());
        for (size_t i = 0; i < v.input.size(); i += 7)
            ASSERT_TRUE(ctx.Update(v.input.data() + i, std::min<size_t>(7, v.input.size() - i)));
        std::array<uint8_t, 16> d{};
        ASSERT_TRUE(ctx.Final(d));
        EXPECT_EQ(Hex(d), v.digest) << v.input;
    }
}

}  // namespace
}  // namespace kestrix::platform
