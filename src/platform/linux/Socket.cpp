#include "platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/LastError.h"

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

bool ParseAddress(const std::string& host, uint16_t port, sockaddr_in& addr) {
    addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    return inet_pton(AF_INET, host.c_str(), &addr.sin_addr) == 1;
}

void SwitchOn(int fd, int level, int option) {
    int one = 1;
    ::setsockopt(fd, level, option, &one, sizeof one);
}

// A non-blocking TCP socket for a dotted IPv4 address (in addr), with one option switched
// on: the descriptor, or -1 with the error code in err (and in LastError).
int OpenTcpSocket(const std::string& host, uint16_t port, int level, int option, sockaddr_in& addr, int& err) {
    if (!ParseAddress(host, port, addr)) {
        err = Fail(kSocketBadAddress);
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        err = Fail(errno);
        return -1;
    }
    SwitchOn(fd, level, option);
    return fd;
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

Socket::Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

int Socket::Connect(const std::string& host, uint16_t port, int timeoutMs, Event* stop) {
    Close();
    sockaddr_in addr;
    int err = 0;
    const int fd = OpenTcpSocket(host, port, IPPROTO_TCP, TCP_NODELAY, addr, err);
    if (fd < 0) return err;
    int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    err = rc == 0 ? 0 : errno;
    if (err == EINPROGRESS) {
        err = WaitReady(fd, true, timeoutMs, stop);
        if (err == 0) {
            socklen_t len = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        }
    }
    if (err != 0) return CloseAndFail(fd, err);
    fd_ = fd;
    SetLastError(0);
    return 0;
}

bool Socket::SendAll(const uint8_t* data, size_t length, int timeoutMs, Event* stop) {
    if (fd_ < 0) {
        Fail(EBADF);
        return false;
    }
    size_t sent = 0;
    while (sent < length) {
        ssize_t n = ::send(fd_, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail(errno);
            return false;
        }
        int err = WaitReady(fd_, true, timeoutMs, stop);
        if (err != 0) {
            Fail(err);
            return false;
        }
    }
    SetLastError(0);
    return true;
}

long Socket::Receive(uint8_t* buffer, size_t length, int timeoutMs, Event* stop, bool peek) {
    if (fd_ < 0) {
        Fail(EBADF);
        return -1;
    }
    for (;;) {
        ssize_t n = ::recv(fd_, buffer, length, MSG_DONTWAIT | (peek ? MSG_PEEK : 0));
        if (n >= 0) {
            SetLastError(0);
            return static_cast<long>(n);
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail(errno);
            return -1;
        }
        int err = WaitReady(fd_, false, timeoutMs, stop);
        if (err != 0) {
            Fail(err);
            return -1;
        }
    }
}

void Socket::Close() {
    if (fd_ < 0) return;
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
    sockaddr_in addr;
    int err = 0;
    const int fd = OpenTcpSocket(host, port, SOL_SOCKET, SO_REUSEADDR, addr, err);
    if (fd < 0) return err;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0)
        return CloseAndFail(fd, errno);
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) != 0) return CloseAndFail(fd, errno);
    fd_ = fd;
    port_ = ntohs(bound.sin_port);
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
