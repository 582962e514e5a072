#include "StoreSink.h"

namespace kestrix::refserver {

std::optional<uint32_t> StoreSink::CheckLogin(uint64_t session, uint64_t number, const std::string& name,
                                              const std::string& digest) {
    writer_.AddLogin(session, number, name, digest);
    return std::nullopt;
}

std::chrono::milliseconds StoreSink::LoginWait(const std::string& address) {
    auto wait = throttle_.Wait(address, LoginThrottle::Clock::now());
    return std::chrono::ceil<std::chrono::milliseconds>(wait);
}

void StoreSink::LoginFailed(const std::string& address) {
    throttle_.Failed(address, LoginThrottle::Clock::now());
}

void StoreSink::StorePoints(uint32_t userId, std::vector<StoredPoint>& points) {
    const int64_t received = now_ ? now_() : NowMs();
    for (StoredPoint& p : points) p.receivedMs = received;
    writer_.AddPacket(userId, points);
}

}  // namespace kestrix::refserver
