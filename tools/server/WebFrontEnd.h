// WebFrontEnd: the reference server's web pages, on an HTTP address of their own beside
// the tracking port. "/" shows what the server is, the address trackers reach it at, its
// accounts and what each has sent; "/mobile/register" is a form that creates an account
// through the same Store::AddUser as `kestrix-server user add`.
//
// Requests from other web sites are refused. On a loopback address the Host header must
// name loopback (127.0.0.1, localhost or the bound address, with the port), so a site
// that rebinds its own name to 127.0.0.1 cannot reach the pages. A form is accepted only
// with the per-process token of the page that showed it and, when the browser sends
// Origin or Referer, from this server's own origin; a cross-site form aimed at the
// loopback address cannot create accounts. Bodies are at most 16 KiB, form-encoded.
//
// Threads: Start and Stop from the owner's thread. Requests run on a small pool of the
// HTTP library's threads, which share one database connection of their own under a
// mutex (the tracking server's writer has its own).
// Stop ends the listener and joins every thread it started. Errors are text (Error()).
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/TlsChannel.h"

namespace kestrix::refserver {

constexpr uint16_t kDefaultWebPort = 1280;

struct WebOptions {
    // "ADDR:PORT"; port 0 picks a free one (see Port()).
    std::string listen = "127.0.0.1:1280";
    // The tracking server's database: a SQLite file or a PostgreSQL URI.
    std::string database;
    // Where trackers reach the tracking server, "ADDR:PORT", as the pages show it.
    std::string trackingAddress;
    // HTTPS with this certificate; nullptr: HTTP.
    std::shared_ptr<platform::TlsContext> tls;
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
