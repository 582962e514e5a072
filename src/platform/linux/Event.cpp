#include "platform/Event.h"

#include <cerrno>
#include <chrono>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/LastError.h"
#include "platform/Log.h"
#include "platform/MessageLoop.h"

namespace kestrix::platform {

namespace {

void Signal(int fd) {
    uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Drain(int fd) {
    uint64_t value = 0;
    while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

}  // namespace

// The descriptor is readable exactly while the event is set, so it can sit in any poll set.
Event::Event(bool manualReset, bool initiallySet) : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), manual_(manualReset) {
    if (fd_ < 0) LogError("eventfd failed: errno " + std::to_string(errno));
    if (initiallySet) Set();
}

Event::~Event() {
    if (fd_ >= 0) ::close(fd_);
}

void Event::Set() {
    std::lock_guard lock(mutex_);
    if (set_) return;
    set_ = true;
    if (fd_ >= 0) Signal(fd_);
}

void Event::Reset() {
    std::lock_guard lock(mutex_);
    if (!set_) return;
    set_ = false;
    if (fd_ >= 0) Drain(fd_);
}

bool Event::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

bool Event::TryConsume() {
    std::lock_guard lock(mutex_);
    if (!set_) return false;
    if (!manual_) {
        set_ = false;
        if (fd_ >= 0) Drain(fd_);
    }
    return true;
}

bool Event::Wait(int timeoutMs) {
    Waitable self = Waitable::Of(*this);
    return WaitAny(std::span<const Waitable>(&self, 1), timeoutMs) == 0;
}

int WaitAny(std::span<const Waitable> items, int timeoutMs) {
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    MessageLoop* loop = MessageLoop::Current();

    std::vector<pollfd> fds(items.size() + (loop ? 1 : 0));
    for (size_t i = 0; i < items.size(); ++i) {
        const Waitable& w = items[i];
        fds[i].fd = w.event ? w.event->Fd() : w.fd;
        fds[i].events = static_cast<short>(w.event || !w.forWrite ? POLLIN : POLLOUT);
    }
    if (loop) {
        fds.back().fd = loop->SentMessageFd();
        fds.back().events = POLLIN;
    }

    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        for (auto& p : fds) p.revents = 0;
        int rc = ::poll(fds.data(), fds.size(), wait);
        if (rc < 0) {
            if (errno == EINTR) continue;
            SetLastError(errno);
            return kWaitFailed;
        }
        for (size_t i = 0; i < items.size(); ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].revents & POLLNVAL) {
                SetLastError(EBADF);
                return kWaitFailed;
            }
            if (Event* e = items[i].event) {
                // Another waiter may have taken an auto-reset signal first: keep waiting then.
                if (e->TryConsume()) return static_cast<int>(i);
                continue;
            }
            return static_cast<int>(i);
        }
        if (loop && fds.back().revents) loop->ProcessSentMessages();
        if (timeoutMs >= 0 && clock::now() >= deadline) return kWaitTimeout;
    }
}

}  // namespace kestrix::platform
