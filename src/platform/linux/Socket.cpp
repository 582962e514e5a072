#include "platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/LastError.h"
#include "platform/linux/Resolver.h"

namespace kestrix::platform {
namespace {

int Fail(int code) {
    SetLastError(code);
    return code;
}

// Waits for the descriptor or the stop event. Returns 0 when the descriptor is ready,
// else the error code to report.
int WaitReady(int fd, bool forWrite, int timeoutMs, Event* stop) {
    std::vector<Waitable> items;
    items.push_back(forWrite ? Waitable::Writable(fd) : Waitable::Readable(fd));
    if (stop) items.push_back(Waitable::Of(*stop));
    int r = WaitAny(std::span<const Waitable>(items.data(), items.size()), timeoutMs);
    if (r == 0) return 0;
    if (r == 1) return kSocketCancelled;
    if (r == kWaitTimeout) return kSocketTimedOut;
    int e = GetLastError();
    return e ? e : EIO;
}

void SwitchOn(int fd, int level, int option) {
    int one = 1;
    ::setsockopt(fd, level, option, &one, sizeof one);
}

int RemainingMs(std::chrono::steady_clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Closes a socket that could not be set up and reports err.
int CloseAndFail(int fd, int err) {
    ::close(fd);
    return Fail(err);
}

}  // namespace

Socket::Socket(int fd) : fd_(fd) {
    if (fd_ >= 0) {
        int flags = fcntl(fd_, F_GETFL, 0);
        if (flags >= 0) fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    }
}

Socket::~Socket() { Close(); }

Socket::Socket(Socket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), tls_(std::move(other.tls_)), plain_(std::move(other.plain_)),
      reason_(std::move(other.reason_)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        tls_ = std::move(other.tls_);
        plain_ = std::move(other.plain_);
        reason_ = std::move(other.reason_);
    }
    return *this;
}

int Socket::FailWith(int code, std::string reason) {
    reason_ = std::move(reason);
    return platform::Fail(code);
}

int Socket::Connect(const std::string& host, uint16_t port, int timeoutMs, Event* stop,
                    std::shared_ptr<TlsContext> tls) {
    Close();
    reason_.clear();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<ResolvedAddress> addresses;
    std::string why;
    int err = ResolveHost(host, port, timeoutMs, stop, addresses, why);
    if (err != 0) return FailWith(err, why);
    // Every address in turn, within the one time limit; the last one's error is reported.
    for (const ResolvedAddress& a : addresses) {
        const int fd = ::socket(a.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0) {
            err = errno;
            continue;
        }
        SwitchOn(fd, IPPROTO_TCP, TCP_NODELAY);
        int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&a.address), a.length);
        err = rc == 0 ? 0 : errno;
        if (err == EINPROGRESS) {
            err = WaitReady(fd, true, RemainingMs(end), stop);
            if (err == 0) {
                socklen_t len = sizeof err;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            }
        }
        if (err == 0) {
            fd_ = fd;
            break;
        }
        ::close(fd);
        if (err == kSocketCancelled || err == kSocketTimedOut) break;
    }
    if (fd_ < 0) return FailWith(err, err == kSocketTimedOut ? "no connection within the time limit" : std::strerror(err));
    if (tls) {
        tls_ = std::make_unique<TlsChannel>(std::move(tls), host);
        err = Handshake(RemainingMs(end), stop);
        if (err != 0) {
            std::string reason = tls_->GetState() == TlsChannel::State::Failed ? tls_->Error() : std::strerror(err);
            Close();
            return FailWith(err, reason);
        }
    }
    SetLastError(0);
    return 0;
}

namespace {

// Sends every byte of data on a non-blocking descriptor: 0, or the error code.
int SendRaw(int fd, const char* data, size_t length, int timeoutMs, Event* stop) {
    size_t sent = 0;
    while (sent < length) {
        ssize_t n = ::send(fd, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return errno;
        if (int err = WaitReady(fd, true, timeoutMs, stop); err != 0) return err;
    }
    return 0;
}

// One receive, waiting up to timeoutMs for the first byte: the count (0: the peer closed)
// or -1 with err set.
long ReceiveRaw(int fd, char* buffer, size_t length, int timeoutMs, Event* stop, bool peek, int& err) {
    for (;;) {
        ssize_t n = ::recv(fd, buffer, length, MSG_DONTWAIT | (peek ? MSG_PEEK : 0));
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            err = errno;
            return -1;
        }
        if ((err = WaitReady(fd, false, timeoutMs, stop)) != 0) return -1;
    }
}

}  // namespace

int Socket::Handshake(int timeoutMs, Event* stop) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::string out = tls_->TakeOutgoing();
        if (int err = SendRaw(fd_, out.data(), out.size(), RemainingMs(end), stop); err != 0) return err;
        if (tls_->GetState() == TlsChannel::State::Open) return 0;
        if (tls_->GetState() != TlsChannel::State::Handshaking) return kSocketTlsFailed;
        char buffer[16384];
        int err = 0;
        long n = ReceiveRaw(fd_, buffer, sizeof buffer, RemainingMs(end), stop, false, err);
        if (n < 0) return err;
        if (n == 0) {
            tls_->Receive(nullptr, 0, plain_);
            return kSocketTlsFailed;  // the server hung up in the handshake
        }
        tls_->Receive(buffer, static_cast<size_t>(n), plain_);
    }
}

bool Socket::SendAll(const uint8_t* data, size_t length, int timeoutMs, Event* stop) {
    if (fd_ < 0) {
        Fail(EBADF);
        return false;
    }
    int err;
    if (tls_) {
        tls_->Send(reinterpret_cast<const char*>(data), length);
        std::string out = tls_->TakeOutgoing();
        err = tls_->GetState() == TlsChannel::State::Open ? SendRaw(fd_, out.data(), out.size(), timeoutMs, stop)
                                                           : kSocketTlsFailed;
    } else {
        err = SendRaw(fd_, reinterpret_cast<const char*>(data), length, timeoutMs, stop);
    }
    Fail(err);
    return err == 0;
}

long Socket::Fill(int timeoutMs, Event* stop) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (plain_.empty()) {
        if (tls_->GetState() != TlsChannel::State::Open) return tls_->GetState() == TlsChannel::State::Closed ? 0 : -1;
        char buffer[16384];
        int err = 0;
        long n = ReceiveRaw(fd_, buffer, sizeof buffer, RemainingMs(end), stop, false, err);
        if (n < 0) {
            Fail(err);
            return -1;
        }
        if (n == 0) return 0;
        tls_->Receive(buffer, static_cast<size_t>(n), plain_);
        // A key update or a close may want an answer; it is sent as it comes.
        std::string out = tls_->TakeOutgoing();
        if (int e = SendRaw(fd_, out.data(), out.size(), RemainingMs(end), stop); e != 0) {
            Fail(e);
            return -1;
        }
        if (tls_->GetState() == TlsChannel::State::Failed) {
            Fail(kSocketTlsFailed);
            return -1;
        }
    }
    return static_cast<long>(plain_.size());
}

long Socket::Receive(uint8_t* buffer, size_t length, int timeoutMs, Event* stop, bool peek) {
    if (fd_ < 0) {
        Fail(EBADF);
        return -1;
    }
    if (!tls_) {
        int err = 0;
        long n = ReceiveRaw(fd_, reinterpret_cast<char*>(buffer), length, timeoutMs, stop, peek, err);
        Fail(n < 0 ? err : 0);
        return n;
    }
    long n = Fill(timeoutMs, stop);
    if (n <= 0) {
        if (n == 0) Fail(0);
        return n;
    }
    const size_t take = std::min(length, plain_.size());
    std::memcpy(buffer, plain_.data(), take);
    if (!peek) plain_.erase(0, take);
    Fail(0);
    return static_cast<long>(take);
}

void Socket::Close() {
    if (fd_ < 0) return;
    if (tls_ && tls_->IsOpen()) {
        tls_->Close();
        std::string out = tls_->TakeOutgoing();
        (void)::send(fd_, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    tls_.reset();
    plain_.clear();
    ::shutdown(fd_, SHUT_RDWR);
    // Take in what already arrived so the close is orderly, but never wait for a peer
    // that keeps the connection open.
    uint8_t scratch[128];
    for (int i = 0; i < 512; ++i) {
        ssize_t n = ::recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n <= 0) break;
    }
    ::close(fd_);
    fd_ = -1;
}

TcpListener::~TcpListener() { Close(); }

int TcpListener::Listen(const std::string& host, uint16_t port, int backlog) {
    Close();
    ResolvedAddress a;
    std::vector<ResolvedAddress> literal;
    std::string why;
    // A literal address only: a listener is never bound through a name.
    if (host.find_first_not_of("0123456789abcdefABCDEF.:") != std::string::npos ||
        ResolveHost(host, port, 0, nullptr, literal, why) != 0 || literal.empty())
        return Fail(kSocketBadAddress);
    a = literal.front();
    const int fd = ::socket(a.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return Fail(errno);
    SwitchOn(fd, SOL_SOCKET, SO_REUSEADDR);
    if (a.address.ss_family == AF_INET6) SwitchOn(fd, IPPROTO_IPV6, IPV6_V6ONLY);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a.address), a.length) != 0 || ::listen(fd, backlog) != 0)
        return CloseAndFail(fd, errno);
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) != 0) return CloseAndFail(fd, errno);
    fd_ = fd;
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    SetLastError(0);
    return 0;
}

Socket TcpListener::Accept(int timeoutMs, Event* stop) {
    if (fd_ < 0) {
        Fail(EBADF);
        return Socket();
    }
    for (;;) {
        int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            SwitchOn(fd, IPPROTO_TCP, TCP_NODELAY);
            return Socket(fd);
        }
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail(errno);
            return Socket();
        }
        int err = WaitReady(fd_, false, timeoutMs, stop);
        if (err != 0) {
            Fail(err);
            return Socket();
        }
    }
}

void TcpListener::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    port_ = 0;
}

}  // namespace kestrix::platform
