#include "StoreSink.h"

#include <cstdio>

namespace kestrix::refserver {

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

uint32_t StoreSink::CheckLogin(const std::string& name, const std::string& digest) {
    UserRecord user;
    if (!store_.FindUser(name, user)) {
        if (!store_.Error().empty()) std::fprintf(stderr, "kestrix-server: %s\n", store_.Error().c_str());
        return 0;
    }
    return EqualNoCase(user.digest, digest) ? user.id : 0;
}

std::chrono::milliseconds StoreSink::LoginWait(const std::string& address) {
    auto wait = throttle_.Wait(address, LoginThrottle::Clock::now());
    return std::chrono::ceil<std::chrono::milliseconds>(wait);
}

void StoreSink::LoginFailed(const std::string& address) {
    throttle_.Failed(address, LoginThrottle::Clock::now());
}

void StoreSink::StorePoints(uint32_t userId, std::vector<StoredPoint>& points) {
    std::string received = now_ ? now_() : NowIso();
    for (StoredPoint& p : points) p.received = received;
    if (store_.AddPoints(userId, points)) {
        if (batching_)
            pending_ += points.size();
        else
            stored_ += points.size();
    } else {
        std::fprintf(stderr, "kestrix-server: %zu points of user %u lost: %s\n", points.size(), userId,
                     store_.Error().c_str());
    }
}

void StoreSink::BeginBatch() {
    store_.BeginBatch();
    batching_ = true;
    pending_ = 0;
}

void StoreSink::EndBatch() {
    batching_ = false;
    if (store_.EndBatch()) {
        stored_ += pending_;
    } else {
        std::fprintf(stderr, "kestrix-server: %llu points lost: %s\n", static_cast<unsigned long long>(pending_),
                     store_.Error().c_str());
    }
    pending_ = 0;
}

}  // namespace kestrix::refserver
