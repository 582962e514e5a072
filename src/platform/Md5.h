// MD5 (RFC 1321) through OpenSSL's EVP interface. One object per thread at a time.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kestrix::platform {

class Md5Context {
public:
    Md5Context();
    ~Md5Context();
    // Starts a new digest, dropping one in progress. False when the library refuses.
    bool Begin();
    bool Update(const void* data, size_t size);
    // Finishes the digest; false when no digest was begun. The context is then empty.
    bool Final(std::array<uint8_t, 16>& out);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

std::array<uint8_t, 16> Md5Digest(const void* data, size_t size);

}  // namespace kestrix::platform
