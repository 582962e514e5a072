// The only translation unit of the tracking server that includes the HTTP library and the
// JSON library.
#include "WebFrontEnd.h"

#include <arpa/inet.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <unordered_map>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "Credential.h"
#include "PointFormats.h"
#include "ServerCommand.h"
#include "Store.h"
#include "TrackingServer.h"
#include "WebPages.h"
#include "geo/TrackMeasure.h"
#include "platform/HttpService.h"

namespace kestrix::refserver {

namespace {

constexpr size_t kRequestThreads = 4;
// Forms are small; the README promises 16 KiB.
constexpr size_t kMaxBody = 16 * 1024;
const char* const kHtml = "text/html; charset=utf-8";
const char* const kJson = "application/json; charset=utf-8";
const char* const kRegisterPath = "/mobile/register";
const char* const kSessionCookie = "kestrix_session";
const char* const kVisitCookie = "kestrix_visit";
constexpr int64_t kSessionMs = int64_t{30} * 24 * 3600 * 1000;
constexpr size_t kFreeFailures = 5;
constexpr auto kFailureWindow = std::chrono::minutes(1);
constexpr auto kBlockTime = std::chrono::minutes(1);
constexpr size_t kMaxFailingAddresses = 10000;
constexpr auto kEventPoll = std::chrono::milliseconds(250);
constexpr auto kEventKeepAlive = std::chrono::seconds(15);
constexpr size_t kMaxSimplify = 1000000;
// Milliseconds between 1601-01-01 (FILETIME's start) and 1970-01-01.
constexpr int64_t kFileTimeEpochMs = 11644473600000;

// 32 bytes from OpenSSL's generator as 64 hexadecimal characters; empty if it fails.
std::string RandomHex() {
    unsigned char bytes[32];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return {};
    return LowerHex(bytes, sizeof bytes);
}

std::string Sha256Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr);
    return LowerHex(digest, size);
}

bool IsCookieValue(const std::string& value) {
    return value.size() == 64 && value.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// A browser's forms carry this: derived from its cookie, so a page of another site, which
// cannot read the cookie, cannot make it.
std::string FormToken(const std::string& cookie) {
    return Sha256Hex("form:" + cookie);
}

// The store keeps this, never the cookie itself.
std::string SessionKey(const std::string& cookie) {
    return Sha256Hex("session:" + cookie);
}

std::string CookieValue(const httplib::Request& req, std::string_view name) {
    for (size_t i = 0, n = req.get_header_value_count("Cookie"); i < n; ++i) {
        const std::string header = req.get_header_value("Cookie", i);
        size_t at = 0;
        while (at < header.size()) {
            size_t end = header.find(';', at);
            if (end == std::string::npos) end = header.size();
            std::string_view pair(header.data() + at, end - at);
            while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
            if (pair.size() > name.size() && pair.substr(0, name.size()) == name && pair[name.size()] == '=')
                return std::string(pair.substr(name.size() + 1));
            at = end + 1;
        }
    }
    return {};
}

bool IsLoopback(const std::string& host) {
    in_addr a{};
    return host == "::1" || (inet_pton(AF_INET, host.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127);
}

void SendPage(httplib::Response& res, int status, std::string html) {
    res.status = status;
    res.set_content(std::move(html), kHtml);
}

void SendJson(httplib::Response& res, int status, const nlohmann::json& body) {
    res.status = status;
    res.set_content(body.dump() + "\n", kJson);
}

void SendApiError(httplib::Response& res, int status, const std::string& message) {
    if (status == 401) res.set_header("WWW-Authenticate", "Basic realm=\"kestrix-server\", charset=\"UTF-8\"");
    SendJson(res, status, nlohmann::json{{"error", message}});
}

void Redirect(httplib::Response& res, const std::string& to) {
    res.status = 303;
    res.set_header("Location", to);
}

// "YYYY-MM-DDTHH:MM:SS.mmmZ", "YYYY-MM-DDTHH:MM:SSZ" or "YYYY-MM-DD" (the day's first
// millisecond, or its last one for the end of a range).
bool ParseRangeTime(const std::string& text, bool end, int64_t& ms) {
    // PostgreSQL has no year 0.
    if (text.rfind("0000", 0) == 0) return false;
    if (text.size() == 24) return ParseIsoMs(text, ms);
    if (text.size() == 20 && text[19] == 'Z') return ParseIsoMs(text.substr(0, 19) + ".000Z", ms);
    if (text.size() == 10) return ParseIsoMs(text + (end ? "T23:59:59.999Z" : "T00:00:00.000Z"), ms);
    return false;
}

bool DecodeBase64(const std::string& text, std::string& out) {
    if (text.empty() || text.size() % 4 || text.size() > 4096) return false;
    std::string bytes(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) return false;
    size_t size = static_cast<size_t>(n);
    for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) --size;
    bytes.resize(size);
    out = std::move(bytes);
    return true;
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

// Failed sign-ins per client address: after kFreeFailures within kFailureWindow, the
// address is refused for kBlockTime. Bounded: past kMaxFailingAddresses, addresses whose
// failures are over are forgotten, and if that is not enough, all.
class SignInLimit {
public:
    using Clock = std::chrono::steady_clock;
    bool Blocked(const std::string& address) {
        std::lock_guard lock(mutex_);
        auto it = entries_.find(address);
        return it != entries_.end() && Clock::now() < it->second.blockedUntil;
    }
    void Failed(const std::string& address) {
        std::lock_guard lock(mutex_);
        const Clock::time_point now = Clock::now();
        if (entries_.size() >= kMaxFailingAddresses) {
            std::erase_if(entries_, [&](const auto& e) {
                return now >= e.second.blockedUntil &&
                       (e.second.failures.empty() || now - e.second.failures.back() > kFailureWindow);
            });
            if (entries_.size() >= kMaxFailingAddresses) entries_.clear();
        }
        Entry& e = entries_[address];
        while (!e.failures.empty() && now - e.failures.front() > kFailureWindow) e.failures.pop_front();
        e.failures.push_back(now);
        if (e.failures.size() >= kFreeFailures) {
            e.blockedUntil = now + kBlockTime;
            e.failures.clear();
        }
    }

private:
    struct Entry {
        std::deque<Clock::time_point> failures;
        Clock::time_point blockedUntil{};
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

// Who made a request.
struct Viewer {
    bool failed = false;  // the database could not say
    bool signedIn = false;
    UserRecord user;
    std::string sessionKey;
    std::string token;  // what this browser's forms carry
};

httplib::Params ReadForm(const httplib::ContentReader& read) {
    // Read through a content reader: the library's own form reading stops at 8 KiB, the
    // service's bounds already hold the body to 16 KiB.
    std::string body;
    read([&](const char* data, size_t size) {
        body.append(data, size);
        return true;
    });
    httplib::Params form;
    httplib::detail::parse_query_text(body, form);
    return form;
}

std::string Field(const httplib::Params& form, const char* name) {
    auto it = form.find(name);
    return it == form.end() ? std::string() : it->second;
}

std::string Param(const httplib::Request& req, const char* name) {
    return req.has_param(name) ? req.get_param_value(name) : std::string();
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

    std::string CookieHeader(const char* name, const std::string& value, int64_t maxAgeS) const {
        std::string h = std::string(name) + "=" + value + "; Path=/; HttpOnly; SameSite=Strict";
        if (maxAgeS >= 0) h += "; Max-Age=" + std::to_string(maxAgeS);
        if (options.tls) h += "; Secure";
        return h;
    }

    // Runs fn on the pool's one connection, the threads taking turns; when it fails because
    // the database went away (PostgreSQL restarted, say), once more on a fresh connection.
    bool WithStore(const std::function<bool(Store&)>& fn, std::string& why) {
        std::lock_guard lock(storeMutex);
        bool ok = fn(*store);
        if (!ok && store->Unavailable() && store->Open(options.database)) ok = fn(*store);
        why = store->Error();
        return ok;
    }

    Viewer Who(const httplib::Request& req, httplib::Response& res);
    // The form's checks: its origin, its type and the browser's token. False when refused
    // (the answer is made).
    bool FormOk(const httplib::Request& req, const httplib::Params& form, const Viewer& viewer,
                httplib::Response& res);
    // Checks a login and password: 200 with user, 401, 429 or 503 (why says).
    int CheckPassword(const std::string& address, const std::string& login, const std::string& password,
                      UserRecord& user, std::string& why);
    // The account a request for the API comes from (session cookie or HTTP Basic): 200,
    // 401, 429 or 503.
    int ApiCaller(const httplib::Request& req, httplib::Response& res, UserRecord& caller, std::string& why);
    // The account named by ?user= (the caller's own when absent) as the caller may see it:
    // 200, 403 (another account, not an administrator), 404 or 503.
    int Target(const UserRecord& caller, const std::string& name, UserRecord& target, std::string& why);

    void Routes();
    void Register(const httplib::Request& req, const httplib::Params& form, httplib::Response& res);
    void SignIn(const httplib::Request& req, const httplib::Params& form, httplib::Response& res);
    void Points(const httplib::Request& req, httplib::Response& res);
    void Days(const httplib::Request& req, httplib::Response& res);
    void Events(const httplib::Request& req, httplib::Response& res);

    WebOptions options;
    const std::string dummyCredential = MakeCredential(std::string(32, '0'));
    SignInLimit limit;
    std::mutex storeMutex;
    std::unique_ptr<Store> store;
    // Readable once Stop begins: a request waiting for the database gives up.
    int abortFd = -1;
    std::atomic<bool> stopping{false};
    // Wakes the event streams at Stop.
    std::mutex eventMutex;
    std::condition_variable eventWake;
    platform::HttpService service{ServiceOptions(options.tls)};
    httplib::Server& server = service.Routes();
    std::string boundHost;
    std::atomic<int> boundPort{0};
    bool loopbackOnly = true;
    bool started = false;
    std::string error;
};

Viewer WebFrontEnd::Impl::Who(const httplib::Request& req, httplib::Response& res) {
    Viewer v;
    const std::string session = CookieValue(req, kSessionCookie);
    if (IsCookieValue(session)) {
        v.sessionKey = SessionKey(session);
        std::string why;
        if (WithStore([&](Store& s) { return s.FindSession(v.sessionKey, NowMs(), v.user); }, why)) {
            v.signedIn = true;
            v.token = FormToken(session);
            return v;
        }
        if (!why.empty()) {
            v.failed = true;
            return v;
        }
    }
    std::string visit = CookieValue(req, kVisitCookie);
    if (!IsCookieValue(visit)) {
        visit = RandomHex();
        res.set_header("Set-Cookie", CookieHeader(kVisitCookie, visit, -1));
    }
    v.token = FormToken(visit);
    return v;
}

bool WebFrontEnd::Impl::FormOk(const httplib::Request& req, const httplib::Params& form, const Viewer& viewer,
                               httplib::Response& res) {
    if (!SameOrigin(req)) {
        SendPage(res, 403,
                 MessagePage("Request refused", "The form came from another web site; this server takes forms only "
                                                "from its own pages."));
        return false;
    }
    if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) != 0) {
        SendPage(res, 415, MessagePage("Request refused", "The form must be sent as a web form."));
        return false;
    }
    const std::string given = Field(form, "token");
    if (viewer.token.empty() || given.size() != viewer.token.size() ||
        CRYPTO_memcmp(given.data(), viewer.token.data(), given.size()) != 0) {
        SendPage(res, 403,
                 MessagePage("Form expired", "This form was not made for this browser, or its session has ended. "
                                             "Open the page again and send the form from there."));
        return false;
    }
    return true;
}

int WebFrontEnd::Impl::CheckPassword(const std::string& address, const std::string& login,
                                     const std::string& password, UserRecord& user, std::string& why) {
    if (limit.Blocked(address)) return 429;
    const bool found = WithStore([&](Store& s) { return s.FindUser(login, user); }, why);
    if (!found && !why.empty()) return 503;
    // A login nobody has costs the same check as a wrong password.
    const bool ok = VerifyCredential(found ? user.credential : dummyCredential, PasswordDigest(password)) && found;
    if (ok) return 200;
    limit.Failed(address);
    return 401;
}

int WebFrontEnd::Impl::ApiCaller(const httplib::Request& req, httplib::Response& res, UserRecord& caller,
                                 std::string& why) {
    const std::string authorization = req.get_header_value("Authorization");
    if (authorization.rfind("Basic ", 0) == 0) {
        std::string pair;
        const size_t colon = DecodeBase64(authorization.substr(6), pair) ? pair.find(':') : std::string::npos;
        if (colon == std::string::npos) {
            why = "the Authorization header is not login:password in Base64";
            return 401;
        }
        const int status = CheckPassword(req.remote_addr, pair.substr(0, colon), pair.substr(colon + 1), caller, why);
        if (status == 401) why = "wrong login or password";
        if (status == 429) why = "too many failed sign-ins from this address; try again in a minute";
        return status;
    }
    const Viewer v = Who(req, res);
    if (v.failed) {
        why = "the database cannot be read";
        return 503;
    }
    if (!v.signedIn) {
        why = "sign in, or send the account's login and password (HTTP Basic)";
        return 401;
    }
    caller = v.user;
    return 200;
}

int WebFrontEnd::Impl::Target(const UserRecord& caller, const std::string& name, UserRecord& target,
                              std::string& why) {
    if (name.empty() || name == caller.name) {
        target = caller;
        return 200;
    }
    if (!caller.admin) {
        why = "only an administrator sees another account";
        return 403;
    }
    if (WithStore([&](Store& s) { return s.FindUser(name, target); }, why)) return 200;
    if (!why.empty()) return 503;
    why = "there is no account " + name;
    return 404;
}

void WebFrontEnd::Impl::Routes() {
    const std::string tileOrigin = TileOrigin(options.tiles);
    server.set_pre_routing_handler([this, tileOrigin](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("X-Frame-Options", "DENY");
        res.set_header("Referrer-Policy", "same-origin");
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self' "
                       "data:" +
                           (tileOrigin.empty() ? std::string() : " " + tileOrigin) +
                           "; form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
        if (!HostOk(req)) {
            SendPage(res, 403,
                     MessagePage("Wrong address", "This server answers only at http://127.0.0.1:" +
                                                      std::to_string(boundPort) + "/ and http://localhost:" +
                                                      std::to_string(boundPort) + "/."));
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;
        const bool api = req.path.rfind("/api/", 0) == 0;
        if (res.status == 404 && api)
            SendApiError(res, 404, "no such API");
        else if (res.status == 404)
            SendPage(res, 404, MessagePage("Not found", "There is no page at this address."));
        else if (res.status == 413)
            SendPage(res, 413, MessagePage("Too much data", "The form sent more than this server accepts."));
        else
            SendPage(res, res.status, MessagePage("Request refused", "This server cannot answer that request."));
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        SendPage(res, 500, MessagePage("Server error", "The page could not be made."));
    });
    auto unavailable = [](httplib::Response& res) {
        SendPage(res, 503, MessagePage("Database unavailable", "The server cannot read its database just now. Try "
                                                               "again in a moment."));
    };

    server.Get("/", [this, unavailable](const httplib::Request& req, httplib::Response& res) {
        const Viewer v = Who(req, res);
        if (v.failed) return unavailable(res);
        if (v.signedIn) return Redirect(res, "/tracks");
        SendPage(res, 200, HomePage(options.trackingAddress, v.token, options.registration));
    });
    server.Get("/login", [this, unavailable](const httplib::Request& req, httplib::Response& res) {
        const Viewer v = Who(req, res);
        if (v.failed) return unavailable(res);
        if (v.signedIn) return Redirect(res, "/tracks");
        SendPage(res, 200, LoginPage(v.token, "", ""));
    });
    server.Post("/login", [this](const httplib::Request& req, httplib::Response& res,
                                 const httplib::ContentReader& read) { SignIn(req, ReadForm(read), res); });
    server.Post("/logout", [this](const httplib::Request& req, httplib::Response& res,
                                  const httplib::ContentReader& read) {
        const httplib::Params form = ReadForm(read);
        const Viewer v = Who(req, res);
        if (!FormOk(req, form, v, res)) return;
        std::string why;
        if (v.signedIn && !WithStore([&](Store& s) { return s.DeleteSession(v.sessionKey); }, why))
            return SendPage(res, 503, MessagePage("Database unavailable", why));
        res.set_header("Set-Cookie", CookieHeader(kSessionCookie, "", 0));
        Redirect(res, "/");
    });
    server.Get(kRegisterPath, [this, unavailable](const httplib::Request& req, httplib::Response& res) {
        if (!options.registration)
            return SendPage(res, 404, MessagePage("Registration closed", "This server makes no new accounts."));
        const Viewer v = Who(req, res);
        if (v.failed) return unavailable(res);
        SendPage(res, 200, RegisterPage(v.token, "", ""));
    });
    server.Post(kRegisterPath, [this](const httplib::Request& req, httplib::Response& res,
                                      const httplib::ContentReader& read) { Register(req, ReadForm(read), res); });
    server.Get("/tracks", [this, unavailable](const httplib::Request& req, httplib::Response& res) {
        const Viewer v = Who(req, res);
        if (v.failed) return unavailable(res);
        if (!v.signedIn) return Redirect(res, "/login");
        UserRecord target;
        std::string why;
        const int status = Target(v.user, Param(req, "user"), target, why);
        const PageFrame frame{v.user.name, v.token};
        if (status == 503) return unavailable(res);
        if (status != 200)
            return SendPage(res, status, MessagePage(status == 404 ? "No such account" : "Not yours", why, frame));
        SendPage(res, 200, TracksPage(frame, target.name, v.user.admin, options.tiles, options.tilesAttribution));
    });
    server.Get(R"(/static/([A-Za-z0-9_.-]+))", [](const httplib::Request& req, httplib::Response& res) {
        std::string body, type;
        if (!StaticFile(req.matches[1].str(), body, type)) {
            res.status = 404;
            return;
        }
        res.set_content(std::move(body), type);
        // The files change only with the program.
        res.set_header("Cache-Control", "max-age=3600");
    });

    server.Get("/api/v1/users", [this](const httplib::Request& req, httplib::Response& res) {
        UserRecord caller;
        std::string why;
        const int status = ApiCaller(req, res, caller, why);
        if (status != 200) return SendApiError(res, status, why);
        if (!caller.admin) return SendApiError(res, 403, "only an administrator lists the accounts");
        std::vector<UserSummary> users;
        nlohmann::json list = nlohmann::json::array();
        const bool ok = WithStore(
            [&](Store& s) {
                list = nlohmann::json::array();
                if (!s.ListUsers(users)) return false;
                for (const UserSummary& u : users) {
                    StoredPoint p;
                    nlohmann::json position;
                    if (s.LastPoint(u.id, p))
                        position = {{"kind", PointKindName(p.kind)},
                                    {"time", FormatIsoMs(p.AtMs())},
                                    {"lat", p.latitude},
                                    {"lon", p.longitude},
                                    {"alt", p.altitude},
                                    {"speed", p.speed}};
                    else if (!s.Error().empty())
                        return false;
                    list.push_back({{"id", u.id},
                                    {"name", u.name},
                                    {"admin", u.admin},
                                    {"live", u.livePoints},
                                    {"track", u.trackPoints},
                                    {"last", u.lastReceived.empty() ? nlohmann::json() : nlohmann::json(u.lastReceived)},
                                    {"position", position}});
                }
                return true;
            },
            why);
        if (!ok) return SendApiError(res, 503, why);
        SendJson(res, 200, list);
    });
    server.Get("/api/v1/points", [this](const httplib::Request& req, httplib::Response& res) { Points(req, res); });
    server.Get("/api/v1/days", [this](const httplib::Request& req, httplib::Response& res) { Days(req, res); });
    server.Get("/api/v1/events", [this](const httplib::Request& req, httplib::Response& res) { Events(req, res); });
}

void WebFrontEnd::Impl::SignIn(const httplib::Request& req, const httplib::Params& form, httplib::Response& res) {
    const Viewer v = Who(req, res);
    if (!FormOk(req, form, v, res)) return;
    const std::string login = Field(form, "login");
    UserRecord user;
    std::string why;
    const int status = CheckPassword(req.remote_addr, login, Field(form, "password"), user, why);
    if (status == 429)
        return SendPage(res, 429, LoginPage(v.token, login, "Too many failed sign-ins from this address. Wait a "
                                                            "minute, then try again."));
    if (status == 503) return SendPage(res, 503, MessagePage("Database unavailable", why));
    if (status == 401) return SendPage(res, 401, LoginPage(v.token, login, "Wrong login or password."));
    const std::string cookie = RandomHex();
    if (cookie.empty()) return SendPage(res, 500, MessagePage("Server error", "The system's random generator failed."));
    if (!WithStore([&](Store& s) { return s.AddSession(SessionKey(cookie), user.id, NowMs() + kSessionMs); }, why))
        return SendPage(res, 503, MessagePage("Database unavailable", why));
    // A session that was open in this browser ends with the new one.
    if (v.signedIn) WithStore([&](Store& s) { return s.DeleteSession(v.sessionKey); }, why);
    res.set_header("Set-Cookie", CookieHeader(kSessionCookie, cookie, kSessionMs / 1000));
    Redirect(res, "/tracks");
}

void WebFrontEnd::Impl::Register(const httplib::Request& req, const httplib::Params& form, httplib::Response& res) {
    if (!options.registration)
        return SendPage(res, 403, MessagePage("Registration closed", "This server makes no new accounts."));
    const Viewer v = Who(req, res);
    if (!FormOk(req, form, v, res)) return;
    std::string login = Field(form, "login");
    std::string password = Field(form, "password");
    std::string fault = CheckRegistration(login, password, Field(form, "again"));
    if (!fault.empty()) return SendPage(res, 400, RegisterPage(v.token, login, fault));

    uint32_t id = 0;
    std::string why;
    const bool added = WithStore([&](Store& s) { return s.AddUser(login, PasswordDigest(password), id); }, why);
    bool taken = false;
    if (!added) {
        UserRecord existing;
        std::string ignored;
        taken = WithStore([&](Store& s) { return s.FindUser(login, existing); }, ignored);
    }
    if (!added) return SendPage(res, taken ? 409 : 500, RegisterPage(v.token, login, why));
    std::fprintf(stderr, "kestrix-server: account %s created from the web pages (user id %u)\n", login.c_str(), id);
    SendPage(res, 200, RegisteredPage(options.trackingAddress, login, id));
}

void WebFrontEnd::Impl::Points(const httplib::Request& req, httplib::Response& res) {
    UserRecord caller, target;
    std::string why;
    int status = ApiCaller(req, res, caller, why);
    if (status == 200) status = Target(caller, Param(req, "user"), target, why);
    if (status != 200) return SendApiError(res, status, why);

    PointQuery query;
    PointFormat format = PointFormat::Json;
    size_t simplify = 0;
    const std::string from = Param(req, "from"), to = Param(req, "to"), kind = Param(req, "kind");
    const std::string formatName = Param(req, "format"), simplifyText = Param(req, "simplify");
    if (!from.empty() && !ParseRangeTime(from, false, query.fromMs))
        return SendApiError(res, 400, "from is not a time (YYYY-MM-DDTHH:MM:SS.mmmZ, YYYY-MM-DDTHH:MM:SSZ or YYYY-MM-DD)");
    if (!to.empty() && !ParseRangeTime(to, true, query.toMs))
        return SendApiError(res, 400, "to is not a time (YYYY-MM-DDTHH:MM:SS.mmmZ, YYYY-MM-DDTHH:MM:SSZ or YYYY-MM-DD)");
    if (!from.empty() && !to.empty() && query.toMs < query.fromMs)
        return SendApiError(res, 400, "to is before from");
    if (kind == "live" || kind == "track")
        query.live = kind == "live", query.track = kind == "track";
    else if (!kind.empty() && kind != "all")
        return SendApiError(res, 400, "kind is live, track or all");
    if (!formatName.empty() && !ParsePointFormat(formatName, format))
        return SendApiError(res, 400, "format is json, geojson, gpx or csv");
    if (!simplifyText.empty()) {
        auto [end, ec] = std::from_chars(simplifyText.data(), simplifyText.data() + simplifyText.size(), simplify);
        if (ec != std::errc() || end != simplifyText.data() + simplifyText.size() || simplify < 2 ||
            simplify > kMaxSimplify)
            return SendApiError(res, 400, "simplify is a number of vertices from 2 to " + std::to_string(kMaxSimplify));
        if (format != PointFormat::GeoJson) return SendApiError(res, 400, "simplify goes with format=geojson");
    }
    // A connection of the download's own, so that a long one holds no other request up.
    std::shared_ptr<Store> reader = MakeStore(options.database);
    reader->SetAbort(abortFd);
    if (!reader->Open(options.database, Store::Mode::Existing)) return SendApiError(res, 503, reader->Error());
    auto answer = std::make_shared<platform::HttpService::LongAnswer>(service.BeginLongAnswer());
    const std::string name = target.name;
    const uint32_t id = target.id;
    res.set_header("Content-Disposition", "inline; filename=\"points." + std::string(PointFormatExtension(format)) + "\"");
    res.set_chunked_content_provider(
        PointFormatType(format), [this, reader, answer, name, id, query, format, simplify](size_t, httplib::DataSink& sink) {
            bool sinkFailed = false;
            const PointSource source = [&](const PointQuery& q, const std::function<bool(const StoredPoint&)>& visit) {
                return reader->ForEachPointIn(id, q, [&](const StoredPoint& p) { return !sinkFailed && visit(p); });
            };
            const bool ok = WritePoints(format, name, query, simplify, source, [&](const char* data, size_t size) {
                sinkFailed = sinkFailed || stopping || !sink.write(data, size);
                return !sinkFailed;
            });
            if (!ok && !sinkFailed)
                std::fprintf(stderr, "kestrix-server: a download of %s's points failed: %s\n", name.c_str(),
                             reader->Error().c_str());
            if (ok) sink.done();
            return ok;
        });
}

void WebFrontEnd::Impl::Days(const httplib::Request& req, httplib::Response& res) {
    UserRecord caller, target;
    std::string why;
    int status = ApiCaller(req, res, caller, why);
    if (status == 200) status = Target(caller, Param(req, "user"), target, why);
    if (status != 200) return SendApiError(res, status, why);
    // Both kinds in the order of their times, measured as the map's summary measures them.
    struct Day {
        int64_t points = 0;
        double distanceM = 0;
    };
    std::map<int64_t, Day> days;
    std::shared_ptr<Store> reader = MakeStore(options.database);
    reader->SetAbort(abortFd);
    if (!reader->Open(options.database, Store::Mode::Existing)) return SendApiError(res, 503, reader->Error());
    StoredPoint last;
    bool any = false;
    const bool ok = reader->ForEachPointIn(target.id, {}, [&](const StoredPoint& p) {
        const int64_t day = (p.AtMs() >= 0 ? p.AtMs() : p.AtMs() - 86399999) / 86400000;
        Day& d = days[day];
        ++d.points;
        const uint64_t before = static_cast<uint64_t>(last.AtMs() + kFileTimeEpochMs) * 10000;
        const uint64_t after = static_cast<uint64_t>(p.AtMs() + kFileTimeEpochMs) * 10000;
        if (any && !IsSegmentGap(before, after))
            d.distanceM += GeodesicDistanceM(last.latitude, last.longitude, p.latitude, p.longitude);
        last = p;
        any = true;
        return !stopping;
    });
    if (!ok) return SendApiError(res, 503, reader->Error());
    nlohmann::json list = nlohmann::json::array();
    for (auto it = days.rbegin(); it != days.rend(); ++it)
        list.push_back({{"day", FormatIsoMs(it->first * 86400000).substr(0, 10)},
                        {"points", it->second.points},
                        {"distance_m", std::round(it->second.distanceM * 10) / 10}});
    SendJson(res, 200, nlohmann::json{{"user", target.name}, {"days", list}});
}

// Tells the page of the account's new points: when the tracking server's count of stored
// points grew (looked at every kEventPoll), the account's newest receive time is read, and
// "event: points" goes out when it moved; a comment every kEventKeepAlive otherwise. The
// page then asks for the points it shows again.
void WebFrontEnd::Impl::Events(const httplib::Request& req, httplib::Response& res) {
    UserRecord caller, target;
    std::string why;
    int status = ApiCaller(req, res, caller, why);
    if (status == 200) status = Target(caller, Param(req, "user"), target, why);
    if (status != 200) return SendApiError(res, status, why);
    auto answer = std::make_shared<platform::HttpService::LongAnswer>(service.BeginLongAnswer());
    res.set_header("X-Accel-Buffering", "no");
    const uint32_t id = target.id;
    res.set_chunked_content_provider("text/event-stream", [this, answer, id](size_t, httplib::DataSink& sink) {
        using Clock = std::chrono::steady_clock;
        auto newest = [&] {
            int64_t ms = kNoTime;
            std::string ignored;
            WithStore([&](Store& s) { return s.LastReceived(id, ms); }, ignored);
            return ms;
        };
        uint64_t stored = options.pointsStored ? options.pointsStored() : 0;
        int64_t seen = newest();
        if (!sink.write("retry: 2000\n\n", 13)) return false;
        Clock::time_point written = Clock::now();
        while (!stopping) {
            std::unique_lock lock(eventMutex);
            eventWake.wait_for(lock, kEventPoll, [&] { return stopping.load(); });
            lock.unlock();
            if (stopping) break;
            std::string chunk;
            const uint64_t now = options.pointsStored ? options.pointsStored() : 0;
            if (now != stored) {
                stored = now;
                const int64_t last = newest();
                if (last != seen) {
                    seen = last;
                    chunk = "event: points\ndata: {}\n\n";
                }
            }
            if (chunk.empty() && Clock::now() - written >= kEventKeepAlive) chunk = ": keep-alive\n\n";
            if (chunk.empty()) continue;
            if (!sink.write(chunk.data(), chunk.size())) return false;
            written = Clock::now();
        }
        return false;
    });
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
    if (d.dummyCredential.empty()) {
        d.error = "cannot make credentials: the system's random generator failed";
        return false;
    }
    d.store = MakeStore(d.options.database);
    if (d.abortFd < 0) d.abortFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    uint64_t count;
    while (read(d.abortFd, &count, sizeof count) > 0) {
    }
    d.store->SetAbort(d.abortFd);
    d.stopping = false;
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
    {
        std::lock_guard lock(d.eventMutex);
        d.stopping = true;
    }
    d.eventWake.notify_all();
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
