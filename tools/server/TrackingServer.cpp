#include "TrackingServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <unordered_map>

#include "ClientSession.h"
#include "platform/TlsChannel.h"

namespace kestrix::refserver {

namespace {

// Answers that a client does not read pile up here; beyond this the client is dropped.
constexpr size_t kMaxUnsent = 1 << 20;
// One read per readiness; level-triggered epoll comes back for the rest, so one busy
// client cannot hold the loop.
constexpr size_t kReadChunk = 16384;
constexpr int kReadsPerWake = 4;
// Descriptors kept free beside the connections: the listener, epoll, the wake event, the
// database and its journal, and whatever else the process has open.
constexpr int kSpareDescriptors = 64;

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

std::string AddressOf(const sockaddr_storage& addr) {
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(addr).sin6_addr, text, sizeof text);
    else
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(addr).sin_addr, text, sizeof text);
    return text;
}

uint16_t PortOf(const sockaddr_storage& addr) {
    return ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(addr).sin6_port
                                            : reinterpret_cast<const sockaddr_in&>(addr).sin_port);
}

struct Connection {
    Connection(int fd_, const sockaddr_storage& addr, SessionSink& sink, uint64_t serial_)
        : fd(fd_),
          serial(serial_),
          peer(JoinHostPort(AddressOf(addr), PortOf(addr))),
          session(sink, AddressOf(addr), serial_) {}
    int fd;
    uint64_t serial;  // never reused, unlike fd: login answers find their connection by it
    std::string peer;
    ClientSession session;
    std::unique_ptr<platform::TlsChannel> tls;  // with --tls-cert: the connection's engine
    // While its login waits (its turn, or its answer) the connection is not read.
    bool paused = false;
    std::chrono::steady_clock::time_point resumeAt;
    std::string unsent;
    std::chrono::steady_clock::time_point lastHeard;
    bool wantWrite = false;
    bool touched = false;  // in the list of connections to flush after the commit
    bool closing = false;
    std::string closeReason;
    // Its place among the connections without a login, longest silent first.
    bool waiting = false;
    std::list<Connection*>::iterator waitingAt;
};

// Raises the soft limit on open descriptors to `wanted`, or as far as the hard limit
// allows, and returns the soft limit in force.
rlim_t RaiseDescriptorLimit(rlim_t wanted) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit.rlim_cur = raised.rlim_cur;
    }
    return limit.rlim_cur;
}

}  // namespace

bool ParseListenAddress(const std::string& text, std::string& host, uint16_t& port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    std::string h = text.substr(0, colon);
    unsigned char addr[16];
    if (h.size() > 2 && h.front() == '[' && h.back() == ']') {
        h = h.substr(1, h.size() - 2);
        if (inet_pton(AF_INET6, h.c_str(), addr) != 1) return false;
    } else if (inet_pton(AF_INET, h.c_str(), addr) != 1) {
        return false;
    }
    unsigned long value = 0;
    for (size_t i = colon + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
        if (value > 65535) return false;
    }
    host = h;
    port = static_cast<uint16_t>(value);
    return true;
}

std::string JoinHostPort(const std::string& host, uint16_t port) {
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

TrackingServer::TrackingServer(Store& store, ServerOptions options)
    : options_(std::move(options)),
      writer_(store, options_.writer),
      sink_(writer_, options_.now, options_.logins, options_.loginWait) {}

TrackingServer::~TrackingServer() {
    Stop();
}

std::string TrackingServer::Address() const {
    return JoinHostPort(host_, port_);
}

void TrackingServer::CloseFds() {
    for (int* fd : {&listenFd_, &epollFd_, &wakeFd_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

bool TrackingServer::Start() {
    if (thread_.joinable()) {
        error_ = "already running";
        return false;
    }
    uint16_t port = 0;
    if (!ParseListenAddress(options_.listen, host_, port)) {
        error_ = "bad listen address \"" + options_.listen + "\" (expected ADDR:PORT, e.g. 127.0.0.1:1201)";
        return false;
    }
    sockaddr_storage addr{};
    socklen_t addrLen;
    if (host_.find(':') != std::string::npos) {
        auto& a6 = reinterpret_cast<sockaddr_in6&>(addr);
        a6.sin6_family = AF_INET6;
        a6.sin6_port = htons(port);
        inet_pton(AF_INET6, host_.c_str(), &a6.sin6_addr);
        addrLen = sizeof a6;
    } else {
        auto& a4 = reinterpret_cast<sockaddr_in&>(addr);
        a4.sin_family = AF_INET;
        a4.sin_port = htons(port);
        inet_pton(AF_INET, host_.c_str(), &a4.sin_addr);
        addrLen = sizeof a4;
    }

    listenFd_ = socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error_ = SystemError("socket");
        return false;
    }
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    // [::] means IPv6 only; 0.0.0.0 takes IPv4.
    if (addr.ss_family == AF_INET6) setsockopt(listenFd_, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), addrLen) != 0) {
        error_ = SystemError(("cannot listen on " + options_.listen).c_str());
        CloseFds();
        return false;
    }
    if (listen(listenFd_, SOMAXCONN) != 0) {
        error_ = SystemError("listen");
        CloseFds();
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = PortOf(addr);

    epollFd_ = epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epollFd_ < 0 || wakeFd_ < 0) {
        error_ = SystemError("epoll");
        CloseFds();
        return false;
    }
    const int wanted = std::max(options_.maxConnections, 1);
    const rlim_t limit = RaiseDescriptorLimit(static_cast<rlim_t>(wanted) + kSpareDescriptors);
    capacity_ = wanted;
    if (limit < static_cast<rlim_t>(wanted) + kSpareDescriptors) {
        capacity_ = static_cast<int>(limit > 2 * kSpareDescriptors ? limit - kSpareDescriptors : limit / 2);
        std::fprintf(stderr, "kestrix-server: the descriptor limit (%llu) holds %d connections, not %d\n",
                     static_cast<unsigned long long>(limit), capacity_, wanted);
    }
    if (!writer_.Start(error_)) {
        CloseFds();
        return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    for (int fd : {listenFd_, wakeFd_, writer_.NotifyFd()}) {
        ev.data.fd = fd;
        epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev);
    }
    thread_ = std::thread([this] { Run(); });
    return true;
}

void TrackingServer::Stop() {
    if (thread_.joinable()) {
        uint64_t one = 1;
        while (write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    writer_.Stop();
    CloseFds();
}

void TrackingServer::Run() {
    StoreSink& sink = sink_;
    std::unordered_map<int, std::unique_ptr<Connection>> conns;
    std::unordered_map<uint64_t, Connection*> bySerial;
    uint64_t nextSerial = 1;
    // Off while the writer's queue is full: no connection is read.
    bool reading = true;
    // The connections that have not logged in, longest silent first: the first to go
    // when a newcomer needs room.
    std::list<Connection*> waiting;
    // Connections with answers to send or to close, handled after the pass's commit.
    std::vector<Connection*> touched;
    // Connections whose logins wait their turn.
    std::vector<Connection*> paused;
    std::vector<uint8_t> buffer(kReadChunk);
    bool listenerPaused = false;
    auto sweepEvery = std::min<std::chrono::milliseconds>(std::chrono::milliseconds(1000), options_.idleLimit / 4);
    if (sweepEvery < std::chrono::milliseconds(1)) sweepEvery = std::chrono::milliseconds(1);
    auto lastSweep = std::chrono::steady_clock::now();

    auto setListener = [&](bool on) {
        epoll_event ev{};
        ev.events = on ? static_cast<uint32_t>(EPOLLIN) : 0u;
        ev.data.fd = listenFd_;
        epoll_ctl(epollFd_, EPOLL_CTL_MOD, listenFd_, &ev);
        listenerPaused = !on;
    };
    auto drop = [&](Connection& c) {
        if (!c.closeReason.empty())
            std::fprintf(stderr, "kestrix-server: %s closed: %s\n", c.peer.c_str(), c.closeReason.c_str());
        epoll_ctl(epollFd_, EPOLL_CTL_DEL, c.fd, nullptr);
        close(c.fd);
        if (c.waiting) waiting.erase(c.waitingAt);
        if (c.paused) std::erase(paused, &c);
        bySerial.erase(c.serial);
        conns.erase(c.fd);
        connections_ = static_cast<int>(conns.size());
        if (listenerPaused) setListener(true);
    };
    // Keeps the list of connections without a login in order after c was heard from.
    auto heard = [&](Connection& c) {
        if (c.waiting) waiting.erase(c.waitingAt);
        c.waiting = !c.session.LoggedIn();
        if (c.waiting) c.waitingAt = waiting.insert(waiting.end(), &c);
    };
    // Closes the longest silent connection without a login; false when there is none.
    // Connections with work pending in this pass are passed over: they were just heard
    // from, or still owe an answer, and are referred to from `touched`.
    auto makeRoom = [&]() -> bool {
        for (Connection* c : waiting) {
            if (c->touched || c->closing) continue;
            ++evicted_;
            drop(*c);
            return true;
        }
        return false;
    };
    auto touch = [&](Connection& c) {
        if (!c.touched) touched.push_back(&c);
        c.touched = true;
    };
    auto watch = [&](Connection& c) {
        epoll_event ev{};
        ev.events = (c.paused || !reading ? 0u : static_cast<uint32_t>(EPOLLIN)) |
                    (c.wantWrite ? static_cast<uint32_t>(EPOLLOUT) : 0u);
        ev.data.fd = c.fd;
        epoll_ctl(epollFd_, EPOLL_CTL_MOD, c.fd, &ev);
    };
    auto closeLater = [&](Connection& c, std::string why) {
        if (c.closing) return;
        c.closing = true;
        c.closeReason = std::move(why);
        epoll_event ev{};
        ev.events = 0;
        ev.data.fd = c.fd;
        epoll_ctl(epollFd_, EPOLL_CTL_MOD, c.fd, &ev);
        touch(c);
    };
    // After the session was fed: a login that waits its turn stops the reading.
    auto afterFeed = [&](Connection& c, bool ok) {
        if (c.session.HasOutput()) touch(c);
        if (!ok) return closeLater(c, c.session.Error());
        if (c.session.Pause().count() > 0 && !c.paused) {
            c.paused = true;
            c.resumeAt = std::chrono::steady_clock::now() + c.session.Pause();
            paused.push_back(&c);
            watch(c);
        }
    };
    // Marks a connection for closing at the end of the pass; it is read no more.
    // Sends what the session answered; the rest waits for EPOLLOUT. False when the
    // connection is beyond help.
    auto flush = [&](Connection& c) -> bool {
        if (c.session.HasOutput()) {
            std::string answer = c.session.TakeOutput();
            if (c.tls)
                c.tls->Send(answer.data(), answer.size());
            else
                c.unsent += answer;
        }
        if (c.tls) c.unsent += c.tls->TakeOutgoing();
        while (!c.unsent.empty()) {
            ssize_t n = send(c.fd, c.unsent.data(), c.unsent.size(), MSG_NOSIGNAL);
            if (n > 0) {
                c.unsent.erase(0, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            return false;
        }
        if (c.unsent.size() > kMaxUnsent) return false;
        bool want = !c.unsent.empty();
        if (want != c.wantWrite && !c.closing) {
            c.wantWrite = want;
            watch(c);
        }
        return true;
    };
    auto acceptAll = [&] {
        for (;;) {
            sockaddr_storage peer{};
            socklen_t len = sizeof peer;
            int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                // Out of descriptors below the cap (the process holds others): make room
                // as when full.
                if ((errno == EMFILE || errno == ENFILE) && makeRoom()) continue;
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                    // Out of descriptors: stop listening until a connection closes, instead
                    // of spinning on a listener that stays readable.
                    std::fprintf(stderr, "kestrix-server: %s\n", SystemError("accept").c_str());
                    setListener(false);
                }
                return;
            }
            if (static_cast<int>(conns.size()) >= capacity_ && !makeRoom()) {
                ++refused_;
                close(fd);
                continue;
            }
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            auto c = std::make_unique<Connection>(fd, peer, sink, nextSerial++);
            if (options_.tls) c->tls = std::make_unique<platform::TlsChannel>(options_.tls);
            c->lastHeard = std::chrono::steady_clock::now();
            epoll_event ev{};
            ev.events = reading ? static_cast<uint32_t>(EPOLLIN) : 0u;
            ev.data.fd = fd;
            if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
                close(fd);
                continue;
            }
            heard(*c);
            bySerial.emplace(c->serial, c.get());
            conns.emplace(fd, std::move(c));
            ++accepted_;
            connections_ = static_cast<int>(conns.size());
        }
    };
    // Back-pressure: while the writer's queue is full nothing is read, and TCP holds the
    // clients back. Silence meanwhile is the server's doing, so idle time starts afresh.
    // Said on stderr at most once a minute: a database slower than the trackers for long
    // makes the server stop and go on every few seconds.
    std::chrono::steady_clock::time_point heldSince, lastHoldSaid;
    bool holdSaid = false;
    auto setReading = [&](bool on) {
        reading = on;
        holdingBack_ = !on;
        const auto now = std::chrono::steady_clock::now();
        if (!on) {
            writer_.WantRoom();
            heldSince = now;
            holdSaid = lastHoldSaid == std::chrono::steady_clock::time_point{} || now - lastHoldSaid > std::chrono::minutes(1);
            if (holdSaid) {
                lastHoldSaid = now;
                std::fprintf(stderr,
                             "kestrix-server: %.1f MB wait for the database; no tracker is read until it takes them\n",
                             static_cast<double>(writer_.Queued()) / (1 << 20));
            }
        } else if (holdSaid) {
            std::fprintf(stderr, "kestrix-server: reading trackers again after %.1f s\n",
                         std::chrono::duration<double>(now - heldSince).count());
        }
        for (auto& [fd, c] : conns) {
            if (on) c->lastHeard = now;
            if (!c->closing) watch(*c);
        }
    };
    auto readFrom = [&](Connection& c) {
        for (int i = 0; i < kReadsPerWake; ++i) {
            ssize_t n = recv(c.fd, buffer.data(), buffer.size(), 0);
            if (n > 0) {
                c.lastHeard = std::chrono::steady_clock::now();
                bool ok;
                if (c.tls) {
                    // The handshake's answers go out with the pass's flush; what the client
                    // said in plain text goes to its session.
                    std::string plain;
                    const auto state = c.tls->Receive(reinterpret_cast<const char*>(buffer.data()),
                                                      static_cast<size_t>(n), plain);
                    if (c.tls->HasOutgoing()) touch(c);
                    if (state == platform::TlsChannel::State::Failed) return closeLater(c, c.tls->Error());
                    ok = c.session.Feed(reinterpret_cast<const uint8_t*>(plain.data()), plain.size());
                } else {
                    ok = c.session.Feed(buffer.data(), static_cast<size_t>(n));
                }
                heard(c);
                afterFeed(c, ok);
                if (reading && writer_.Full()) setReading(false);
                if (!ok || c.paused || !reading || static_cast<size_t>(n) < buffer.size()) return;
                continue;
            }
            if (n == 0) return closeLater(c, c.session.Buffered() ? "peer closed inside a packet" : "");
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            return closeLater(c, SystemError("recv"));
        }
    };

    // The writer's answers to logins, each to the connection that still waits for it.
    auto answered = [&] {
        for (const StoreWriter::LoginAnswer& a : writer_.TakeAnswers()) {
            auto it = bySerial.find(a.session);
            if (it == bySerial.end()) continue;
            Connection& c = *it->second;
            if (c.closing || !c.session.AwaitsLogin(a.request)) continue;
            std::erase(paused, &c);
            c.paused = false;
            watch(c);
            const bool ok = c.session.Answer(a.userId);
            heard(c);  // logged in now, or still not
            afterFeed(c, ok);
        }
    };

    auto resumeDue = [&] {
        const auto now = std::chrono::steady_clock::now();
        std::vector<Connection*> due;
        for (Connection* c : paused)
            if (c->resumeAt <= now) due.push_back(c);
        for (Connection* c : due) {
            std::erase(paused, c);
            c->paused = false;
            if (c->closing) continue;
            watch(*c);
            afterFeed(*c, c->session.Resume());
        }
    };

    epoll_event events[64];
    bool running = true;
    while (running) {
        auto wait = sweepEvery;
        for (Connection* c : paused)
            wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(c->resumeAt - std::chrono::steady_clock::now()));
        int timeout = static_cast<int>(std::max<long long>(wait.count(), 0));
        int n = epoll_wait(epollFd_, events, 64, timeout);
        if (n < 0 && errno != EINTR) {
            std::fprintf(stderr, "kestrix-server: %s\n", SystemError("epoll_wait").c_str());
            break;
        }
        for (int i = 0; i < n; ++i) {
            int fd = events[i].data.fd;
            if (fd == wakeFd_) {
                running = false;
            } else if (fd == writer_.NotifyFd()) {
                answered();
            } else if (fd == listenFd_) {
                acceptAll();
            } else {
                auto it = conns.find(fd);
                if (it == conns.end() || it->second->closing) continue;
                Connection& c = *it->second;
                if (events[i].events & EPOLLOUT) touch(c);
                if (c.paused && (events[i].events & (EPOLLHUP | EPOLLERR)))
                    closeLater(c, "");  // gone while its login waited
                else if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR))
                    readFrom(c);
            }
        }
        resumeDue();
        if (!reading && writer_.HasRoom()) setReading(true);
        for (Connection* c : touched) {
            c->touched = false;
            if (!flush(*c) && !c->closing) {
                c->closing = true;
                c->closeReason = "cannot send";
            }
            if (c->closing) drop(*c);
        }
        touched.clear();

        auto now = std::chrono::steady_clock::now();
        if (reading && now - lastSweep >= sweepEvery) {
            lastSweep = now;
            std::vector<Connection*> idle;
            for (auto& [fd, c] : conns)
                if (now - c->lastHeard > options_.idleLimit) idle.push_back(c.get());
            for (Connection* c : idle) {
                c->closeReason = "idle for too long";
                drop(*c);
            }
            if (listenerPaused) setListener(true);
        }
    }
    for (auto& [fd, c] : conns) close(fd);
    conns.clear();
    connections_ = 0;
}

}  // namespace kestrix::refserver
