// LoginThrottle: slows down the guessing of passwords from one address. Each address may
// fail freeFailures logins within a window; past that, its logins are checked one at a
// time, at most one every interval, until its failures fall out of the window. Other
// addresses are never held up. Times are those of a steady clock, given by the caller.
// One thread at a time; memory is bounded (the addresses with the oldest failures are
// forgotten first past maxAddresses).
#pragma once
#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <unordered_map>

namespace kestrix::refserver {

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;
    struct Policy {
        size_t freeFailures = 5;
        Clock::duration window = std::chrono::minutes(1);
        Clock::duration interval = std::chrono::seconds(2);
        size_t maxAddresses = 100000;
    };

    LoginThrottle() : LoginThrottle(Policy{}) {}
    explicit LoginThrottle(Policy policy) : policy_(policy) {}

    // How long a login from address must wait before it is checked: zero when it may be
    // checked now, and then its turn is taken (the next one from the address waits an
    // interval).
    Clock::duration Wait(const std::string& address, Clock::time_point now);
    void Failed(const std::string& address, Clock::time_point now);
    // Failures of the address within the window before now.
    size_t Failures(const std::string& address, Clock::time_point now);

private:
    struct Entry {
        std::deque<Clock::time_point> failures;  // oldest first, at most freeFailures + 1
        Clock::time_point nextTurn{};
    };
    void Forget(Entry& e, Clock::time_point now) const;

    Policy policy_;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace kestrix::refserver
