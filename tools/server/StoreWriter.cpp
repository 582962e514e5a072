#include "StoreWriter.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "Credential.h"

namespace kestrix::refserver {

namespace {

void Signal(int fd) {
    uint64_t one = 1;
    while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// Emptied blocks kept for the loop to fill again, so that a busy server does not allocate
// a block for every commit.
constexpr size_t kSpareBlocks = 2;

}  // namespace

size_t StoreWriter::Block::Bytes() const {
    size_t bytes = packets.size() * sizeof(PacketRef) + points.size() * sizeof(StoredPoint);
    for (const Login& l : logins) bytes += sizeof(Login) + l.name.size() + l.digest.size();
    return bytes;
}

StoreWriter::~StoreWriter() {
    Stop();
}

bool StoreWriter::Start(std::string& error) {
    if (thread_.joinable()) {
        error = "the writer already runs";
        return false;
    }
    notifyFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    abortFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (notifyFd_ < 0 || abortFd_ < 0) {
        error = std::string("eventfd: ") + std::strerror(errno);
        Stop();
        return false;
    }
    std::random_device random;
    id_.clear();
    for (int i = 0; i < 16; ++i) id_ += "0123456789abcdef"[random() & 15];
    stopping_ = aborted_ = finished_ = false;
    store_.SetAbort(abortFd_);
    verifierStopping_ = false;
    verifier_ = std::thread([this] { Verify(); });
    thread_ = std::thread([this] { Run(); });
    return true;
}

void StoreWriter::Stop() {
    if (thread_.joinable()) {
        {
            std::unique_lock lock(mutex_);
            stopping_ = true;
            wake_.notify_all();
            if (!finishedCv_.wait_for(lock, options_.drainLimit, [&] { return finished_; })) {
                aborted_ = true;
                wake_.notify_all();
                Signal(abortFd_);
            }
        }
        thread_.join();
        store_.SetAbort(-1);
    }
    if (verifier_.joinable()) {
        {
            std::lock_guard lock(checkMutex_);
            verifierStopping_ = true;
            checks_.clear();  // their connections are closing with the server
        }
        checkWake_.notify_all();
        verifier_.join();
    }
    for (int* fd : {&notifyFd_, &abortFd_}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
}

StoreWriter::Block& StoreWriter::OpenBlock(size_t points) {
    if (queue_.empty() || (!queue_.back().Empty() && queue_.back().points.size() + points > kBlockPoints)) {
        if (spare_.empty()) {
            queue_.emplace_back();
        } else {
            queue_.push_back(std::move(spare_.back()));
            spare_.pop_back();
        }
    }
    return queue_.back();
}

void StoreWriter::AddPacket(uint32_t userId, std::span<const StoredPoint> points) {
    if (points.empty()) return;
    std::lock_guard lock(mutex_);
    Block& b = OpenBlock(points.size());
    // Grown by doubling up to the block's size and no further, so that a full block holds
    // no spare room.
    if (b.points.size() + points.size() > b.points.capacity())
        b.points.reserve(std::min(kBlockPoints, std::max({b.points.capacity() * 2, b.points.size() + points.size(),
                                                         size_t{256}})));
    b.packets.push_back({userId, static_cast<uint32_t>(points.size())});
    b.points.insert(b.points.end(), points.begin(), points.end());
    queued_ += sizeof(PacketRef) + points.size() * sizeof(StoredPoint);
    wake_.notify_one();
}

void StoreWriter::AddLogin(uint64_t session, uint64_t request, std::string name, std::string digest) {
    std::lock_guard lock(mutex_);
    Block& b = OpenBlock(0);
    queued_ += sizeof(Login) + name.size() + digest.size();
    b.logins.push_back({session, request, std::move(name), std::move(digest)});
    wake_.notify_one();
}

std::vector<StoreWriter::LoginAnswer> StoreWriter::TakeAnswers() {
    uint64_t count;
    while (read(notifyFd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(mutex_);
    std::vector<LoginAnswer> out;
    out.swap(answers_);
    return out;
}

void StoreWriter::Notify() {
    Signal(notifyFd_);
}

void StoreWriter::Failed() {
    if (outage_) return;
    outage_ = true;
    outageSince_ = std::chrono::steady_clock::now();
    std::fprintf(stderr,
                 "kestrix-server: the database is not available (%s); keeping what trackers send, up to %zu MB, "
                 "until it is back\n",
                 store_.Error().c_str(), options_.queueBytes >> 20);
}

bool StoreWriter::Pause(std::chrono::milliseconds& retry, bool& sawStop) {
    std::unique_lock lock(mutex_);
    // A stop wakes the pause once, for one more try; then only the abort does.
    wake_.wait_for(lock, retry, [&] { return aborted_ || (stopping_ && !sawStop); });
    sawStop = stopping_;
    retry = std::min(retry * 2, options_.lastRetry);
    return !aborted_;
}

bool StoreWriter::StorePackets(Block& block, size_t end, size_t points) {
    const std::span<const PacketRef> packets = std::span(block.packets).subspan(packetsDone_, end - packetsDone_);
    const std::span<const StoredPoint> what = std::span(block.points).subspan(pointsDone_, points);
    const WriteMark mark{id_, ++sequence_};
    if (store_.WritePackets(packets, what, &mark)) {
        packetsDone_ = end;
        pointsDone_ += points;
        stored_ += points;
        return true;
    }
    if (store_.Unavailable()) {
        uncertain_ = Uncertain{mark, end, pointsDone_ + points};
        return false;
    }
    if (packets.size() == 1) {
        std::fprintf(stderr, "kestrix-server: %zu points of user %u refused: %s\n", points, packets[0].userId,
                     store_.Error().c_str());
        packetsDone_ = end;
        pointsDone_ += points;
        return true;
    }
    // The database refused something in the batch: each packet on its own, so that only
    // the packets it refuses are lost.
    while (packetsDone_ < end)
        if (!StorePackets(block, packetsDone_ + 1, block.packets[packetsDone_].count)) return false;
    return true;
}

bool StoreWriter::Answer(const Login& login) {
    UserRecord user;
    Check check{{login.session, login.request, 0}, decoyCredential_, login.digest};
    if (store_.FindUser(login.name, user)) {
        check.answer.userId = user.id;
        check.credential = std::move(user.credential);
    } else if (store_.Unavailable()) {
        return false;
    }
    {
        std::lock_guard lock(checkMutex_);
        checks_.push_back(std::move(check));
    }
    checkWake_.notify_one();
    return true;
}

void StoreWriter::Verify() {
    for (;;) {
        Check check;
        {
            std::unique_lock lock(checkMutex_);
            checkWake_.wait(lock, [&] { return !checks_.empty() || verifierStopping_; });
            if (verifierStopping_) return;
            check = std::move(checks_.front());
            checks_.pop_front();
        }
        // The decoy's id is 0, so an unknown name is refused whatever the check says.
        if (!VerifyCredential(check.credential, check.digest)) check.answer.userId = 0;
        {
            std::lock_guard lock(mutex_);
            answers_.push_back(check.answer);
        }
        Notify();
    }
}

bool StoreWriter::StoreBlock(Block& block) {
    if (packetsDone_ < block.packets.size() &&
        !StorePackets(block, block.packets.size(), block.points.size() - pointsDone_))
        return false;
    for (; loginsDone_ < block.logins.size(); ++loginsDone_)
        if (!Answer(block.logins[loginsDone_])) return false;
    return true;
}

void StoreWriter::Run() {
    std::deque<Block> work;
    auto retry = options_.firstRetry;
    bool sawStop = false;
    for (;;) {
        if (work.empty()) {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return !queue_.empty() || stopping_; });
            if (queue_.empty()) break;
            work.swap(queue_);
            working_ = queued_.exchange(0);
            packetsDone_ = pointsDone_ = loginsDone_ = 0;
        }
        {
            std::lock_guard lock(mutex_);
            if (aborted_) break;
        }
        bool ok = store_.IsOpen() || store_.Open(store_.Location());
        if (ok && uncertain_) {
            bool committed = false;
            ok = store_.Committed(uncertain_->mark, committed);
            if (ok && committed) {
                stored_ += uncertain_->points - pointsDone_;
                packetsDone_ = uncertain_->packets;
                pointsDone_ = uncertain_->points;
            }
            if (ok) uncertain_.reset();
        }
        if (!ok || !StoreBlock(work.front())) {
            Failed();
            if (!Pause(retry, sawStop)) break;
            continue;
        }
        if (outage_) {
            outage_ = false;
            std::fprintf(stderr, "kestrix-server: the database is back after %.1f s\n",
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - outageSince_).count());
        }
        retry = options_.firstRetry;
        Block done = std::move(work.front());
        work.pop_front();
        working_ -= std::min(working_.load(), done.Bytes());
        packetsDone_ = pointsDone_ = loginsDone_ = 0;
        done.packets.clear();
        done.points.clear();
        done.logins.clear();
        {
            std::lock_guard lock(mutex_);
            if (spare_.size() < kSpareBlocks) spare_.push_back(std::move(done));
        }
        if (wantRoom_ && HasRoom()) {
            wantRoom_ = false;
            Notify();
        }
    }
    size_t lost = 0;
    for (const Block& b : work) lost += b.points.size();
    if (!work.empty()) lost -= pointsDone_;
    {
        std::lock_guard lock(mutex_);
        for (const Block& b : queue_) lost += b.points.size();
    }
    if (lost > 0)
        std::fprintf(stderr, "kestrix-server: %zu points not stored at shutdown: %s\n", lost, store_.Error().c_str());
    else if (store_.IsOpen())
        store_.ForgetWriter(id_);
    std::lock_guard lock(mutex_);
    finished_ = true;
    finishedCv_.notify_all();
}

}  // namespace kestrix::refserver
