// A blocking TCP client of the reference server on loopback; messages go out as the
// tracker encodes them. Every wait ends after 5 s, so a server that fails to answer fails
// the test instead of hanging it.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/LastError.h"
#include "platform/Socket.h"
#include "support/MemoryStream.h"

namespace kestrix::test {

class TestClient {
public:
    bool Connect(uint16_t port) { return socket_.Connect("127.0.0.1", port, kWaitMs, nullptr) == 0; }
    // From another loopback address, as a client on another machine would come.
    bool ConnectFrom(const char* source, uint16_t port) {
        sockaddr_in from{}, to{};
        from.sin_family = to.sin_family = AF_INET;
        inet_pton(AF_INET, source, &from.sin_addr);
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        to.sin_port = htons(port);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
            ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            if (fd >= 0) ::close(fd);
            return false;
        }
        socket_ = platform::Socket(fd);
        return true;
    }
    // True when something has arrived that was not read yet.
    bool HasData() {
        uint8_t byte;
        return socket_.Receive(&byte, 1, 0, nullptr, true) > 0;
    }
    bool SendBytes(const Bytes& bytes) { return socket_.SendAll(bytes.data(), bytes.size(), kWaitMs, nullptr); }
    bool Send(ServerMessage& message) {
        const Bytes wire = Encode(message);
        return !wire.empty() && SendBytes(wire);
    }
    // Exactly n bytes; fewer when the server closes or stays silent.
    Bytes Read(size_t n) {
        Bytes out(n);
        size_t got = 0;
        for (long r = 0; got < n && (r = socket_.Receive(out.data() + got, n - got, kWaitMs, nullptr)) > 0;)
            got += static_cast<size_t>(r);
        out.resize(got);
        return out;
    }
    // Logs in and parses the answer as the tracker does. False when no answer parses.
    bool Login(const std::string& name, const std::string& digest, uint32_t userId, LoginMessage& answer) {
        answer = LoginMessage(name, digest, userId);
        return Send(answer) && ReadAnswer(answer);
    }
    // Reads the answer to a login sent before, into the request it answers.
    bool ReadAnswer(LoginMessage& answer) {
        CallbackStream stream(
            [&](uint8_t* buffer, size_t length, size_t& received) {
                const long r = socket_.Receive(buffer, length, kWaitMs, nullptr);
                received = r > 0 ? static_cast<size_t>(r) : 0;
                return r >= 0;
            },
            nullptr);
        Packet packet;
        return packet.Receive(stream, kWaitMs) && answer.Read(packet);
    }
    // True when the server closed the connection (end of stream or reset); bytes that
    // arrive first are skipped.
    bool WaitClosed() {
        uint8_t buffer[256];
        for (;;) {
            const long r = socket_.Receive(buffer, sizeof buffer, kWaitMs, nullptr);
            if (r == 0) return true;
            if (r < 0) return platform::GetLastError() == ECONNRESET;
        }
    }

private:
    static constexpr int kWaitMs = 5000;
    platform::Socket socket_;
};

}  // namespace kestrix::test
