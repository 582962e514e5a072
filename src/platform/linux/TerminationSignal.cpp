#include "platform/TerminationSignal.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace kestrix::platform {

namespace {

// A self-pipe: write() is one of the few calls a signal handler may make.
int g_pipe[2] = {-1, -1};
// Written by the signal handler, read by any thread: a lock-free atomic is both
// async-signal-safe and race-free.
std::atomic<int> g_number{0};
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction g_oldInt;
struct sigaction g_oldTerm;

void OnSignal(int number) {
    const int saved = errno;
    g_number = number;
    const char c = 1;
    if (g_pipe[1] >= 0) {
        [[maybe_unused]] const ssize_t r = ::write(g_pipe[1], &c, 1);
    }
    errno = saved;
}

}  // namespace

TerminationSignal::TerminationSignal() {
    g_number = 0;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
    struct sigaction sa{};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, &g_oldInt);
    sigaction(SIGTERM, &sa, &g_oldTerm);
}

TerminationSignal::~TerminationSignal() {
    sigaction(SIGINT, &g_oldInt, nullptr);
    sigaction(SIGTERM, &g_oldTerm, nullptr);
    for (int& fd : g_pipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

bool TerminationSignal::Received() const { return g_number != 0; }
int TerminationSignal::Fd() const { return g_pipe[0]; }
int TerminationSignal::Number() const { return g_number; }

}  // namespace kestrix::platform
