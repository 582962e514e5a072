#include "platform/HttpService.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Log.h"
#include "platform/TlsChannel.h"

namespace kestrix::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadChunk = 16 * 1024;
// After a refusal the client may still be sending; what it sends is read and dropped for
// a moment so that closing does not reset the connection before the answer is read.
constexpr size_t kLingerBytes = 1 << 20;
constexpr auto kLingerTime = std::chrono::milliseconds(1000);

std::string SystemError(const std::string& what, int err) { return what + ": " + std::strerror(err); }

const char* StatusText(int status) {
    switch (status) {
    case 400: return "Bad Request";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 415: return "Unsupported Media Type";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

// The address of a connected socket's end, as text and port.
void SocketAddress(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len)
                  : ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ip.clear();
    port = 0;
    if (rc != 0) return;
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
        auto* a = reinterpret_cast<sockaddr_in*>(&addr);
        inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
        port = ntohs(a->sin_port);
    } else if (addr.ss_family == AF_INET6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
        inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
        port = ntohs(a->sin6_port);
    }
    ip = text;
}

// The routes, with the library's request processing opened to the service.
class RouteTable final : public httplib::Server {
public:
    bool Process(httplib::Stream& stream, bool closeAfter, bool& closed) {
        return process_request(stream, closeAfter, closed, nullptr);
    }
    // Content providers run while the library believes its listener is open.
    void SetListening(int fd) { svr_sock_ = fd; }
};

// One client connection, owned by the accepting thread while it waits for a request and
// by a request thread while its request is answered.
struct Connection {
    Connection(int f, HttpBounds bounds) : fd(f), framer(bounds) {}
    ~Connection() {
        if (fd < 0) return;
        if (tls && tls->IsOpen()) {
            tls->Close();
            std::string bye = tls->TakeOutgoing();
            (void)::send(fd, bye.data(), bye.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        ::close(fd);
    }
    // Sends now what the socket takes at once, in TLS when the connection is; the rest
    // waits in `out` for the accepting thread (a TLS handshake) or is dropped (a refusal).
    void SendSoon(const std::string& plain) {
        if (tls) {
            tls->Send(plain.data(), plain.size());
            out += tls->TakeOutgoing();
        } else {
            out += plain;
        }
        Flush();
    }
    void Flush() {
        while (!out.empty()) {
            ssize_t n = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            out.erase(0, static_cast<size_t>(n));
        }
    }
    enum class Phase { Idle, Head, Body, Lingering };
    int fd;
    std::unique_ptr<TlsChannel> tls;  // an HTTPS connection's engine
    std::string out;                  // wire bytes the socket has not taken yet
    std::string in;  // received and not yet answered, from the current request's first byte
    HttpRequestFramer framer;
    Phase phase = Phase::Idle;
    Clock::time_point deadline;
    Clock::time_point waitingSince;
    size_t end = 0;  // the whole request is in[0, end)
    size_t served = 0;
    size_t lingered = 0;
    bool continued = false;
};

}  // namespace

struct HttpService::Impl {
    explicit Impl(HttpServiceOptions o) : options(std::move(o)) {}

    // Reads from the request's bytes held in memory and writes to the socket, failing at
    // once when the service stops.
    class Stream final : public httplib::Stream {
    public:
        Stream(Impl& impl, Connection& c) : impl_(impl), c_(c) {}
        bool is_readable() const override { return pos_ < c_.end; }
        bool is_writable() const override { return !failed_ && !impl_.stopping.load(); }
        ssize_t read(char* ptr, size_t size) override {
            size_t n = std::min(size, c_.end - pos_);
            std::memcpy(ptr, c_.in.data() + pos_, n);
            pos_ += n;
            return static_cast<ssize_t>(n);
        }
        ssize_t write(const char* ptr, size_t size) override {
            if (!failed_ && c_.tls) {
                c_.tls->Send(ptr, size);
                c_.out += c_.tls->TakeOutgoing();
            } else if (!failed_) {
                c_.out.append(ptr, size);
            }
            if (failed_ || !impl_.WriteAll(c_.fd, c_.out.data(), c_.out.size())) {
                failed_ = true;
                return -1;
            }
            c_.out.clear();
            return static_cast<ssize_t>(size);
        }
        void get_remote_ip_and_port(std::string& ip, int& port) const override { SocketAddress(c_.fd, true, ip, port); }
        void get_local_ip_and_port(std::string& ip, int& port) const override { SocketAddress(c_.fd, false, ip, port); }
        socket_t socket() const override { return c_.fd; }
        bool Failed() const { return failed_; }

    private:
        Impl& impl_;
        Connection& c_;
        size_t pos_ = 0;
        bool failed_ = false;
    };

    bool WriteAll(int fd, const char* data, size_t size);
    void Refuse(Connection& c, int status, const std::string& reason);
    void Accept(std::list<std::unique_ptr<Connection>>& waiting);
    // Reads what arrived and moves the connection on; false when it is to be closed.
    bool ReadFrom(Connection& c);
    // Looks at the bytes held; true when the request is whole (c.end set).
    bool Advance(Connection& c);
    void AcceptLoop();
    void Work();
    void Serve(std::unique_ptr<Connection> c);
    void SpawnLocked();
    void Wake();

    HttpServiceOptions options;
    RouteTable routes;
    int listenFd = -1;
    int stopFd = -1;  // set once, at Stop; every poll of the service watches it
    int wakeFd = -1;  // connections handed back by the request threads
    uint16_t port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<uint64_t> accepted{0};
    std::atomic<uint64_t> refused{0};
    std::atomic<size_t> open{0};  // connections, wherever they are
    std::thread acceptor;
    Clock::time_point listenerRestsUntil;  // accepting thread only

    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::unique_ptr<Connection>> ready;     // whole requests for the request threads
    std::vector<std::unique_ptr<Connection>> handedBack;  // for the accepting thread
    std::map<std::thread::id, std::thread> workers;
    std::list<std::thread> retired;  // ended or ending, not yet joined
    size_t longAnswers = 0;
    bool workersStop = false;
};

bool HttpService::Impl::WriteAll(int fd, const char* data, size_t size) {
    size_t sent = 0;
    while (sent < size) {
        if (stopping.load()) return false;
        ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
        int r = ::poll(fds, 2, static_cast<int>(options.writeTime.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0 || (fds[1].revents & POLLIN)) return false;
    }
    return true;
}

void HttpService::Impl::Refuse(Connection& c, int status, const std::string& reason) {
    ++refused;
    std::string type = "text/plain; charset=utf-8";
    std::string body = reason + "\n";
    if (options.refusal) options.refusal(status, reason, type, body);
    std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
                         "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
                         "\r\nConnection: close\r\n\r\n" + body;
    // The answer is small and the connection fresh, so it fits the socket's buffer; when it
    // does not, the client was not reading and loses it.
    c.SendSoon(answer);
    if (c.tls) {
        c.tls->Close();
        c.SendSoon("");
    }
    c.out.clear();
    ::shutdown(c.fd, SHUT_WR);
    c.phase = Connection::Phase::Lingering;
    c.deadline = Clock::now() + kLingerTime;
    c.in.clear();
}

bool HttpService::Impl::Advance(Connection& c) {
    if (c.phase == Connection::Phase::Idle) {
        // Empty lines before a request line are allowed and ignored.
        size_t skip = c.in.find_first_not_of("\r\n");
        c.in.erase(0, skip == std::string::npos ? c.in.size() : skip);
        if (c.in.empty()) return false;
        c.phase = Connection::Phase::Head;
        c.deadline = Clock::now() + options.headTime;
    }
    HttpFraming f = c.framer.Scan(c.in);
    if (f.state == HttpFraming::State::Refused) {
        Refuse(c, f.status, f.reason);
        return false;
    }
    if (f.state == HttpFraming::State::Complete) {
        c.end = f.end;
        return true;
    }
    if (c.phase == Connection::Phase::Head && c.framer.HeadDone()) {
        c.phase = Connection::Phase::Body;
        c.deadline = Clock::now() + options.bodyTime;
    }
    if (f.expectContinue && !c.continued) {
        c.continued = true;
        c.SendSoon("HTTP/1.1 100 Continue\r\n\r\n");
    }
    return false;
}

bool HttpService::Impl::ReadFrom(Connection& c) {
    // One read per readiness: the wait comes back for the rest, and no client holds the
    // thread. What is held stays within the framer's bounds, which refuse a request before
    // its bytes pass them.
    char buffer[kReadChunk];
    ssize_t n;
    do {
        n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    if (n == 0) return false;
    if (c.phase == Connection::Phase::Lingering) {
        c.lingered += static_cast<size_t>(n);
        return c.lingered < kLingerBytes;
    }
    if (!c.tls) {
        c.in.append(buffer, static_cast<size_t>(n));
        return true;
    }
    TlsChannel::State state = c.tls->Receive(buffer, static_cast<size_t>(n), c.in);
    c.SendSoon("");  // the handshake's answers
    return state == TlsChannel::State::Handshaking || state == TlsChannel::State::Open;
}

void HttpService::Impl::Accept(std::list<std::unique_ptr<Connection>>& waiting) {
    for (;;) {
        int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // Out of descriptors or memory: the listener stays readable, so it rests
                // for a moment instead of spinning.
                LogWarning(SystemError("the HTTP server cannot take a connection", errno));
                listenerRestsUntil = Clock::now() + std::chrono::milliseconds(100);
            }
            return;
        }
        if (open.load() >= options.maxConnections) {
            // The connection that has waited longest for its request makes room.
            auto oldest = waiting.end();
            for (auto it = waiting.begin(); it != waiting.end(); ++it) {
                if ((*it)->phase == Connection::Phase::Lingering) continue;
                if (oldest == waiting.end() || (*it)->waitingSince < (*oldest)->waitingSince) oldest = it;
            }
            if (oldest == waiting.end()) {
                ++refused;
                ::close(fd);
                continue;
            }
            waiting.erase(oldest);
            --open;
            ++refused;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Connection>(fd, options.bounds);
        if (options.tls) c->tls = std::make_unique<TlsChannel>(options.tls);
        c->waitingSince = Clock::now();
        c->deadline = c->waitingSince + options.idleTime;
        waiting.push_back(std::move(c));
        ++open;
        ++accepted;
    }
}

void HttpService::Impl::AcceptLoop() {
    std::list<std::unique_ptr<Connection>> waiting;
    std::vector<pollfd> fds;
    std::vector<Connection*> polled;
    auto handOver = [&](std::list<std::unique_ptr<Connection>>::iterator it) {
        std::list<std::thread> ended;
        {
            std::lock_guard lock(mutex);
            ready.push_back(std::move(*it));
            ended.swap(retired);
        }
        waiting.erase(it);
        cv.notify_one();
        for (auto& t : ended) t.join();
    };
    while (!stopping.load()) {
        fds.clear();
        polled.clear();
        fds.push_back({stopFd, POLLIN, 0});
        fds.push_back({wakeFd, POLLIN, 0});
        const bool listening = Clock::now() >= listenerRestsUntil;
        fds.push_back({listenFd, static_cast<short>(listening ? POLLIN : 0), 0});
        auto next = listening ? Clock::now() + std::chrono::seconds(60) : listenerRestsUntil;
        for (auto& c : waiting) {
            fds.push_back({c->fd, static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
            polled.push_back(c.get());
            next = std::min(next, c->deadline);
        }
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
        int r = ::poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(wait, 0)));
        if (r < 0 && errno != EINTR) {
            LogError(SystemError("the HTTP server's wait failed", errno));
            break;
        }
        if (stopping.load()) break;
        if (r > 0 && (fds[1].revents & POLLIN)) {
            uint64_t count;
            (void)::read(wakeFd, &count, sizeof count);
            std::vector<std::unique_ptr<Connection>> back;
            {
                std::lock_guard lock(mutex);
                back.swap(handedBack);
            }
            for (auto& c : back) waiting.push_back(std::move(c));
        }
        std::vector<Connection*> readable;
        for (size_t i = 0; r > 0 && i < polled.size(); ++i) {
            if (fds[i + 3].revents & POLLOUT) polled[i]->Flush();
            if (fds[i + 3].revents & ~POLLOUT) readable.push_back(polled[i]);
        }
        if (r > 0 && (fds[2].revents & POLLIN)) Accept(waiting);

        const auto now = Clock::now();
        for (auto it = waiting.begin(); it != waiting.end();) {
            Connection& c = **it;
            const bool wasReadable = std::find(readable.begin(), readable.end(), &c) != readable.end();
            bool keep = !wasReadable || ReadFrom(c);
            if (keep && c.phase != Connection::Phase::Lingering) {
                if (Advance(c)) {
                    handOver(it++);
                    continue;
                }
            }
            if (keep && now >= c.deadline) {
                if (c.phase == Connection::Phase::Head || c.phase == Connection::Phase::Body)
                    Refuse(c, 408, "the request did not arrive in time");
                else
                    keep = false;  // idle, or done lingering
            }
            if (!keep) {
                it = waiting.erase(it);
                --open;
            } else {
                ++it;
            }
        }
    }
    open -= waiting.size();
    waiting.clear();
}

void HttpService::Impl::Serve(std::unique_ptr<Connection> c) {
    bool closed = false;
    const bool closeAfter = stopping.load() || ++c->served >= options.maxRequestsPerConnection;
    Stream stream(*this, *c);
    bool ok = routes.Process(stream, closeAfter, closed);
    if (!ok || closed || closeAfter || stream.Failed() || stopping.load()) {
        --open;
        return;  // closes
    }
    c->in.erase(0, c->end);
    c->end = 0;
    c->framer.Reset();
    c->continued = false;
    c->phase = Connection::Phase::Idle;
    c->waitingSince = Clock::now();
    c->deadline = c->waitingSince + options.idleTime;
    {
        std::lock_guard lock(mutex);
        handedBack.push_back(std::move(c));
    }
    Wake();
}

void HttpService::Impl::Wake() {
    uint64_t one = 1;
    while (::write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void HttpService::Impl::SpawnLocked() {
    try {
        std::thread t([this] { Work(); });
        workers.emplace(t.get_id(), std::move(t));
    } catch (const std::system_error& e) {
        // Requests then wait for a thread to come free; nothing is lost.
        LogWarning(std::string("the HTTP server cannot start another thread: ") + e.what());
    }
}

void HttpService::Impl::Work() {
    std::unique_lock lock(mutex);
    for (;;) {
        cv.wait(lock, [&] { return workersStop || !ready.empty(); });
        if (ready.empty()) return;  // stopping, and nothing left to answer
        auto c = std::move(ready.front());
        ready.pop_front();
        lock.unlock();
        Serve(std::move(c));
        lock.lock();
        // A thread started for a long answer that has ended retires.
        auto self = workers.find(std::this_thread::get_id());
        if (!workersStop && self != workers.end() && workers.size() > options.requestThreads + longAnswers) {
            retired.push_back(std::move(self->second));
            workers.erase(self);
            return;
        }
    }
}

HttpService::LongAnswer::~LongAnswer() {
    if (!impl_) return;
    std::lock_guard lock(impl_->mutex);
    --impl_->longAnswers;
}

HttpService::LongAnswer& HttpService::LongAnswer::operator=(LongAnswer&& other) noexcept {
    if (this != &other) {
        LongAnswer gone(std::move(*this));
        impl_ = std::exchange(other.impl_, nullptr);
    }
    return *this;
}

HttpService::LongAnswer HttpService::BeginLongAnswer() {
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    ++d.longAnswers;
    if (!d.workersStop && d.workers.size() < d.options.requestThreads + d.longAnswers) d.SpawnLocked();
    return LongAnswer(&d);
}

HttpService::HttpService(HttpServiceOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

HttpService::~HttpService() { Stop(); }

httplib::Server& HttpService::Routes() { return impl_->routes; }

uint16_t HttpService::Port() const { return impl_->port; }

bool HttpService::Stopping() const { return impl_->stopping.load(); }

uint64_t HttpService::Accepted() const { return impl_->accepted.load(); }

uint64_t HttpService::Refused() const { return impl_->refused.load(); }

bool HttpService::Start(const std::string& address, uint16_t port, std::string& error) {
    Impl& d = *impl_;
    if (d.listenFd >= 0) {
        error = "already started";
        return false;
    }
    sockaddr_storage addr{};
    socklen_t len = 0;
    if (auto* v4 = reinterpret_cast<sockaddr_in*>(&addr); inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        len = sizeof *v4;
    } else if (auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
               inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        len = sizeof *v6;
    } else {
        error = "\"" + address + "\" is not an IPv4 or IPv6 address";
        return false;
    }
    // A client that goes away mid-answer must not end the process.
    signal(SIGPIPE, SIG_IGN);
    int fd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    // No SO_REUSEPORT: with it a second server binds the same port without an error and
    // the kernel shares the clients out between the two.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (addr.ss_family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    std::string ip;
    int bound = 0;
    SocketAddress(fd, false, ip, bound);
    d.stopFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    d.wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (d.stopFd < 0 || d.wakeFd < 0) {
        error = SystemError("the HTTP server cannot make its events", errno);
        for (int f : {fd, d.stopFd, d.wakeFd})
            if (f >= 0) ::close(f);
        d.stopFd = d.wakeFd = -1;
        return false;
    }
    d.listenFd = fd;
    d.port = static_cast<uint16_t>(bound);
    d.routes.SetListening(fd);
#if defined(__SANITIZE_THREAD__)
    // Debian's cpp-httplib is built without ThreadSanitizer, which then sees the C library
    // calls the library makes but not the guards of its function-local statics, and takes
    // the first requests parsed at once for a race on the table of request methods. One
    // request run here, before any request thread starts, builds the table; starting the
    // threads orders that before every later request, for ThreadSanitizer too.
    {
        Connection warm(-1, d.options.bounds);
        warm.in = "OPTIONS * HTTP/1.1\r\nHost: -\r\n\r\n";
        warm.end = warm.in.size();
        Impl::Stream stream(d, warm);
        bool closed = false;
        d.stopping = true;  // its answer goes nowhere
        d.routes.Process(stream, true, closed);
        d.stopping = false;
    }
#endif
    {
        std::lock_guard lock(d.mutex);
        d.workersStop = false;
        for (size_t i = 0; i < d.options.requestThreads; ++i) d.SpawnLocked();
    }
    try {
        d.acceptor = std::thread([&d] { d.AcceptLoop(); });
    } catch (const std::system_error& e) {
        error = std::string("cannot start the HTTP server's thread: ") + e.what();
        Stop();
        return false;
    }
    return true;
}

void HttpService::Stop() {
    Impl& d = *impl_;
    if (d.listenFd < 0) return;
    d.stopping = true;
    uint64_t one = 1;
    while (::write(d.stopFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    if (d.acceptor.joinable()) d.acceptor.join();
    d.routes.SetListening(-1);
    std::list<std::thread> all;
    {
        std::lock_guard lock(d.mutex);
        d.workersStop = true;
        for (auto& [id, t] : d.workers) all.push_back(std::move(t));
        d.workers.clear();
        all.splice(all.end(), d.retired);
    }
    d.cv.notify_all();
    for (auto& t : all) t.join();
    {
        std::lock_guard lock(d.mutex);
        d.open -= d.ready.size() + d.handedBack.size();
        d.ready.clear();
        d.handedBack.clear();
    }
    for (int* f : {&d.listenFd, &d.stopFd, &d.wakeFd}) {
        ::close(*f);
        *f = -1;
    }
}

}  // namespace kestrix::platform
