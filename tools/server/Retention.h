// Retention: keeps the database to the points of the last keepDays days. A thread of its
// own, with a database connection of its own, deletes every point received before
// now - keepDays days when it starts and then once a day, and says on stderr how many
// went when any did. A failed deletion (the database away) is tried again an hour later.
// Threads: Start and Stop from the owner's thread; Stop wakes the thread's wait, and any
// wait for the database, and joins it.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Store.h"

namespace kestrix::refserver {

class Retention {
public:
    Retention(std::string database, int keepDays, std::function<int64_t()> now = NowMs);
    ~Retention();  // Stop()
    Retention(const Retention&) = delete;
    Retention& operator=(const Retention&) = delete;

    bool Start(std::string& error);
    void Stop();
    // Points deleted so far, and how many rounds have ended (for tests and logs).
    int64_t Deleted() const;
    int Rounds() const;

private:
    void Run();

    std::string database_;
    int keepDays_;
    std::function<int64_t()> now_;
    std::unique_ptr<Store> store_;
    int abortFd_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    int64_t deleted_ = 0;
    int rounds_ = 0;
    std::thread thread_;
};

}  // namespace kestrix::refserver
