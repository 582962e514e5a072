#include "Retention.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace kestrix::refserver {

namespace {
constexpr int64_t kDayMs = int64_t{24} * 3600 * 1000;
constexpr auto kRetryAfter = std::chrono::hours(1);
constexpr auto kEvery = std::chrono::hours(24);
}  // namespace

Retention::Retention(std::string database, int keepDays, std::function<int64_t()> now)
    : database_(std::move(database)), keepDays_(keepDays), now_(std::move(now)) {}

Retention::~Retention() {
    Stop();
    if (abortFd_ >= 0) close(abortFd_);
}

bool Retention::Start(std::string& error) {
    if (thread_.joinable()) {
        error = "already started";
        return false;
    }
    if (abortFd_ < 0) abortFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (abortFd_ < 0) {
        error = std::string("cannot make an event: ") + std::strerror(errno);
        return false;
    }
    store_ = MakeStore(database_);
    store_->SetAbort(abortFd_);
    stopping_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void Retention::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    const uint64_t one = 1;
    if (write(abortFd_, &one, sizeof one) < 0) std::perror("kestrix-server: eventfd");
    thread_.join();
    uint64_t count;
    while (read(abortFd_, &count, sizeof count) > 0) {
    }
    store_->Close();
}

int64_t Retention::Deleted() const {
    std::lock_guard lock(mutex_);
    return deleted_;
}

int Retention::Rounds() const {
    std::lock_guard lock(mutex_);
    return rounds_;
}

void Retention::Run() {
    for (;;) {
        const int64_t before = now_() - keepDays_ * kDayMs;
        int64_t deleted = 0;
        const bool ok = (store_->IsOpen() || store_->Open(database_, Store::Mode::Existing)) &&
                        store_->DeletePoints(0, before, deleted);
        if (!ok)
            std::fprintf(stderr, "kestrix-server: cannot delete the points older than %d days: %s\n", keepDays_,
                         store_->Error().c_str());
        else if (deleted)
            std::fprintf(stderr, "kestrix-server: deleted %lld points received before %s (--keep-days %d)\n",
                         static_cast<long long>(deleted), FormatIsoMs(before).c_str(), keepDays_);
        std::unique_lock lock(mutex_);
        deleted_ += deleted;
        ++rounds_;
        if (wake_.wait_for(lock, ok ? std::chrono::duration_cast<std::chrono::hours>(kEvery) : kRetryAfter,
                           [&] { return stopping_; }))
            return;
    }
}

}  // namespace kestrix::refserver
