#include "settings/Md5Hasher.h"

#include <array>

namespace kestrix {

bool Md5Hasher::Begin() {
    begun_ = context_.Begin();
    return begun_;
}

bool Md5Hasher::Update(const void* data, size_t size) {
    if (!begun_) return false;
    return context_.Update(data, size);
}

bool Md5Hasher::GetHashSize(uint32_t& size) const {
    if (!begun_) return false;
    size = 16;
    return true;
}

bool Md5Hasher::GetHashValue(uint8_t* buffer, uint32_t& length) {
    if (!begun_ || buffer == nullptr) return false;
    if (length < 16) {
        length = 16;
        return false;
    }
    std::array<uint8_t, 16> digest{};
    // Finishing ends the digest; a second value needs a new Begin.
    begun_ = false;
    if (!context_.Final(digest)) return false;
    for (size_t i = 0; i < digest.size(); ++i) buffer[i] = digest[i];
    length = 16;
    return true;
}

std::string Md5Hasher::HexDigest(const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    Md5Hasher hasher;
    uint8_t digest[16] = {};
    uint32_t length = sizeof digest;
    if (!hasher.Begin() || !hasher.Update(text.data(), text.size()) || !hasher.GetHashValue(digest, length)) {
        return std::string();
    }
    std::string hex;
    hex.reserve(32);
    for (uint8_t b : digest) {
        hex.push_back(kHex[b >> 4]);
        hex.push_back(kHex[b & 0x0F]);
    }
    return hex;
}

}  // namespace kestrix
