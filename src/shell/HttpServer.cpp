// The only translation unit that includes the HTTP and JSON libraries, so the rest of the
// build stays quick to compile.
#include "shell/HttpServer.h"

#include <arpa/inet.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <signal.h>

#include <atomic>
#include <charconv>
#include <condition_variable>
#include <mutex>

#include <httplib.h>
#include <nlohmann/json.hpp>


#include "core/TrackerController.h"
#include "platform/Log.h"
#include "resources/Resources.h"
#include "platform/Thread.h"
#include "shell/PageAssets.h"

namespace kestrix::shell {

using nlohmann::json;

namespace {

// An event stream sends a comment this often so a closed browser tab is noticed and its
// request thread freed.
constexpr auto kEventKeepAlive = std::chrono::seconds(10);
constexpr size_t kRequestThreads = 16;
constexpr size_t kMaxBody = 64 * 1024;

const char* const kJson = "application/json";

void SendJson(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(), kJson);
}

void SendError(httplib::Response& res, int status, const std::string& message) {
    SendJson(res, status, json{{"error", message}});
}

// Parses a JSON object body; on failure answers 400 and returns false.
bool ParseBody(const httplib::Request& req, httplib::Response& res, json& out) {
    out = json::parse(req.body, nullptr, false);
    if (out.is_discarded()) {
        SendError(res, 400, "the request body is not valid JSON");
        return false;
    }
    if (!out.is_object()) {
        SendError(res, 400, "the request body must be a JSON object");
        return false;
    }
    return true;
}

// Reads an integer member in [lo, hi]; on failure answers 400 and returns false.
bool IntegerMember(const json& body, const char* name, int64_t lo, int64_t hi, httplib::Response& res,
                   int64_t& out) {
    auto it = body.find(name);
    if (it == body.end() || !it->is_number_integer()) {
        SendError(res, 400, std::string("\"") + name + "\" must be an integer");
        return false;
    }
    int64_t v = it->is_number_unsigned() && it->get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)
                    ? hi + 1
                    : it->get<int64_t>();
    if (v < lo || v > hi) {
        SendError(res, 400, std::string("\"") + name + "\" is out of range");
        return false;
    }
    out = v;
    return true;
}

json BoxesJson(const std::vector<PendingMessageBox>& boxes) {
    json list = json::array();
    for (const auto& b : boxes) {
        json buttons = json::array();
        for (const auto& btn : b.buttons) buttons.push_back({{"id", btn.id}, {"label", btn.label}});
        list.push_back({{"id", b.id},
                        {"text", b.text},
                        {"caption", b.caption},
                        {"icon", b.icon},
                        {"flags", b.flags},
                        {"buttons", std::move(buttons)}});
    }
    return list;
}

// The logic's narrow text is UTF-8 on Linux, but a server message may carry anything;
// the JSON library refuses invalid UTF-8, so such bytes are replaced.
std::string DumpJson(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

#if defined(__SANITIZE_THREAD__)
// Debian's cpp-httplib is built without ThreadSanitizer, which then sees the C library
// calls the library makes but not the guards of its function-local statics. The first
// requests parsed at once look like a race on the table of request methods that the first
// of them builds (the guard orders the two). One request answered before any other builds
// it; the socket it is answered on orders that before every later request, for
// ThreadSanitizer too, so nothing needs to be suppressed and no race of ours is hidden.
void ServeOneRequestFirst(const std::string& address, int port) {
    httplib::Client first(address == "0.0.0.0" ? "127.0.0.1" : address, port);
    first.set_connection_timeout(5, 0);
    first.set_read_timeout(5, 0);
    first.Get("/app.css");  // answered without the UI thread, which is waiting here
}
#endif

}  // namespace

bool IsLoopbackAddress(const std::string& address) {
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) != 1) return false;
    return (ntohl(a.s_addr) >> 24) == 127;
}

bool ParseListenAddress(const std::string& text, std::string& address, uint16_t& port, std::string& error) {
    auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        error = "expected ADDRESS:PORT, got \"" + text + "\"";
        return false;
    }
    std::string host = text.substr(0, colon);
    std::string portText = text.substr(colon + 1);
    unsigned value = 0;
    auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (ec != std::errc() || end != portText.data() + portText.size() || value > 65535) {
        error = "\"" + portText + "\" is not a port number (0 to 65535)";
        return false;
    }
    if (host == "localhost") host = "127.0.0.1";
    in_addr a{};
    if (inet_pton(AF_INET, host.c_str(), &a) != 1) {
        error = "\"" + host + "\" is not a dotted IPv4 address";
        return false;
    }
    address = host;
    port = static_cast<uint16_t>(value);
    return true;
}

std::string MakeRandomToken() {
    unsigned char bytes[16] = {};
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        // The system's generator failing is not expected; a fixed token would be guessable.
        std::random_device rd;
        for (auto& b : bytes) b = static_cast<unsigned char>(rd());
    }
    static const char* const hex = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out.push_back(hex[b >> 4]);
        out.push_back(hex[b & 15]);
    }
    return out;
}

struct HttpServer::Impl {
    // Shared with the tasks posted to the UI thread, which may outlive a request that
    // stopped waiting for them.
    struct Bridge {
        std::mutex mutex;
        std::condition_variable cv;
        bool stopping = false;
    };

    Impl(platform::MessageLoop& l, ShellHostImpl& h, std::string t) : loop(l), host(h), token(std::move(t)) {}

    // Runs fn on the UI thread and waits for it; false when the server stops before fn has
    // started, and then fn never runs (it may refer to the request's own variables).
    bool OnUiThread(std::function<void()> fn) {
        struct Call {
            bool started = false;
            bool done = false;
            bool abandoned = false;
        };
        auto b = bridge;
        auto call = std::make_shared<Call>();
        loop.PostTask([b, call, fn = std::move(fn)] {
            {
                std::lock_guard lock(b->mutex);
                if (call->abandoned) return;
                call->started = true;
            }
            fn();
            std::lock_guard lock(b->mutex);
            call->done = true;
            b->cv.notify_all();
        });
        std::unique_lock lock(b->mutex);
        // Once started, fn is short and never blocks: wait for it even while stopping.
        b->cv.wait(lock, [&] { return call->done || (b->stopping && !call->started); });
        call->abandoned = !call->done;
        return call->done;
    }

    bool TokenOk(const httplib::Request& req) const {
        std::string given = req.get_header_value("X-Kestrix-Token");
        return given.size() == token.size() && CRYPTO_memcmp(given.data(), token.data(), token.size()) == 0;
    }

    // A page served on loopback is reachable only by the names of loopback, so a web site
    // that rebinds its own name to 127.0.0.1 cannot read the API.
    bool HostOk(const httplib::Request& req) const {
        if (!loopbackOnly) return true;
        std::string h = req.get_header_value("Host");
        std::string p = ":" + std::to_string(port);
        return h == "127.0.0.1" + p || h == "localhost" + p || h == boundAddress + p;
    }

    void Routes();
    void Events(const httplib::Request& req, httplib::Response& res);

    platform::MessageLoop& loop;
    ShellHostImpl& host;
    const std::string token;
    std::shared_ptr<Bridge> bridge = std::make_shared<Bridge>();
    std::atomic<bool> stopping{false};
    httplib::Server server;
    platform::Thread thread;
    std::string boundAddress;
    bool loopbackOnly = true;
    int port = 0;
    bool started = false;
};

void HttpServer::Impl::Routes() {
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        if (!HostOk(req)) {
            SendError(res, 403, "unexpected Host header");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.method == "POST" && !TokenOk(req)) {
            SendError(res, 403, "missing or wrong X-Kestrix-Token header");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) {
            SendError(res, res.status, res.status == 404 ? "no such resource" : "request failed");
        }
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        SendError(res, 500, "internal error");
    });

    server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
        // The status page is the logic's HTML: the policy keeps any script in it from running.
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
                       "img-src 'self' data:; frame-ancestors 'none'; form-action 'none'");
        res.set_content(PageHtml(token), "text/html; charset=utf-8");
    });
    server.Get("/app.js", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(PageScript()), "text/javascript; charset=utf-8");
    });
    server.Get("/app.css", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(PageStyle()), "text/css; charset=utf-8");
    });

    server.Get("/api/notification", [this](const httplib::Request&, httplib::Response& res) {
        uint64_t version = host.Version();
        auto n = host.CurrentNotification();
        if (!n) {
            res.status = 404;
            res.set_content(DumpJson({{"error", "no notification is shown"}, {"version", version}}), kJson);
            return;
        }
        json body{{"title", n->title}, {"icon", n->iconId}, {"html", n->html}, {"version", version}};
        res.set_content(DumpJson(body), kJson);
    });

    server.Post("/api/command", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        int64_t id = 0;
        if (!ParseBody(req, res, body) || !IntegerMember(body, "id", 1, 65535, res, id)) return;
        bool shown = false;
        bool posted = false;
        bool ran = OnUiThread([&, id] {
            auto n = host.CurrentNotification();
            shown = n.has_value();
            if (shown) {
                posted = platform::PostMessage(n->sink, platform::WM_COMMAND, static_cast<platform::WParam>(id), 0);
            }
        });
        if (!ran) return SendError(res, 503, "the shell is shutting down");
        if (!shown) return SendError(res, 409, "no notification is shown");
        if (!posted) return SendError(res, 409, "the notification's window is gone");
        SendJson(res, 200, json{{"ok", true}});
    });

    server.Post("/api/notification/dismiss", [this](const httplib::Request&, httplib::Response& res) {
        bool dismissed = false;
        if (!OnUiThread([&] { dismissed = host.Dismiss(); })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        if (!dismissed) return SendError(res, 409, "no notification is shown");
        SendJson(res, 200, json{{"ok", true}});
    });

    server.Get("/api/messageboxes", [this](const httplib::Request&, httplib::Response& res) {
        uint64_t version = host.Version();
        json links = json::array();
        for (const auto& l : host.OpenedLinks()) links.push_back(l);
        json body{{"version", version}, {"messageboxes", BoxesJson(host.MessageBoxes())}, {"links", links}};
        res.set_content(DumpJson(body), kJson);
    });

    server.Post("/api/messagebox/answer", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        int64_t id = 0;
        int64_t button = 0;
        if (!ParseBody(req, res, body) || !IntegerMember(body, "id", 1, UINT32_MAX, res, id) ||
            !IntegerMember(body, "button", 1, 7, res, button)) {
            return;
        }
        bool answered = false;
        if (!OnUiThread([&] { answered = host.Answer(static_cast<uint32_t>(id), static_cast<int>(button)); })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        if (!answered) return SendError(res, 404, "no open message box with that id shows that button");
        SendJson(res, 200, json{{"ok", true}});
    });

    server.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        // Read on the UI thread after everything posted before this request (commands
        // included) has been handled, so a script sees the effect of its last command.
        json body;
        bool exists = false;
        if (!OnUiThread([&] {
                exists = TrackerController::Exists();
                if (!exists) return;
                TrackerController* c = TrackerController::Instance();
                body = json{{"state", c->GetState()},
                            {"acLineStatus", c->GetAcLineStatus()},
                            {"stoppedByUser", c->StoppedByUser()},
                            {"receiverRunning", c->IsReceiverRunning()},
                            {"sessionRunning", c->IsSessionRunning()}};
            })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        if (!exists) return SendError(res, 404, "the tracker is not loaded");
        SendJson(res, 200, body);
    });

    server.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) { Events(req, res); });

    server.Get(R"(/resources/(\d{1,6})\.svg)", [](const httplib::Request& req, httplib::Response& res) {
        const char* svg = ResourceSvg(std::stoi(req.matches[1].str()));
        if (!svg) return SendError(res, 404, "no image with that id");
        res.set_content(svg, "image/svg+xml");
    });
}

void HttpServer::Impl::Events(const httplib::Request&, httplib::Response& res) {
    res.set_header("X-Accel-Buffering", "no");
    auto seen = std::make_shared<std::optional<uint64_t>>();
    res.set_chunked_content_provider("text/event-stream", [this, seen](size_t, httplib::DataSink& sink) {
        if (stopping) return false;
        uint64_t before = seen->value_or(host.Version());
        uint64_t now = seen->has_value()
                           ? host.WaitForChange(before, kEventKeepAlive, [this] { return stopping.load(); })
                           : before;
        if (stopping) return false;
        std::string chunk;
        if (!seen->has_value() || now != before) {
            // The first event tells a new page where things stand; later ones that they moved.
            chunk = "event: change\ndata: {\"version\":" + std::to_string(now) + "}\n\n";
            *seen = now;
        } else {
            chunk = ": keep-alive\n\n";
        }
        return sink.write(chunk.data(), chunk.size());
    });
}

HttpServer::HttpServer(platform::MessageLoop& loop, ShellHostImpl& host, std::string token)
    : impl_(std::make_unique<Impl>(loop, host, std::move(token))) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(const std::string& address, uint16_t port, std::string& error) {
    if (impl_->started) {
        error = "already started";
        return false;
    }
    // A browser that goes away mid-response must not end the process.
    signal(SIGPIPE, SIG_IGN);

    auto& server = impl_->server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kRequestThreads); };
    server.set_keep_alive_timeout(1);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    server.set_payload_max_length(kMaxBody);
    impl_->Routes();

    int bound = port == 0 ? server.bind_to_any_port(address) : (server.bind_to_port(address, port) ? port : -1);
    if (bound <= 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + " (in use or not an address of this machine)";
        return false;
    }
    impl_->port = bound;
    impl_->boundAddress = address;
    impl_->loopbackOnly = IsLoopbackAddress(address);
    if (!impl_->thread.Start([this] { impl_->server.listen_after_bind(); }, "http")) {
        error = "cannot start the HTTP server's thread";
        return false;
    }
    impl_->started = true;
#if defined(__SANITIZE_THREAD__)
    ServeOneRequestFirst(address, bound);
#endif
    return true;
}

uint16_t HttpServer::Port() const { return static_cast<uint16_t>(impl_->port); }

const std::string& HttpServer::Token() const { return impl_->token; }

void HttpServer::Stop() {
    if (!impl_->started) return;
    impl_->started = false;
    impl_->stopping = true;
    {
        std::lock_guard lock(impl_->bridge->mutex);
        impl_->bridge->stopping = true;
    }
    impl_->bridge->cv.notify_all();
    impl_->host.WakeWaiters();
    // The listening thread may not have entered its accept loop yet, and stop() does nothing
    // before it has; so ask again until the thread has ended.
    do {
        impl_->server.stop();
    } while (!impl_->thread.Join(50));
}

}  // namespace kestrix::shell
