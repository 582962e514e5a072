#include "platform/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>

#include "platform/LastError.h"

namespace kestrix::platform {

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

PseudoTerminal::~PseudoTerminal() {
    Unlink();
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
}

bool PseudoTerminal::Create() {
    if (master_ >= 0) return true;
    const int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0) {
        SetLastError(errno);
        return false;
    }
    char name[PATH_MAX];
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
        const int err = errno;
        ::close(m);
        SetLastError(err);
        return false;
    }
    const int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0) {
        const int err = errno;
        ::close(m);
        SetLastError(err);
        return false;
    }
    termios t{};
    if (tcgetattr(s, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(s, TCSANOW, &t);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    master_ = m;
    slave_ = s;
    slavePath_ = name;
    SetLastError(0);
    return true;
}

bool PseudoTerminal::LinkAt(const std::string& path) {
    if (master_ < 0 || path.empty()) {
        SetLastError(EBADF);
        return false;
    }
    struct stat st{};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            SetLastError(EEXIST);
            return false;
        }
        ::unlink(path.c_str());
    }
    if (::symlink(slavePath_.c_str(), path.c_str()) != 0) {
        SetLastError(errno);
        return false;
    }
    linkPath_ = path;
    return true;
}

void PseudoTerminal::Unlink() {
    if (linkPath_.empty()) return;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n > 0 && slavePath_ == std::string(target, static_cast<size_t>(n))) ::unlink(linkPath_.c_str());
    linkPath_.clear();
}

bool PseudoTerminal::Write(std::string_view bytes, int timeoutMs) {
    if (master_ < 0) {
        SetLastError(EBADF);
        return false;
    }
    const int64_t deadline = NowMs() + timeoutMs;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR) {
            SetLastError(errno);
            return false;
        }
        const int64_t left = deadline - NowMs();
        if (left <= 0) {
            SetLastError(ETIMEDOUT);
            return false;
        }
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
    return true;
}

size_t PseudoTerminal::Pending() const {
    int n = 0;
    if (slave_ < 0 || ioctl(slave_, FIONREAD, &n) != 0 || n < 0) return 0;
    return static_cast<size_t>(n);
}

void PseudoTerminal::DiscardPending() {
    if (slave_ >= 0) tcflush(slave_, TCIFLUSH);
}

void PseudoTerminal::CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

}  // namespace kestrix::platform
