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
// A login that the sink says must wait (its address guessed too often) pauses the
// session: it keeps that packet and whatever followed it (at most kMaxHeld bytes), the
// caller stops reading from the connection and calls Resume once Pause() has passed.
// One thread calls a session at a time.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "PointStore.h"

namespace kestrix {
class Packet;
}

namespace kestrix::refserver {

// What a session needs from the server: accounts and storage. Called on the session's
// thread.
class SessionSink {
public:
    virtual ~SessionSink() = default;
    // The user's id when name and digest match an account, else 0.
    virtual uint32_t CheckLogin(const std::string& name, const std::string& digest) = 0;
    // Stores the points of one packet. `received` is left for the sink to fill.
    virtual void StorePoints(uint32_t userId, std::vector<StoredPoint>& points) = 0;
    // How long a login from the client's address must wait before it is checked (zero: at
    // once), and the news that one from there was wrong.
    virtual std::chrono::milliseconds LoginWait(const std::string& /*address*/) { return {}; }
    virtual void LoginFailed(const std::string& /*address*/) {}
};

class ClientSession {
public:
    static constexpr const char* kRefusedText = "Wrong login or password";
    static constexpr int kMaxWrongLogins = 3;
    static constexpr size_t kMaxHeld = 1 << 18;

    // address: the client's, for the sink's slowing down of logins.
    explicit ClientSession(SessionSink& sink, std::string address = {}) : sink_(sink), address_(std::move(address)) {}

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
    // Non-zero while a login waits its turn: how long, from when Feed or Resume paused.
    std::chrono::milliseconds Pause() const { return pause_; }
    // Goes on with what was held; as Feed.
    bool Resume();

private:
    bool Refuse(std::string why);
    bool HandlePacket(const uint8_t* bytes, size_t length);
    bool HandleLogin(Packet& packet);
    bool HandleLive(Packet& packet);
    bool HandleTrack(Packet& packet);

    SessionSink& sink_;
    const std::string address_;
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
