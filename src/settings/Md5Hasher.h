// The digest object behind the stored password: Begin, Update, GetHashSize (16),
// GetHashValue. Each fails when no digest was begun. One thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Md5.h"

namespace kestrix {

class Md5Hasher {
public:
    bool Begin();
    bool Update(const void* data, size_t size);
    bool GetHashSize(uint32_t& size) const;
    // length: in, the buffer's capacity; out, 16. Fails when the buffer is too small.
    bool GetHashValue(uint8_t* buffer, uint32_t& length);

    // 32 lower-case hexadecimal characters of the MD5 of text.
    static std::string HexDigest(const std::string& text);

private:
    platform::Md5Context context_;
    bool begun_ = false;
};

}  // namespace kestrix
