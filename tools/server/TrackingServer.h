// TrackingServer: the network side of the reference tracking server. It listens on one
// TCP address, IPv4 or IPv6 (loopback unless told otherwise), in plain TCP or TLS, runs
// every connection through its own ClientSession, and hands what the sessions accept to
// its StoreWriter.
//
// Design: one event-loop thread over epoll, with per-connection input and output
// buffers, rather than a thread per connection. Clients are many and mostly idle (a fix
// every second or so), so one thread serves hundreds of them; memory per connection is
// bounded by one partial packet (65,535 bytes) plus unsent answers, and the number of
// connections is capped, so a flood of clients cannot exhaust memory or threads. A
// connection silent for longer than the idle limit is closed; a slow client never blocks
// the loop because every socket is non-blocking. When the server is full, the connection
// that has not logged in and has been silent longest is closed to make room, so a flood of
// connections that never log in cannot keep a real client out; only when every connection
// has logged in is a newcomer turned away. Start raises the soft limit on open descriptors
// toward the hard one, so that the cap can be reached.
// The database is the writer thread's (StoreWriter): the loop queues each packet's points
// (stored all or none) and goes on reading, and the writer commits what queued up since its
// last commit in one transaction. A login waits, its connection unread, until the writer has
// committed everything queued before it and checked the account, so a login answer tells a
// client that everything it sent before is in the database; when that takes longer than
// loginWait (the database is away) the login is refused with the server's message instead.
// While the writer's queue is full (queueBytes) no client is read: TCP holds them back.
//
// Threads: Start and Stop from the owner's thread (not concurrently); the counters may be
// read from any thread. Stop wakes the loop through an eventfd and joins it, then stops the
// writer, which stores what is queued first (StoreWriter::Stop). Errors are reported as
// text (Error(), and on stderr for trouble with one client or the store).
// Password guessing: a connection is closed after its third wrong login, and an address
// that failed five times within a minute has its logins checked one every 2 s (its
// connections are not read meanwhile); clients at other addresses are not held up.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "LoginThrottle.h"
#include "Store.h"
#include "platform/TlsChannel.h"
#include "StoreSink.h"
#include "StoreWriter.h"

namespace kestrix::refserver {

struct ServerOptions {
    // "ADDR:PORT"; port 0 picks a free one (see Port()).
    std::string listen = "127.0.0.1:1201";
    // A connection that sends nothing for this long is closed.
    std::chrono::milliseconds idleLimit{60000};
    // The most connections held at once (fewer when the descriptor limit cannot be raised
    // that far). Beyond it, a connection without a login makes room, or the newcomer is
    // closed at once.
    int maxConnections = 10000;
    // The receive time stamped on stored points, in milliseconds since 1970; defaults to
    // the system clock.
    std::function<int64_t()> now;
    // How logins from an address that keeps failing are slowed down.
    LoginThrottle::Policy logins;
    // How long a login waits for the database before it is refused with the server's
    // message (the tracker then keeps its points offline).
    std::chrono::milliseconds loginWait{10000};
    // The writer's queue and its pauses between attempts to reach the database.
    StoreWriter::Options writer;
    // Every connection inside TLS with this certificate (TlsContext::ForServer); nullptr:
    // plain TCP. A client that does not speak TLS is closed at its first bytes.
    std::shared_ptr<platform::TlsContext> tls;
};

class TrackingServer {
public:
    // store: open; the server's writer alone uses it from Start until Stop returns.
    TrackingServer(Store& store, ServerOptions options);
    ~TrackingServer();
    TrackingServer(const TrackingServer&) = delete;
    TrackingServer& operator=(const TrackingServer&) = delete;

    // Binds, listens and starts the loop. False with Error() when the address is bad or
    // taken.
    bool Start();
    // Closes every connection and the listener, joins the loop, then stops the writer
    // (which first stores what is queued, for up to its drainLimit). Idempotent.
    void Stop();

    // The bound port (after Start) and the printable address "127.0.0.1:PORT".
    uint16_t Port() const { return port_; }
    std::string Address() const;
    const std::string& Error() const { return error_; }

    // Counters, readable from any thread.
    int Connections() const { return connections_.load(); }
    uint64_t Accepted() const { return accepted_.load(); }
    uint64_t Refused() const { return refused_.load(); }
    // Connections without a login closed to make room for a newcomer.
    uint64_t Evicted() const { return evicted_.load(); }
    // The connection cap in force (after Start).
    int Capacity() const { return capacity_; }
    // Points committed to the database.
    uint64_t PointsStored() const { return writer_.Stored(); }
    // Whether the clients are not read because the writer's queue is full.
    bool HoldingBack() const { return holdingBack_.load(); }
    // The writer, for its counters (what it queues, whether the database is away).
    const StoreWriter& Writer() const { return writer_; }

private:
    class Loop;

    ServerOptions options_;
    StoreWriter writer_;
    StoreSink sink_;
    std::string error_;
    std::string host_;
    uint16_t port_ = 0;
    int listenFd_ = -1;
    int epollFd_ = -1;
    int wakeFd_ = -1;
    std::thread thread_;
    std::atomic<int> connections_{0};
    std::atomic<uint64_t> accepted_{0};
    std::atomic<uint64_t> refused_{0};
    std::atomic<uint64_t> evicted_{0};
    std::atomic<bool> holdingBack_{false};
    int capacity_ = 0;

    void Run();
    void CloseFds();
};

// Parses "ADDR:PORT" (a dotted IPv4 address) or "[ADDR]:PORT" (IPv6); host receives the
// address without brackets. False for anything else.
bool ParseListenAddress(const std::string& text, std::string& host, uint16_t& port);
// "127.0.0.1:1201", "[::1]:1201".
std::string JoinHostPort(const std::string& host, uint16_t port);

}  // namespace kestrix::refserver
