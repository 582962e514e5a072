// A plain blocking TCP client for the reference server tests, plus helpers that encode
// messages the way the tracker does (through Packet::Send). Every receive is bounded by a
// 5-second socket time-out so a server that fails to answer fails the test instead of
// hanging it.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "server/ByteStream.h"
#include "server/Messages.h"
#include "server/Packet.h"

namespace kestrix::test {

using Bytes = std::vector<uint8_t>;

// The bytes the tracker puts on the wire for a message (compressed from 257 bytes on).
inline Bytes Encode(ServerMessage& message) {
    Bytes wire;
    CallbackStream capture(nullptr, [&](const uint8_t* data, size_t length, size_t& written) {
        wire.insert(wire.end(), data, data + length);
        written = length;
        return true;
    });
    Packet packet;
    if (!packet.Prepare(message) || !message.Write(packet) || !packet.Send(capture)) return {};
    return wire;
}

inline void PutU16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

inline void PutU32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

class TestClient {
public:
    TestClient() = default;
    ~TestClient() { Close(); }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool Connect(uint16_t port) {
        Close();
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return false;
        timeval tv{5, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }

    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    bool SendBytes(const Bytes& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    bool Send(ServerMessage& message) {
        Bytes wire = Encode(message);
        return !wire.empty() && SendBytes(wire);
    }

    // Reads exactly n bytes; fewer when the server closes or stays silent for 5 s.
    Bytes Read(size_t n) {
        Bytes out(n);
        size_t got = 0;
        while (got < n) {
            ssize_t r = recv(fd_, out.data() + got, n - got, 0);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += static_cast<size_t>(r);
        }
        out.resize(got);
        return out;
    }

    // Logs in and parses the answer as the tracker does. False when no answer parses.
    bool Login(const std::string& name, const std::string& digest, uint32_t userId, LoginMessage& answer) {
        answer = LoginMessage(name, digest, userId);
        if (!Send(answer)) return false;
        CallbackStream stream(
            [&](uint8_t* buffer, size_t length, size_t& received) {
                ssize_t r = recv(fd_, buffer, length, 0);
                if (r < 0) return false;
                received = static_cast<size_t>(r);
                return true;
            },
            nullptr);
        Packet packet;
        return packet.Receive(stream, 5000) && answer.Read(packet);
    }

    // True when the server closed the connection (end of stream or reset) within 5 s;
    // bytes that arrive first are skipped.
    bool WaitClosed() {
        uint8_t buffer[256];
        for (;;) {
            ssize_t r = recv(fd_, buffer, sizeof buffer, 0);
            if (r == 0) return true;
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return errno == ECONNRESET;
        }
    }

private:
    int fd_ = -1;
};

}  // namespace kestrix::test
