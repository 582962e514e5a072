// TcpSocket: a TCP client ByteStream to a host (an IPv4 or IPv6 address, or a name,
// resolved at each connect), in plain TCP or, after SetTls, inside TLS with the server's
// certificate verified. The upload uses it directly; ServerConnection wraps one for the
// tracker session. Connect is bounded by a time limit (10 s by default), resolving and the
// handshake included; every Write and Read is bounded by the I/O time limit; all of them
// end at once when the stop event given to SetStopEvent is set. Errors are errno values,
// also left in LastError; Explain says in words what a number alone does not.
// Used by one thread at a time.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Event.h"
#include "platform/Socket.h"
#include "server/ByteStream.h"

namespace kestrix {

class TrackerSettings;

class TcpSocket : public ByteStream {
public:
    static constexpr int kDefaultConnectTimeoutMs = 10000;
    static constexpr int kDefaultIoTimeoutMs = 15000;

    TcpSocket() = default;
    ~TcpSocket() override { Close(); }

    // Not owned; must outlive the socket's use. nullptr: no stop event.
    void SetStopEvent(platform::Event* stop) { stop_ = stop; }
    void SetTimeouts(int connectMs, int ioMs) {
        connectTimeoutMs_ = connectMs;
        ioTimeoutMs_ = ioMs;
    }

    // The trust for a TLS connection, or nullptr (the default) for plain TCP.
    void SetTls(std::shared_ptr<platform::TlsContext> tls) { tls_ = std::move(tls); }
    // Plain TCP or TLS as the settings say (Tls 1: TLS, trusting the certificates of
    // TlsCa, or the system's). False with the reason when those cannot be loaded.
    bool Secure(const TrackerSettings& settings, std::string& error);

    // Closes an open socket first. On failure error holds the connect's error code.
    bool Connect(const std::string& host, uint16_t port, int& error);
    // " (why)" after a failed Connect whose error number does not tell it (a name that
    // does not resolve, a server TLS cannot verify); "" otherwise.
    std::string Explain(int error) const;
    void Close() { socket_.Close(); }

    bool IsOpen() const override { return socket_.IsOpen(); }
    // True only when every byte went out.
    bool Write(const uint8_t* data, size_t length, size_t& written) override;
    // One receive; false on a socket error, a time-out or a stop; 0 bytes: peer closed.
    bool Read(uint8_t* buffer, size_t length, size_t& received) override;
    bool Peek(uint8_t* buffer, size_t length, size_t& received) override;
    // Without waiting: true when the peer has closed the connection or it failed.
    bool PeerClosed();

private:
    bool Receive(uint8_t* buffer, size_t length, size_t& received, bool peek);

    platform::Socket socket_;
    std::shared_ptr<platform::TlsContext> tls_;
    platform::Event* stop_ = nullptr;
    int connectTimeoutMs_ = kDefaultConnectTimeoutMs;
    int ioTimeoutMs_ = kDefaultIoTimeoutMs;
};

}  // namespace kestrix
