// WebFrontEnd: the tracking server's web pages and its API, on an HTTP address of their own
// beside the tracking port.
//
// A visitor sees what the server is, how to connect a tracker, the sign-in form and (unless
// registration is closed) the way to "/mobile/register", never the accounts. Signing in
// (POST /login with the account's login and password, checked as the tracker's login is)
// starts a session: a random cookie (HttpOnly, SameSite=Strict, Secure over HTTPS) whose
// SHA-256 the store keeps for 30 days or until POST /logout. After 5 failed sign-ins in a
// minute from one client address, sign-ins from it (and the API's HTTP Basic) answer 429
// for a minute; a wrong login and a wrong password read the same. Signed in, "/tracks"
// shows the account's days and points on a map (an administrator chooses the account).
// The API (/api/v1/points, /api/v1/users, /api/v1/days, /api/v1/events) takes the
// session cookie or HTTP Basic; see the README.
//
// Requests from other web sites are refused. On a loopback address the Host header must
// name loopback (127.0.0.1, localhost or the bound address, with the port), so a site
// that rebinds its own name to 127.0.0.1 cannot reach the pages. Every form carries a
// token derived from the browser's session cookie (a visitor's: from a cookie of its
// own) and is accepted only with it and, when the browser sends Origin or Referer, from
// this server's own origin. Bodies are at most 16 KiB, form-encoded.
//
// Threads: Start and Stop from the owner's thread. Requests run on a small pool of
// threads, which share one database connection of their own under a mutex (the tracking
// server's writer has its own); a download of points and an event stream each open a
// connection of their own for as long as they last.
// Stop ends the listener and joins every thread it started. Errors are text (Error()).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/TlsChannel.h"

namespace kestrix::refserver {

constexpr uint16_t kDefaultWebPort = 1280;

struct WebOptions {
    WebOptions() = default;
    WebOptions(std::string listenAt, std::string db, std::string tracking, std::shared_ptr<platform::TlsContext> tlsContext)
        : listen(std::move(listenAt)), database(std::move(db)), trackingAddress(std::move(tracking)),
          tls(std::move(tlsContext)) {}
    // "ADDR:PORT"; port 0 picks a free one (see Port()).
    std::string listen = "127.0.0.1:1280";
    // The tracking server's database: a SQLite file or a PostgreSQL URI.
    std::string database;
    // Where trackers reach the tracking server, "ADDR:PORT", as the pages show it.
    std::string trackingAddress;
    // HTTPS with this certificate; nullptr: HTTP.
    std::shared_ptr<platform::TlsContext> tls;
    // Whether visitors may create accounts.
    bool registration = true;
    // The map's tile template ("https://.../{z}/{x}/{y}.png") and its attribution; an empty
    // url draws no tiles.
    std::string tiles = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
    std::string tilesAttribution = "&copy; OpenStreetMap contributors";
    // How many points the tracking server has stored; event streams tell the pages of new
    // points when it grows. Called from request threads. Empty: streams only keep alive.
    std::function<uint64_t()> pointsStored;
};

class WebFrontEnd {
public:
    explicit WebFrontEnd(WebOptions options);
    ~WebFrontEnd();  // Stop()
    WebFrontEnd(const WebFrontEnd&) = delete;
    WebFrontEnd& operator=(const WebFrontEnd&) = delete;

    // Opens the database, binds and starts serving. False with Error() when the address is
    // bad or cannot be bound, or the database cannot be opened.
    bool Start();
    void Stop();

    // After Start: the bound port, "ADDR:PORT", and whether only this machine can connect.
    uint16_t Port() const;
    std::string Address() const;
    bool LoopbackOnly() const;
    const std::string& Error() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrix::refserver
