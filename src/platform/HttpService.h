// HttpService: serves the routes of a cpp-httplib server on one TCP address with the
// bounds a server facing careless or hostile clients needs.
//
// One thread accepts connections and reads every request until it is whole
// (HttpRequestFramer), holding no other thread while a client is slow. A connection that
// sends nothing for idleTime (after it opened, or after its last answer) is closed; one
// that has not sent its whole head within headTime of the head's first byte, or its whole
// body within bodyTime of the head, is answered 408 and closed; a head or body beyond
// its bounds is refused (400, 413, 415 or 431) as soon as its bytes show it, never read
// whole. Only a whole request goes to one of requestThreads threads, which runs the
// library's routing and the handler over it and writes the answer: slow clients never
// take the threads that answer. A handler whose answer lasts (an event stream, a long
// download) holds a LongAnswer while it runs, and another thread is started meanwhile,
// so requests never wait behind it. Past maxConnections open at once, the connection that
// has waited longest for its request makes room for a newcomer.
//
// Threads: Routes() is set up before Start, on the owner's thread; Start and Stop from the
// owner's thread. Handlers run on the request threads. Stop closes the listener and every
// connection waiting for its request, makes every write of an answer fail at once, waits
// for the handlers to return and joins every thread: a handler that waits for something
// must be woken by its owner before Stop.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include <httplib.h>

#include "platform/HttpRequestFramer.h"
#include "platform/TlsChannel.h"

namespace kestrix::platform {

struct HttpServiceOptions {
    HttpBounds bounds;
    std::chrono::milliseconds idleTime{5000};
    std::chrono::milliseconds headTime{5000};
    std::chrono::milliseconds bodyTime{10000};
    // A write of an answer that makes no progress for this long fails the connection.
    std::chrono::milliseconds writeTime{5000};
    size_t requestThreads = 8;
    size_t maxConnections = 512;
    size_t maxRequestsPerConnection = 100;
    // The body of an answer the service gives itself (400, 408, 413, 415, 431, 503): fills
    // type and body from the status and the reason. Default: the reason as plain text.
    std::function<void(int status, const std::string& reason, std::string& type, std::string& body)> refusal;
    // HTTPS with this certificate and key (TlsContext::ForServer); nullptr: plain HTTP. A
    // client that does not speak TLS is closed at its first byte.
    std::shared_ptr<TlsContext> tls;
};

class HttpService {
    struct Impl;

public:
    explicit HttpService(HttpServiceOptions options = {});
    ~HttpService();  // Stop()
    HttpService(const HttpService&) = delete;
    HttpService& operator=(const HttpService&) = delete;

    // The routes and handlers, set up before Start. The library's own listening, task
    // queue, time-outs and payload limit are not used.
    httplib::Server& Routes();

    // Binds address:port (a dotted IPv4 or an IPv6 address; port 0 picks a free one) and
    // starts serving. False with the reason (the system's, for a failed bind) when it cannot.
    bool Start(const std::string& address, uint16_t port, std::string& error);
    // The bound port, after Start.
    uint16_t Port() const;
    // Idempotent.
    void Stop();
    // True from the start of Stop.
    bool Stopping() const;

    // Held by a handler, on its request thread, while its answer lasts; another request
    // thread serves others meanwhile.
    class LongAnswer {
    public:
        LongAnswer() = default;
        ~LongAnswer();
        LongAnswer(LongAnswer&& other) noexcept : impl_(std::exchange(other.impl_, nullptr)) {}
        LongAnswer& operator=(LongAnswer&& other) noexcept;

    private:
        friend class HttpService;
        explicit LongAnswer(Impl* impl) : impl_(impl) {}
        Impl* impl_ = nullptr;
    };
    LongAnswer BeginLongAnswer();

    // Counters for tests and logs: connections accepted, and requests refused by the
    // service itself (bounds, time limits, no room).
    uint64_t Accepted() const;
    uint64_t Refused() const;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrix::platform
