#include "Credential.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

namespace kestrix::refserver {

namespace {

constexpr uint64_t kN = 2048;
constexpr uint64_t kR = 8;
constexpr uint64_t kP = 1;
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;
// Refuses stored parameters that would take more memory than this (a damaged row).
constexpr uint64_t kMaxMemory = 64ull << 20;

bool FromHex(std::string_view text, std::vector<unsigned char>& out) {
    if (text.empty() || text.size() % 2) return false;
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
        if (ec != std::errc() || end != text.data() + i + 2) return false;
        out.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

std::string Lower(std::string_view digest) {
    std::string out(digest);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool Scrypt(std::string_view digest, const unsigned char* salt, size_t saltSize, uint64_t n, uint64_t r, uint64_t p,
            unsigned char* out, size_t outSize) {
    const std::string key = Lower(digest);
    return EVP_PBE_scrypt(key.data(), key.size(), salt, saltSize, n, r, p, kMaxMemory, out, outSize) == 1;
}

struct Parsed {
    uint64_t n = 0, r = 0, p = 0;
    std::vector<unsigned char> salt, hash;
};

bool Parse(std::string_view text, Parsed& out) {
    std::string_view parts[6];
    size_t count = 0;
    for (size_t start = 0; count < 6;) {
        const size_t end = text.find('$', start);
        parts[count++] = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (count != 6 || parts[0] != "scrypt" || std::count(text.begin(), text.end(), '$') != 5) return false;
    uint64_t* numbers[] = {&out.n, &out.r, &out.p};
    for (int i = 0; i < 3; ++i) {
        auto [end, ec] = std::from_chars(parts[i + 1].data(), parts[i + 1].data() + parts[i + 1].size(), *numbers[i]);
        if (ec != std::errc() || end != parts[i + 1].data() + parts[i + 1].size() || *numbers[i] == 0) return false;
    }
    return FromHex(parts[4], out.salt) && FromHex(parts[5], out.hash) && out.hash.size() >= 16;
}

}  // namespace

std::string MakeCredential(std::string_view digest) {
    unsigned char salt[kSaltBytes];
    unsigned char hash[kHashBytes];
    if (RAND_bytes(salt, sizeof salt) != 1) return {};
    if (!Scrypt(digest, salt, sizeof salt, kN, kR, kP, hash, sizeof hash)) return {};
    return "scrypt$" + std::to_string(kN) + "$" + std::to_string(kR) + "$" + std::to_string(kP) + "$" +
           LowerHex(salt, sizeof salt) + "$" + LowerHex(hash, sizeof hash);
}

bool VerifyCredential(std::string_view credential, std::string_view digest) {
    Parsed c;
    if (!Parse(credential, c)) return false;
    std::vector<unsigned char> hash(c.hash.size());
    if (!Scrypt(digest, c.salt.data(), c.salt.size(), c.n, c.r, c.p, hash.data(), hash.size())) return false;
    return CRYPTO_memcmp(hash.data(), c.hash.data(), hash.size()) == 0;
}

std::string LowerHex(const unsigned char* data, size_t size) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(2 * size);
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

bool IsCredential(std::string_view stored) {
    Parsed c;
    return Parse(stored, c);
}

}  // namespace kestrix::refserver
