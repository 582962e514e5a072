// ClientSession: the protocol side of one client connection of the reference server,
// with no socket in it. The network loop feeds it the bytes it receives, in whatever
// pieces TCP delivers, and sends back what TakeOutput returns; the session cuts the
// stream into packets, answers logins and hands the positions of a logged-in user to
// the sink. The fuzz target drives it the same way, from a buffer.
//
// It faces untrusted input: it holds at most one partial packet (at most 65,535 bytes)
// and refuses, by returning false from Feed with a reason in Error(), a length under 4,
// a damaged or lying compressed packet, a track message whose count disagrees with its
// length, an unknown type, positions sent before a successful login, and a third wrong
// login (answered first). After a refusal the caller closes the connection; the session
// takes no more bytes.
// A login pauses the session while it waits: before it is checked, when the sink says its
// address guessed too often, and while the sink checks it (the answer comes later from the
// database, after everything the client sent before it is stored). A paused session keeps
// the rest of what it was fed (at most kMaxHeld bytes); the caller stops reading from the
// connection, and calls Answer with the sink's answer, or Resume once Pause() has passed. A
// login whose answer has not come by then is refused with kUnavailableText, which does not
// count as a wrong login.
// One thread calls a session at a time.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Store.h"
#include "server/Messages.h"

namespace kestrix {
class Packet;
}

namespace kestrix::refserver {

// What a session needs from the server: accounts and storage. Called on the session's
// thread.
class SessionSink {
public:
    virtual ~SessionSink() = default;
    // The user's id when name and digest match an account, 0 when they do not, or nothing
    // when the answer comes later: then the session waits for Answer(number, ...).
    // session is the id the session was made with; number counts its logins from 1.
    virtual std::optional<uint32_t> CheckLogin(uint64_t session, uint64_t number, const std::string& name,
                                               const std::string& digest) = 0;
    // Stores the points of one packet. `received` is left for the sink to fill.
    virtual void StorePoints(uint32_t userId, std::vector<StoredPoint>& points) = 0;
    // How long a login from the client's address must wait before it is checked (zero: at
    // once), and the news that one from there was wrong.
    virtual std::chrono::milliseconds LoginWait(const std::string& /*address*/) { return {}; }
    virtual void LoginFailed(const std::string& /*address*/) {}
    // How long a login whose answer comes later waits for it.
    virtual std::chrono::milliseconds AnswerWait() { return std::chrono::seconds(10); }
};

class ClientSession {
public:
    static constexpr const char* kRefusedText = "Wrong login or password";
    static constexpr const char* kUnavailableText = "Server unavailable, try again later";
    static constexpr int kMaxWrongLogins = 3;
    static constexpr size_t kMaxHeld = 1 << 18;

    // address: the client's, for the sink's slowing down of logins; id: what the sink knows
    // the session by.
    explicit ClientSession(SessionSink& sink, std::string address = {}, uint64_t id = 0)
        : sink_(sink), address_(std::move(address)), id_(id) {}

    // Takes the next bytes of the stream. False when the connection must be closed (the
    // reason is in Error()); answers produced before that are still in the output.
    bool Feed(const uint8_t* data, size_t size);

    // The bytes to send to the client, oldest first; the session forgets them.
    std::string TakeOutput();
    bool HasOutput() const { return !output_.empty(); }

    const std::string& Error() const { return error_; }
    uint32_t UserId() const { return userId_; }
    bool LoggedIn() const { return userId_ != 0; }
    // Counters for logs and tests.
    uint64_t Packets() const { return packets_; }
    uint64_t PointsStored() const { return points_; }
    // Bytes held for a partial packet (bounded by 65,535) or behind a paused login.
    size_t Buffered() const { return pending_.size() + held_.size(); }
    // Non-zero while a login waits: how long, from when Feed, Resume or Answer paused.
    std::chrono::milliseconds Pause() const { return pause_; }
    // Goes on with what was held (a login still waiting for its answer is refused first);
    // as Feed.
    bool Resume();
    // Whether the session waits for the answer to its login number.
    bool AwaitsLogin(uint64_t number) const { return awaiting_ && number == logins_; }
    // The sink's answer to the awaited login (0: wrong name or password), then as Resume.
    bool Answer(uint32_t userId);

private:
    bool Refuse(std::string why);
    bool HandlePacket(const uint8_t* bytes, size_t length);
    bool HandleLogin(Packet& packet);
    bool Reply(const LoginMessage& request, uint32_t userId, bool unavailable);
    bool GoOn();
    bool HandleLive(Packet& packet);
    bool HandleTrack(Packet& packet);

    SessionSink& sink_;
    const std::string address_;
    const uint64_t id_;
    uint64_t logins_ = 0;
    std::optional<LoginMessage> awaiting_;
    std::vector<uint8_t> pending_;
    std::vector<uint8_t> held_;  // from a paused login packet on
    std::chrono::milliseconds pause_{0};
    int wrongLogins_ = 0;
    std::string output_;
    std::string error_;
    bool failed_ = false;
    uint32_t userId_ = 0;
    uint64_t packets_ = 0;
    uint64_t points_ = 0;
};

}  // namespace kestrix::refserver
