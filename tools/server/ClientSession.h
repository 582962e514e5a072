// ClientSession: the protocol side of one client connection of the reference server,
// with no socket in it. The network loop feeds it the bytes it receives, in whatever
// pieces TCP delivers, and sends back what TakeOutput returns; the session cuts the
// stream into packets, answers logins and hands the positions of a logged-in user to
// the sink. The fuzz target drives it the same way, from a buffer.
//
// It faces untrusted input: it holds at most one partial packet (at most 65,535 bytes)
// and refuses, by returning false from Feed with a reason in Error(), a length under 4,
// a damaged or lying compressed packet, a track message whose count disagrees with its
// length, an unknown type, and positions sent before a successful login. After a refusal
// the caller closes the connection; the session takes no more bytes.
// One thread calls a session at a time.
#pragma once
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
};

class ClientSession {
public:
    static constexpr const char* kRefusedText = "Wrong login or password";

    explicit ClientSession(SessionSink& sink) : sink_(sink) {}

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
    // Bytes held for a partial packet (bounded by 65,535).
    size_t Buffered() const { return pending_.size(); }

private:
    bool Refuse(std::string why);
    bool HandlePacket(const uint8_t* bytes, size_t length);
    bool HandleLogin(Packet& packet);
    bool HandleLive(Packet& packet);
    bool HandleTrack(Packet& packet);

    SessionSink& sink_;
    std::vector<uint8_t> pending_;
    std::string output_;
    std::string error_;
    bool failed_ = false;
    uint32_t userId_ = 0;
    uint64_t packets_ = 0;
    uint64_t points_ = 0;
};

}  // namespace kestrix::refserver
