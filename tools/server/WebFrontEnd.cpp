// The only translation unit of the reference server that includes the HTTP library.
#include "WebFrontEnd.h"

#include <arpa/inet.h>
#include <openssl/crypto.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <mutex>
#include <random>

#include <httplib.h>

#include "Store.h"
#include "ServerCommand.h"
#include "TrackingServer.h"
#include "WebPages.h"
#include "platform/HttpService.h"

namespace kestrix::refserver {

namespace {

constexpr size_t kRequestThreads = 4;
// Forms are small; the README promises 16 KiB.
constexpr size_t kMaxBody = 16 * 1024;
const char* const kHtml = "text/html; charset=utf-8";
const char* const kRegisterPath = "/mobile/register";

// libstdc++ draws random_device from the kernel's generator (or the CPU's), so the token
// cannot be guessed by a page that has never seen the form.
std::string RandomToken() {
    std::random_device rd;
    std::string out;
    for (int i = 0; i < 32; ++i) out += "0123456789abcdef"[rd() & 15];
    return out;
}

bool IsLoopback(const std::string& host) {
    in_addr a{};
    return host == "::1" || (inet_pton(AF_INET, host.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127);
}

void SendPage(httplib::Response& res, int status, std::string html) {
    res.status = status;
    res.set_content(std::move(html), kHtml);
}

platform::HttpServiceOptions ServiceOptions(std::shared_ptr<platform::TlsContext> tls) {
    platform::HttpServiceOptions o;
    o.tls = std::move(tls);
    o.bounds.maxBody = kMaxBody;
    o.requestThreads = kRequestThreads;
    o.refusal = [](int status, const std::string& reason, std::string& type, std::string& body) {
        type = kHtml;
        body = status == 413 ? MessagePage("Too much data", "The form sent more than this server accepts.")
                             : MessagePage("Request refused", "This server cannot answer that request: " + reason + ".");
    };
    return o;
}

}  // namespace

struct WebFrontEnd::Impl {
    explicit Impl(WebOptions o) : options(std::move(o)) {}

    bool HostOk(const httplib::Request& req) const {
        if (!loopbackOnly) return true;
        std::string given = req.get_header_value("Host");
        std::string port(1, ':');
        port += std::to_string(boundPort);
        std::string bound = boundHost;
        if (bound.find(':') != std::string::npos) bound = "[" + bound.append("]");
        for (const std::string& name : {std::string("127.0.0.1"), std::string("localhost"), std::string("[::1]"), bound}) {
            if (given == name + port || (boundPort == 80 && given == name)) return true;
        }
        return false;
    }

    // A form posted from one of this server's own pages. Browsers name the page's origin
    // in Origin (in Referer when they leave Origin out); a request with neither is left to
    // the token.
    bool SameOrigin(const httplib::Request& req) const {
        std::string self = (options.tls ? "https://" : "http://") + req.get_header_value("Host");
        if (req.has_header("Origin")) return req.get_header_value("Origin") == self;
        if (req.has_header("Referer")) return req.get_header_value("Referer").rfind(self + "/", 0) == 0;
        return true;
    }

    bool TokenOk(const std::string& given) const {
        return given.size() == token.size() && CRYPTO_memcmp(given.data(), token.data(), token.size()) == 0;
    }

    void Routes();
    void Register(const httplib::Request& req, const httplib::Params& form, httplib::Response& res);

    WebOptions options;
    const std::string token = RandomToken();
    // Runs fn on the pool's one connection, the threads taking turns; when it fails because
    // the database went away (PostgreSQL restarted, say), once more on a fresh connection.
    bool WithStore(const std::function<bool(Store&)>& fn, std::string& why) {
        std::lock_guard lock(storeMutex);
        bool ok = fn(*store);
        if (!ok && store->Unavailable() && store->Open(options.database)) ok = fn(*store);
        why = store->Error();
        return ok;
    }

    std::mutex storeMutex;
    std::unique_ptr<Store> store;
    // Readable once Stop begins: a request waiting for the database gives up.
    int abortFd = -1;
    platform::HttpService service{ServiceOptions(options.tls)};
    httplib::Server& server = service.Routes();
    std::string boundHost;
    std::atomic<int> boundPort{0};
    bool loopbackOnly = true;
    bool started = false;
    std::string error;
};

void WebFrontEnd::Impl::Routes() {
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("X-Frame-Options", "DENY");
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
                       "frame-ancestors 'none'; base-uri 'none'");
        if (!HostOk(req)) {
            SendPage(res, 403,
                     MessagePage("Wrong address", "This server answers only at http://127.0.0.1:" +
                                                      std::to_string(boundPort) + "/ and http://localhost:" +
                                                      std::to_string(boundPort) + "/."));
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        if (res.status == 404)
            SendPage(res, 404, MessagePage("Not found", "There is no page at this address."));
        else if (res.status == 413)
            SendPage(res, 413, MessagePage("Too much data", "The form sent more than this server accepts."));
        else
            SendPage(res, res.status, MessagePage("Request refused", "This server cannot answer that request."));
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        SendPage(res, 500, MessagePage("Server error", "The page could not be made."));
    });

    server.Get("/", [this](const httplib::Request&, httplib::Response& res) {
        std::vector<UserSummary> users;
        std::string why;
        if (!WithStore([&](Store& s) { return s.ListUsers(users); }, why)) return SendPage(res, 500, MessagePage("Server error", why));
        SendPage(res, 200, HomePage(options.trackingAddress, users));
    });
    server.Get(kRegisterPath, [this](const httplib::Request&, httplib::Response& res) {
        SendPage(res, 200, RegisterPage(token, "", ""));
    });
    // Read through a content reader: the library's own form reading stops at 8 KiB, the
    // service's bounds already hold the body to 16 KiB.
    server.Post(kRegisterPath, [this](const httplib::Request& req, httplib::Response& res,
                                      const httplib::ContentReader& read) {
        std::string body;
        read([&](const char* data, size_t size) {
            body.append(data, size);
            return true;
        });
        httplib::Params form;
        httplib::detail::parse_query_text(body, form);
        Register(req, form, res);
    });
}

void WebFrontEnd::Impl::Register(const httplib::Request& req, const httplib::Params& form, httplib::Response& res) {
    auto field = [&](const char* name) {
        auto it = form.find(name);
        return it == form.end() ? std::string() : it->second;
    };
    if (!SameOrigin(req)) {
        return SendPage(res, 403,
                        MessagePage("Request refused",
                                    "The form came from another web site; accounts are created only from this "
                                    "server's own registration page."));
    }
    if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) != 0) {
        return SendPage(res, 415, MessagePage("Request refused", "The form must be sent as a web form."));
    }
    if (!TokenOk(field("token"))) {
        return SendPage(res, 403,
                        MessagePage("Form expired",
                                    "This form was not made by this server, or the server has restarted since. "
                                    "Open the registration page again."));
    }
    std::string login = field("login");
    std::string password = field("password");
    std::string fault = CheckRegistration(login, password, field("again"));
    if (!fault.empty()) return SendPage(res, 400, RegisterPage(token, login, fault));

    uint32_t id = 0;
    std::string why;
    const bool added = WithStore([&](Store& s) { return s.AddUser(login, PasswordDigest(password), id); }, why);
    bool taken = false;
    if (!added) {
        UserRecord existing;
        std::string ignored;
        taken = WithStore([&](Store& s) { return s.FindUser(login, existing); }, ignored);
    }
    if (!added) return SendPage(res, taken ? 409 : 500, RegisterPage(token, login, why));
    std::fprintf(stderr, "kestrix-server: account %s created from the web pages (user id %u)\n", login.c_str(), id);
    SendPage(res, 200, RegisteredPage(options.trackingAddress, login, id));
}

WebFrontEnd::WebFrontEnd(WebOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

WebFrontEnd::~WebFrontEnd() {
    Stop();
    if (impl_->abortFd >= 0) close(impl_->abortFd);
}

bool WebFrontEnd::Start() {
    Impl& d = *impl_;
    if (d.started) {
        d.error = "already started";
        return false;
    }
    uint16_t port = 0;
    if (!ParseListenAddress(d.options.listen, d.boundHost, port)) {
        d.error = "bad web address \"" + d.options.listen + "\" (expected ADDR:PORT, e.g. 127.0.0.1:1280)";
        return false;
    }
    d.store = MakeStore(d.options.database);
    if (d.abortFd < 0) d.abortFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    uint64_t count;
    while (read(d.abortFd, &count, sizeof count) > 0) {
    }
    d.store->SetAbort(d.abortFd);
    if (!d.store->Open(d.options.database)) {
        d.error = d.store->Error();
        return false;
    }
    d.Routes();
    d.loopbackOnly = IsLoopback(d.boundHost);
    d.boundPort = port;
    std::string why;
    if (!d.service.Start(d.boundHost, port, why)) {
        d.error = "cannot serve the web pages on " + d.options.listen + ": " + why;
        d.store->Close();
        return false;
    }
    d.boundPort = d.service.Port();
    d.started = true;
    return true;
}

void WebFrontEnd::Stop() {
    Impl& d = *impl_;
    if (!d.started) return;
    d.started = false;
    const uint64_t one = 1;
    if (write(d.abortFd, &one, sizeof one) < 0) std::perror("kestrix-server: eventfd");
    d.service.Stop();
    d.store->Close();
}

uint16_t WebFrontEnd::Port() const { return static_cast<uint16_t>(impl_->boundPort); }

std::string WebFrontEnd::Address() const { return JoinHostPort(impl_->boundHost, static_cast<uint16_t>(impl_->boundPort)); }

bool WebFrontEnd::LoopbackOnly() const { return impl_->loopbackOnly; }

const std::string& WebFrontEnd::Error() const { return impl_->error; }

}  // namespace kestrix::refserver
