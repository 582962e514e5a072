#include "platform/GpsMultiplexer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>

#include "platform/Event.h"
#include "platform/LastError.h"
#include "platform/Registry.h"

namespace kestrix::platform {

namespace {

std::atomic<uint16_t> g_gpsdPort{kDefaultGpsdPort};

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Waits for fd to be ready (or stop to be set). Returns 1 ready, 0 time-out, -1 stopped
// or failed (LastError set).
int WaitReady(int fd, short events, int64_t deadline, Event* stop) {
    for (;;) {
        const int64_t left = deadline - NowMs();
        if (left <= 0) return 0;
        pollfd fds[2] = {{fd, events, 0}, {stop ? stop->Fd() : -1, POLLIN, 0}};
        const int r = ::poll(fds, stop ? 2 : 1, static_cast<int>(left));
        if (r < 0) {
            if (errno == EINTR) continue;
            SetLastError(errno);
            return -1;
        }
        if (r == 0) return 0;
        if (stop && (fds[1].revents & POLLIN) && stop->IsSet()) {
            SetLastError(ECANCELED);
            return -1;
        }
        if (fds[0].revents) return 1;
    }
}

}  // namespace

uint16_t GpsdPort() { return g_gpsdPort.load(); }
void SetGpsdPort(uint16_t port) { g_gpsdPort.store(port); }

int ConnectToGpsd(int timeoutMs, Event* stop) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetLastError(errno);
        return -1;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(GpsdPort());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS) {
            const int err = errno;
            ::close(fd);
            SetLastError(err);
            return -1;
        }
        const int r = WaitReady(fd, POLLOUT, NowMs() + timeoutMs, stop);
        int err = 0;
        socklen_t len = sizeof err;
        if (r == 0) {
            err = ETIMEDOUT;
        } else if (r < 0) {
            err = GetLastError();
        } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
            err = errno;
        }
        if (err != 0) {
            ::close(fd);
            SetLastError(err);
            return -1;
        }
    }
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    SetLastError(0);
    return fd;
}

bool GpsdAnswers(int timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    const int fd = ConnectToGpsd(timeoutMs);
    if (fd < 0) return false;
    // gpsd greets every client with {"class":"VERSION",...}; anything else on the port
    // is not a multiplexer.
    std::string greeting;
    char buf[256];
    bool ok = false;
    while (greeting.size() < 4096 && greeting.find('\n') == std::string::npos) {
        if (WaitReady(fd, POLLIN, deadline, nullptr) != 1) break;
        const ssize_t k = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (k < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (k <= 0) break;
        greeting.append(buf, static_cast<size_t>(k));
    }
    ok = greeting.find("\"class\":\"VERSION\"") != std::string::npos;
    ::close(fd);
    return ok;
}

bool UpdateGpsMultiplexerRegistry(int timeoutMs) {
    const bool present = GpsdAnswers(timeoutMs);
    auto key = RegKey::Open(kMultiplexerKey, present);
    if (!key) return false;  // no key and no gpsd: nothing to remove
    if (present) {
        key->SetString(kMultiplexerValue, kMultiplexerPortName);
    } else if (key->Has(kMultiplexerValue)) {
        key->DeleteValue(kMultiplexerValue);
    }
    return key->Close() == kErrorSuccess && present;
}

}  // namespace kestrix::platform
