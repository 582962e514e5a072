// StoreSink: connects client sessions to the StoreWriter. Logins from an address that
// failed too often are slowed down (LoginThrottle); every other login goes to the writer,
// which answers it once the session's earlier packets are committed (the session waits
// for that answer up to answerWait). The points of one packet are stamped with one receive
// time and queued to be stored all or none. Called on the server's event-loop thread only.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ClientSession.h"
#include "LoginThrottle.h"
#include "StoreWriter.h"

namespace kestrix::refserver {

class StoreSink final : public SessionSink {
public:
    // now: the receive time in milliseconds since 1970 (the system clock when empty).
    StoreSink(StoreWriter& writer, std::function<int64_t()> now, LoginThrottle::Policy logins,
              std::chrono::milliseconds answerWait)
        : writer_(writer), now_(std::move(now)), throttle_(logins), answerWait_(answerWait) {}
    std::optional<uint32_t> CheckLogin(uint64_t session, uint64_t number, const std::string& name,
                                       const std::string& digest) override;
    void StorePoints(uint32_t userId, std::vector<StoredPoint>& points) override;
    std::chrono::milliseconds LoginWait(const std::string& address) override;
    void LoginFailed(const std::string& address) override;
    std::chrono::milliseconds AnswerWait() override { return answerWait_; }

private:
    StoreWriter& writer_;
    std::function<int64_t()> now_;
    LoginThrottle throttle_;
    std::chrono::milliseconds answerWait_;
};

}  // namespace kestrix::refserver
