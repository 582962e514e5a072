// TCP sockets for the tracking protocol: a client that connects to a host (a dotted IPv4
// address, an IPv6 address or a name, resolved at each connect; every address the name
// gives is tried in turn within the connect's time limit), in plain TCP or inside TLS
// (TlsChannel: the server verified before anything is sent), and a listener for loopback
// servers and tests. Every blocking call, resolving and the TLS handshake included, has a
// time limit and also wakes when the caller's stop event is set, so a worker thread
// blocked in one ends promptly. Errors are errno values, also left in LastError:
// kSocketTimedOut when the time limit passed, kSocketCancelled when the stop event was
// set, kSocketNotResolved for a name without an address, kSocketTlsFailed for a TLS
// handshake that failed (a certificate that does not verify); Reason() says it in words.
// A socket belongs to one thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include "platform/Event.h"
#include "platform/TlsChannel.h"

namespace kestrix::platform {

constexpr int kSocketTimedOut = static_cast<int>(std::errc::timed_out);
constexpr int kSocketCancelled = static_cast<int>(std::errc::operation_canceled);
constexpr int kSocketBadAddress = static_cast<int>(std::errc::address_not_available);
constexpr int kSocketNotResolved = static_cast<int>(std::errc::no_such_device_or_address);
constexpr int kSocketTlsFailed = static_cast<int>(std::errc::protocol_error);

// The name servers that resolve host names ("127.0.0.1:5353,[::1]:53"); empty, as it
// starts: the system's (resolv.conf). For a machine whose resolver is elsewhere, and for
// tests that need one that never answers. Any thread; later connects use it.
void SetNameServers(const std::string& servers);

class Socket {
public:
    Socket() = default;
    // Takes over an open descriptor (an accepted client).
    explicit Socket(int fd);
    ~Socket();  // Close()
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // Closes an open socket first. Returns 0 when connected (and, with tls, the server
    // verified), else the error code.
    int Connect(const std::string& host, uint16_t port, int timeoutMs, Event* stop,
                std::shared_ptr<TlsContext> tls = nullptr);
    // Why the last Connect failed, for a person ("cannot resolve ...", "the server's
    // certificate does not verify: ...", the system's text).
    const std::string& Reason() const { return reason_; }
    // Sends every byte. False on an error, when no byte could go out for timeoutMs, or on
    // stop (LastError says which).
    bool SendAll(const uint8_t* data, size_t length, int timeoutMs, Event* stop);
    // One receive of at most length bytes, waiting up to timeoutMs for the first byte.
    // Returns the count (0: the peer closed) or -1 (LastError says why).
    long Receive(uint8_t* buffer, size_t length, int timeoutMs, Event* stop, bool peek = false);
    // Shuts both directions down, takes in whatever already arrived without waiting for
    // more, and closes. Nothing happens when closed.
    void Close();

private:
    int FailWith(int code, std::string reason);
    int Handshake(int timeoutMs, Event* stop);
    // Reads and deciphers until there is plain text or the peer closed; as Receive.
    long Fill(int timeoutMs, Event* stop);

    int fd_ = -1;
    std::unique_ptr<TlsChannel> tls_;
    std::string plain_;  // deciphered and not yet read
    std::string reason_;
};

class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Listens on a dotted IPv4 or an IPv6 address; port 0 lets the system choose. Returns 0
    // or the error code.
    int Listen(const std::string& host, uint16_t port, int backlog = 64);
    uint16_t Port() const { return port_; }
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // Waits up to timeoutMs (or until stop) for a client; a closed Socket when none came.
    Socket Accept(int timeoutMs, Event* stop);
    void Close();

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace kestrix::platform
