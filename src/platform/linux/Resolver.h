// Resolver: the addresses a TCP client tries for a host. A dotted IPv4 or an IPv6 address
// is used as it stands; a name is looked up (the hosts file, then DNS) through c-ares,
// which resolves without a thread of its own, so the wait ends at once when the caller's
// stop event is set and when the time limit passes. Names under "invalid" never resolve
// (RFC 6761), without asking anyone. Any thread; each call has its own resolver state.
#pragma once
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Event.h"

namespace kestrix::platform {

struct ResolvedAddress {
    sockaddr_storage address{};
    socklen_t length = 0;
};

// 0 with the addresses in their order of preference, else kSocketNotResolved (reason says
// why, in the resolver's words), kSocketTimedOut or kSocketCancelled.
int ResolveHost(const std::string& host, uint16_t port, int timeoutMs, Event* stop, std::vector<ResolvedAddress>& out,
                std::string& reason);

}  // namespace kestrix::platform
