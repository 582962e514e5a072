// StoreSink: connects client sessions to the PointStore. Accounts are looked up by name
// and password digest (compared without regard to case), and logins from an address that
// failed too often are slowed down (LoginThrottle); the points of one packet are
// stamped with one receive time and stored all or none. Called on the server's
// event-loop thread only; the count of stored points may be read from any thread. A packet
// that the store cannot take is reported on stderr.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ClientSession.h"
#include "LoginThrottle.h"
#include "PointStore.h"

namespace kestrix::refserver {

class StoreSink final : public SessionSink {
public:
    StoreSink(PointStore& store, std::function<std::string()> now, LoginThrottle::Policy logins = {})
        : store_(store), now_(std::move(now)), throttle_(logins) {}
    uint32_t CheckLogin(const std::string& name, const std::string& digest) override;
    void StorePoints(uint32_t userId, std::vector<StoredPoint>& points) override;
    std::chrono::milliseconds LoginWait(const std::string& address) override;
    void LoginFailed(const std::string& address) override;
    // Group commit around the packets handled in one pass of the event loop; the points
    // count as stored once EndBatch has committed them.
    void BeginBatch();
    void EndBatch();
    uint64_t Stored() const { return stored_.load(); }

private:
    PointStore& store_;
    std::function<std::string()> now_;
    LoginThrottle throttle_;
    std::atomic<uint64_t> stored_{0};
    bool batching_ = false;
    uint64_t pending_ = 0;
};

}  // namespace kestrix::refserver
