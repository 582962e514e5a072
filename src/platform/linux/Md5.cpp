#include "platform/Md5.h"

#include <algorithm>

#include <openssl/evp.h>

namespace kestrix::platform {

struct Md5Context::Impl {
    EVP_MD_CTX* ctx = nullptr;
    bool active = false;
};

Md5Context::Md5Context() : impl_(std::make_unique<Impl>()) { impl_->ctx = EVP_MD_CTX_new(); }

Md5Context::~Md5Context() { EVP_MD_CTX_free(impl_->ctx); }

bool Md5Context::Begin() {
    impl_->active = false;
    if (!impl_->ctx) return false;
    if (EVP_DigestInit_ex(impl_->ctx, EVP_md5(), nullptr) != 1) return false;
    impl_->active = true;
    return true;
}

bool Md5Context::Update(const void* data, size_t size) {
    if (!impl_->active) return false;
    if (size == 0) return true;
    return EVP_DigestUpdate(impl_->ctx, data, size) == 1;
}

bool Md5Context::Final(std::array<uint8_t, 16>& out) {
    if (!impl_->active) return false;
    impl_->active = false;
    unsigned int len = 0;
    std::array<uint8_t, EVP_MAX_MD_SIZE> buffer{};
    if (EVP_DigestFinal_ex(impl_->ctx, buffer.data(), &len) != 1 || len != out.size()) return false;
    std::copy_n(buffer.begin(), out.size(), out.begin());
    return true;
}

std::array<uint8_t, 16> Md5Digest(const void* data, size_t size) {
    std::array<uint8_t, 16> out{};
    Md5Context ctx;
    if (ctx.Begin() && ctx.Update(data, size)) ctx.Final(out);
    return out;
}

}  // namespace kestrix::platform
