#include "platform/linux/Resolver.h"

#include <arpa/inet.h>
#include <ares.h>
#include <netinet/in.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/Socket.h"

namespace kestrix::platform {
namespace {

struct Lookup {
    bool done = false;
    int status = ARES_SUCCESS;
    std::vector<ResolvedAddress>* out = nullptr;
};

void OnAnswer(void* arg, int status, int /*timeouts*/, ares_addrinfo* result) {
    auto* lookup = static_cast<Lookup*>(arg);
    lookup->done = true;
    lookup->status = status;
    if (status == ARES_SUCCESS && result) {
        for (ares_addrinfo_node* n = result->nodes; n; n = n->ai_next) {
            if (n->ai_family != AF_INET && n->ai_family != AF_INET6) continue;
            ResolvedAddress a;
            a.length = static_cast<socklen_t>(n->ai_addrlen);
            std::memcpy(&a.address, n->ai_addr, a.length);
            lookup->out->push_back(a);
        }
    }
    if (result) ares_freeaddrinfo(result);
}

bool Literal(const std::string& host, uint16_t port, ResolvedAddress& a) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a.address);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        a.length = sizeof *v4;
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.address);
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        a.length = sizeof *v6;
        return true;
    }
    return false;
}

bool UnderInvalid(std::string name) {
    while (!name.empty() && name.back() == '.') name.pop_back();
    for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return name == "invalid" || (name.size() > 8 && name.compare(name.size() - 8, 8, ".invalid") == 0);
}

std::mutex serversMutex;
std::string servers;  // guarded by serversMutex

}  // namespace

void SetNameServers(const std::string& list) {
    std::lock_guard lock(serversMutex);
    servers = list;
}

int ResolveHost(const std::string& host, uint16_t port, int timeoutMs, Event* stop, std::vector<ResolvedAddress>& out,
                std::string& reason) {
    out.clear();
    reason.clear();
    ResolvedAddress literal;
    if (Literal(host, port, literal)) {
        out.push_back(literal);
        return 0;
    }
    if (host.empty() || UnderInvalid(host)) {
        reason = "cannot resolve \"" + host + "\": " + (host.empty() ? "no host name" : "names under .invalid never resolve");
        return kSocketNotResolved;
    }
    static std::once_flag once;
    static int initialised = ARES_SUCCESS;
    std::call_once(once, [] { initialised = ares_library_init(ARES_LIB_INIT_ALL); });
    ares_channel channel = nullptr;
    int rc = initialised == ARES_SUCCESS ? ares_init(&channel) : initialised;
    if (rc == ARES_SUCCESS) {
        std::lock_guard lock(serversMutex);
        if (!servers.empty()) rc = ares_set_servers_ports_csv(channel, servers.c_str());
        if (rc != ARES_SUCCESS) ares_destroy(channel);
    }
    if (rc != ARES_SUCCESS) {
        reason = std::string("cannot start the resolver: ") + ares_strerror(rc);
        return kSocketNotResolved;
    }
    Lookup lookup;
    lookup.out = &out;
    ares_addrinfo_hints hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = ARES_AI_NUMERICSERV;
    const std::string service = std::to_string(port);
    ares_getaddrinfo(channel, host.c_str(), service.c_str(), &hints, OnAnswer, &lookup);

    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int result = 0;
    while (!lookup.done) {
        ares_socket_t socks[ARES_GETSOCK_MAXNUM];
        const int mask = ares_getsock(channel, socks, ARES_GETSOCK_MAXNUM);
        std::vector<pollfd> fds;
        for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
            short events = (ARES_GETSOCK_READABLE(mask, i) ? POLLIN : 0) | (ARES_GETSOCK_WRITABLE(mask, i) ? POLLOUT : 0);
            if (events) fds.push_back({socks[i], events, 0});
        }
        const size_t sockets = fds.size();
        if (stop) fds.push_back({stop->Fd(), POLLIN, 0});
        timeval maxWait{1, 0}, wait{};
        ares_timeout(channel, &maxWait, &wait);
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            result = kSocketTimedOut;
            reason = "cannot resolve \"" + host + "\": no answer within " + std::to_string(timeoutMs / 1000) + " s";
            break;
        }
        long ms = std::min<long>(left, wait.tv_sec * 1000 + wait.tv_usec / 1000 + 1);
        int n = ::poll(fds.data(), fds.size(), static_cast<int>(ms));
        if (n < 0 && errno == EINTR) continue;
        if (stop && (fds.back().revents & POLLIN) && stop->IsSet()) {
            result = kSocketCancelled;
            break;
        }
        bool any = false;
        for (size_t i = 0; i < sockets; ++i) {
            if (!fds[i].revents) continue;
            any = true;
            ares_process_fd(channel, (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) ? fds[i].fd : ARES_SOCKET_BAD,
                            (fds[i].revents & POLLOUT) ? fds[i].fd : ARES_SOCKET_BAD);
        }
        if (!any) ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // its own time-outs
    }
    // Ends a lookup still under way (its callback runs, with ARES_EDESTRUCTION).
    ares_destroy(channel);
    if (result != 0) {
        out.clear();
        return result;
    }
    if (lookup.status != ARES_SUCCESS || out.empty()) {
        reason = "cannot resolve \"" + host + "\": " +
                 (lookup.status != ARES_SUCCESS ? ares_strerror(lookup.status) : "it has no IPv4 or IPv6 address");
        out.clear();
        return kSocketNotResolved;
    }
    return 0;
}

}  // namespace kestrix::platform
