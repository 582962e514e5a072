// HttpServer: serves the shell's page and its JSON API (documented in README.md) on one
// address, loopback by default. Every POST must carry the per-process token in the
// X-Kestrix-Token header (403 otherwise); bodies are JSON (400 with a message when they
// do not parse).
//
// Threads: Start and Stop are called by the owner (the UI thread of kestrix run). Requests
// run on the server's own threads, which never touch the logic: they read the shell host's
// snapshots and run every action (command, dismiss, answer) as a task on the UI thread's
// MessageLoop, waiting for it to finish. A fixed number of threads serve requests, and
// each open event stream has a thread of its own besides, so streams (at most
// kMaxEventStreams) never keep a request waiting. Stop ends every request, the event
// streams included, promptly and joins every thread; a request waiting for the UI thread
// is released too.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/MessageLoop.h"
#include "shell/PageAssets.h"
#include "shell/ShellHostImpl.h"
#include "shell/TodayScreen.h"

namespace kestrix::shell {

constexpr uint16_t kDefaultHttpPort = 8787;
// Event streams open at once; past it the oldest is closed (a browser's EventSource
// reconnects by itself).
constexpr size_t kMaxEventStreams = 256;

// "127.0.0.1:8787" -> address and port. The address must be a dotted IPv4 address or
// "localhost" (taken as 127.0.0.1); port 0 asks for any free port. False with a message.
bool ParseListenAddress(const std::string& text, std::string& address, uint16_t& port, std::string& error);
bool IsLoopbackAddress(const std::string& address);
// 32 lower-case hex characters from the system's random source.
std::string MakeRandomToken();

class HttpServer {
public:
    HttpServer(platform::MessageLoop& loop, ShellHostImpl& host, std::string token);
    ~HttpServer();  // Stop()
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and starts serving. False with a message when the address cannot be bound.
    bool Start(const std::string& address, uint16_t port, std::string& error);
    // The bound port (after Start).
    uint16_t Port() const;
    const std::string& Token() const;
    // The home screen whose item row /api/today shows and drives (nullptr: none). UI thread.
    void SetTodayScreen(TodayScreen* screen);
    // Where the page's map takes its tiles from (OpenStreetMap unless set). Before Start.
    void SetMapTiles(MapTiles tiles);
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrix::shell
