#include "LoginThrottle.h"

#include <algorithm>

namespace kestrix::refserver {

void LoginThrottle::Forget(Entry& e, Clock::time_point now) const {
    while (!e.failures.empty() && now - e.failures.front() >= policy_.window) e.failures.pop_front();
}

size_t LoginThrottle::Failures(const std::string& address, Clock::time_point now) {
    auto it = entries_.find(address);
    if (it == entries_.end()) return 0;
    Forget(it->second, now);
    return it->second.failures.size();
}

LoginThrottle::Clock::duration LoginThrottle::Wait(const std::string& address, Clock::time_point now) {
    auto it = entries_.find(address);
    if (it == entries_.end()) return {};
    Entry& e = it->second;
    Forget(e, now);
    if (e.failures.size() < policy_.freeFailures) return {};
    if (now < e.nextTurn) return e.nextTurn - now;
    e.nextTurn = now + policy_.interval;
    return {};
}

void LoginThrottle::Failed(const std::string& address, Clock::time_point now) {
    if (entries_.size() >= policy_.maxAddresses && !entries_.count(address)) {
        // Drop what has fallen out of the window; when everything is recent, the address
        // whose last failure is oldest goes.
        for (auto it = entries_.begin(); it != entries_.end();) {
            Forget(it->second, now);
            it = it->second.failures.empty() ? entries_.erase(it) : std::next(it);
        }
        if (entries_.size() >= policy_.maxAddresses) {
            auto oldest = std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
                return a.second.failures.back() < b.second.failures.back();
            });
            entries_.erase(oldest);
        }
    }
    Entry& e = entries_[address];
    Forget(e, now);
    e.failures.push_back(now);
    if (e.failures.size() > policy_.freeFailures + 1) e.failures.pop_front();
}

}  // namespace kestrix::refserver
