// The shell's HTTP server: binding and routing over the serving core (HttpService), the page and its files, the
// notification, message boxes and the event stream. Each further area of the API has a
// file of its own (DialogRoutes, TodayRoutes, SettingsRoutes, TrackRoutes.cpp).
#include "shell/HttpServer.h"

#include <arpa/inet.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <charconv>
#include <random>

#include "platform/HttpService.h"
#include "platform/Log.h"
#include "resources/Resources.h"
#include "shell/HttpServerImpl.h"

namespace kestrix::shell {

namespace {

// An event stream sends a comment this often so a closed browser tab is noticed and its
// request thread freed.
constexpr auto kEventKeepAlive = std::chrono::seconds(10);
constexpr auto kPositionEventInterval = std::chrono::seconds(1);
constexpr size_t kRequestThreads = 8;
constexpr size_t kMaxBody = 64 * 1024;

}  // namespace

platform::HttpServiceOptions ServiceOptions() {
    platform::HttpServiceOptions o;
    o.bounds.maxBody = kMaxBody;
    o.requestThreads = kRequestThreads;
    // Event streams hold their connections; past kMaxEventStreams the oldest is closed.
    o.maxConnections = 2 * kMaxEventStreams;
    o.refusal = [](int, const std::string& reason, std::string& type, std::string& body) {
        type = "application/json";
        body = nlohmann::json{{"error", reason}}.dump();
    };
    return o;
}

const char* const kJson = "application/json";

void SendJson(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(), kJson);
}

void SendError(httplib::Response& res, int status, const std::string& message) {
    SendJson(res, status, json{{"error", message}});
}

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

bool StringMember(const json& body, const char* name, httplib::Response& res, std::string& out) {
    auto it = body.find(name);
    if (it == body.end() || !it->is_string()) {
        SendError(res, 400, std::string("\"") + name + "\" must be a string");
        return false;
    }
    out = it->get<std::string>();
    return true;
}

std::string DumpJson(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

namespace {

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
        // Map tiles are the only thing the page loads from elsewhere.
        const std::string tileOrigin = TileOrigin(tiles);
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; script-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:" +
                           (tileOrigin.empty() ? std::string() : " " + tileOrigin) +
                           "; frame-ancestors 'none'; form-action 'none'");
        res.set_content(PageHtml(token, tiles), "text/html; charset=utf-8");
    });
    server.Get(R"(/([a-z]{1,16}\.(?:js|css)))", [](const httplib::Request& req, httplib::Response& res) {
        std::string body;
        std::string type;
        if (!PageFile(req.matches[1].str(), body, type)) return SendError(res, 404, "no such file");
        res.set_content(std::move(body), type);
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

    DialogRoutes();
    TodayRoutes();
    SettingsRoutes();
    TrackRoutes();

    server.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) { Events(req, res); });

    server.Get(R"(/resources/(\d{1,6})\.svg)", [](const httplib::Request& req, httplib::Response& res) {
        const char* svg = ResourceSvg(std::stoi(req.matches[1].str()));
        if (!svg) return SendError(res, 404, "no image with that id");
        res.set_content(svg, "image/svg+xml");
    });
}

std::shared_ptr<HttpServer::Impl::Stream> HttpServer::Impl::OpenStream() {
    auto stream = std::make_shared<Stream>(*this);
    bool evicted = false;
    {
        std::lock_guard lock(streamsMutex);
        streams.push_back(stream.get());
        if (streams.size() > kMaxEventStreams) {
            streams.front()->closed = true;
            streams.pop_front();
            evicted = true;
        }
    }
    if (evicted) host.WakeWaiters();
    return stream;
}

void HttpServer::Impl::CloseStream(Stream* stream) {
    std::lock_guard lock(streamsMutex);
    std::erase(streams, stream);
}

void HttpServer::Impl::Events(const httplib::Request&, httplib::Response& res) {
    res.set_header("X-Accel-Buffering", "no");
    using Clock = std::chrono::steady_clock;
    struct Seen {
        bool started = false;
        ShellHostImpl::Marks marks;
        Clock::time_point written;
        Clock::time_point positionSent;
    };
    auto seen = std::make_shared<Seen>();
    // The provider owns the stream: it is counted out when the response goes.
    auto ended = [this, stream = OpenStream()] { return stopping.load() || stream->closed.load(); };
    res.set_chunked_content_provider(
        "text/event-stream", [this, seen, ended](size_t, httplib::DataSink& sink) {
            auto send = [&](const std::string& chunk) {
                seen->written = Clock::now();
                return sink.write(chunk.data(), chunk.size());
            };
            if (ended()) return false;
            if (!seen->started) {
                // The first event tells a new page where things stand; later ones that they moved.
                seen->started = true;
                seen->marks = host.CurrentMarks();
                return send("event: change\ndata: {\"version\":" + std::to_string(seen->marks.version) + "}\n\n");
            }
            for (;;) {
                // Positions come with every fix; a stream tells of them at most once a second.
                const Clock::time_point now = Clock::now();
                const Clock::time_point nextPosition = seen->positionSent + kPositionEventInterval;
                const bool positionDue = now >= nextPosition;
                auto until = seen->written + kEventKeepAlive;
                if (!positionDue) until = std::min(until, nextPosition);
                const auto bound = std::chrono::ceil<std::chrono::milliseconds>(std::max(until - now, Clock::duration{}));
                const ShellHostImpl::Marks marks = host.WaitForChange(seen->marks, positionDue, bound, ended);
                if (ended()) return false;
                std::string chunk;
                if (marks.version != seen->marks.version) {
                    chunk = "event: change\ndata: {\"version\":" + std::to_string(marks.version) + "}\n\n";
                    seen->marks.version = marks.version;
                }
                if (marks.positions != seen->marks.positions && Clock::now() >= nextPosition) {
                    chunk += "event: position\ndata: {}\n\n";
                    seen->marks.positions = marks.positions;
                    seen->positionSent = Clock::now();
                }
                if (!chunk.empty()) return send(chunk);
                if (Clock::now() >= seen->written + kEventKeepAlive) return send(": keep-alive\n\n");
            }
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
    impl_->Routes();
    // Set before the first request can read them; the port once it is known.
    impl_->boundAddress = address;
    impl_->loopbackOnly = IsLoopbackAddress(address);
    impl_->port = port;
    std::string why;
    if (!impl_->service.Start(address, port, why)) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + why;
        return false;
    }
    impl_->port = impl_->service.Port();
    impl_->started = true;
    return true;
}

void HttpServer::SetTodayScreen(TodayScreen* screen) { impl_->today = screen; }

void HttpServer::SetMapTiles(MapTiles tiles) { impl_->tiles = std::move(tiles); }

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
    impl_->service.Stop();
}

}  // namespace kestrix::shell
