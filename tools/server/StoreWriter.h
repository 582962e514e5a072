// StoreWriter: the tracking server's one writer to its Store, on a thread of its own. The
// event loop hands it packets and logins through a bounded queue and goes on reading; the
// writer commits what has queued up since its last commit in one transaction (a block of
// at most kBlockPoints points), so commits follow each other as fast as the database takes
// them, and checks each login once everything queued before it is committed. Login answers
// go back to the loop through NotifyFd().
//
// When the database goes away the writer says so once on stderr, keeps the queue (the loop
// stops reading clients while it is Full()), reopens the store with a growing pause
// (firstRetry doubling to lastRetry), stores what queued in order once it is back, and says
// so. Each transaction carries a mark (writer id, sequence): after a connection lost in a
// commit, the writer asks the database whether it happened, so no packet is stored twice or
// lost. Points the database refuses (not those it cannot take now) are retried packet by
// packet, and only the refused packets are dropped, with a line on stderr.
//
// A login's account is read on the writer thread once what came before it is committed;
// its password is checked (about 5 ms of scrypt) on a verifier thread of its own, so that a
// crowd of trackers logging in again does not hold up commits.
//
// Threads: Start and Stop from the owner's thread; Add*, Full, HasRoom, TakeAnswers and
// NotifyFd from the event loop; the counters from any thread. Stop lets the writer store
// what is queued for up to drainLimit, then ends its wait for the database (the store's
// abort descriptor) and joins it; what is left is counted on stderr.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "Credential.h"
#include "Store.h"

namespace kestrix::refserver {

class StoreWriter {
public:
    static constexpr size_t kBlockPoints = 20000;

    struct Options {
        size_t queueBytes = size_t{64} << 20;
        std::chrono::milliseconds firstRetry{100};
        std::chrono::milliseconds lastRetry{5000};
        std::chrono::milliseconds drainLimit{5000};
    };
    // The result of a login: the user id, 0 when the name or password is wrong.
    struct LoginAnswer {
        uint64_t session = 0;
        uint64_t request = 0;
        uint32_t userId = 0;
    };

    // store: open; the writer alone uses it between Start and Stop, and opens it again at
    // its Location() after a failure.
    StoreWriter(Store& store, Options options) : store_(store), options_(options) {}
    ~StoreWriter();
    StoreWriter(const StoreWriter&) = delete;
    StoreWriter& operator=(const StoreWriter&) = delete;

    bool Start(std::string& error);
    void Stop();

    // The points of one packet, stored all or none.
    void AddPacket(uint32_t userId, std::span<const StoredPoint> points);
    // A login to check once everything added before it is committed; its answer carries
    // session and request back.
    void AddLogin(uint64_t session, uint64_t request, std::string name, std::string digest);
    // The queue holds queueBytes or more: stop reading. HasRoom: below half of it again.
    bool Full() const { return Queued() >= options_.queueBytes; }
    bool HasRoom() const { return Queued() < options_.queueBytes / 2; }
    // Readable when answers wait, or when room was made after Full (once WantRoom was called).
    int NotifyFd() const { return notifyFd_; }
    void WantRoom() { wantRoom_ = true; }
    std::vector<LoginAnswer> TakeAnswers();

    uint64_t Stored() const { return stored_.load(); }
    // Bytes of points, packets and logins the queue holds, including what is being stored
    // (the blocks' memory is at most one block's spare room more).
    size_t Queued() const { return queued_.load() + working_.load(); }
    // Whether the database is away (from the first failure until a commit succeeds).
    bool Outage() const { return outage_.load(); }

private:
    struct Login {
        uint64_t session;
        uint64_t request;
        std::string name;
        std::string digest;
    };
    struct Block {
        std::vector<PacketRef> packets;
        std::vector<StoredPoint> points;
        std::vector<Login> logins;  // answered once the block's packets are committed
        size_t Bytes() const;
        bool Empty() const { return packets.empty() && logins.empty(); }
    };
    // A transaction whose commit was under way when the connection went.
    struct Uncertain {
        WriteMark mark;
        size_t packets = 0;  // how far the block is stored when it was committed
        size_t points = 0;
    };

    void Run();
    void Verify();
    bool StoreBlock(Block& block);
    bool StorePackets(Block& block, size_t end, size_t points);
    bool Answer(const Login& login);
    Block& OpenBlock(size_t points);
    void Failed();
    bool Pause(std::chrono::milliseconds& retry, bool& sawStop);
    void Notify();

    Store& store_;
    const Options options_;
    std::string id_;
    int64_t sequence_ = 0;
    int notifyFd_ = -1;
    int abortFd_ = -1;
    std::thread thread_;

    std::mutex mutex_;  // guards the fields up to answers_
    std::condition_variable wake_;
    std::deque<Block> queue_;
    std::vector<Block> spare_;
    bool stopping_ = false;
    bool aborted_ = false;
    bool finished_ = false;
    std::condition_variable finishedCv_;
    std::vector<LoginAnswer> answers_;

    // A login whose account was read: checked on the verifier thread.
    struct Check {
        LoginAnswer answer;  // the user id the credential stands for
        std::string credential, digest;
    };
    std::thread verifier_;
    std::mutex checkMutex_;  // guards checks_ and verifierStopping_
    std::condition_variable checkWake_;
    std::deque<Check> checks_;
    bool verifierStopping_ = false;
    // Checked against the digest of a login nobody has, so that an unknown name takes as
    // long to refuse as a wrong password.
    const std::string decoyCredential_ = MakeCredential(std::string(32, '0'));

    // Writer thread only: how far the first block of the work has been stored.
    size_t packetsDone_ = 0;
    size_t pointsDone_ = 0;
    size_t loginsDone_ = 0;
    std::optional<Uncertain> uncertain_;
    std::chrono::steady_clock::time_point outageSince_;

    std::atomic<size_t> queued_{0};
    std::atomic<size_t> working_{0};
    std::atomic<uint64_t> stored_{0};
    std::atomic<bool> outage_{false};
    std::atomic<bool> wantRoom_{false};
};

}  // namespace kestrix::refserver
