// TCP sockets for the tracking protocol: a client that connects to a dotted IPv4
// address (host names are not resolved) and a listener for loopback servers and tests.
// Every blocking call has a time limit and also wakes when the caller's stop event is set,
// so a worker thread blocked in one ends promptly. Errors are errno values, also left in
// LastError: kSocketTimedOut when the time limit passed, kSocketCancelled when the stop
// event was set, kSocketBadAddress for a host that is not a dotted IPv4 address. A socket
// belongs to one thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

#include "platform/Event.h"

namespace kestrix::platform {

constexpr int kSocketTimedOut = static_cast<int>(std::errc::timed_out);
constexpr int kSocketCancelled = static_cast<int>(std::errc::operation_canceled);
constexpr int kSocketBadAddress = static_cast<int>(std::errc::address_not_available);

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

    // Closes an open socket first. Returns 0 when connected, else the error code.
    int Connect(const std::string& host, uint16_t port, int timeoutMs, Event* stop);
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
    int fd_ = -1;
};

class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Listens on a dotted IPv4 address; port 0 lets the system choose. Returns 0 or the
    // error code.
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
