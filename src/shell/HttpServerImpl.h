// The inside of HttpServer, shared by the files that serve each area of the API (the page
// and notification in HttpServer.cpp; DialogRoutes, TodayRoutes, SettingsRoutes and
// TrackRoutes.cpp). Included by those files only: it brings the HTTP and JSON libraries,
// which the shell's precompiled header holds.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "platform/HttpService.h"
#include "platform/MessageLoop.h"
#include "platform/Thread.h"
#include "shell/HttpServer.h"
#include "shell/PageAssets.h"
#include "shell/ShellHostImpl.h"
#include "shell/TodayScreen.h"

namespace kestrix::shell {

using nlohmann::json;

extern const char* const kJson;

void SendJson(httplib::Response& res, int status, const json& body);
void SendError(httplib::Response& res, int status, const std::string& message);
// Parses a JSON object body; on failure answers 400 and returns false.
bool ParseBody(const httplib::Request& req, httplib::Response& res, json& out);
// Reads an integer member in [lo, hi]; on failure answers 400 and returns false.
bool IntegerMember(const json& body, const char* name, int64_t lo, int64_t hi, httplib::Response& res, int64_t& out);
// Reads a string member; on failure answers 400 and returns false.
bool StringMember(const json& body, const char* name, httplib::Response& res, std::string& out);
// The logic's narrow text is UTF-8 on Linux, but a server message may carry anything;
// the JSON library refuses invalid UTF-8, so such bytes are replaced.
std::string DumpJson(const json& j);

// The serving core's bounds and threads for this server.
platform::HttpServiceOptions ServiceOptions();

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

    // Runs fn on the UI thread and waits until fn has returned or waits for a person in a
    // nested pump it started (a dialog or message box it opened): Finished, Waiting, or
    // NotRun when the server stops before fn has started (it then never runs). fn may
    // outlive the request, so it must own what it uses; what it hands back goes through
    // result, which it sets under the bridge's lock before it returns.
    enum class UiRun { NotRun, Finished, Waiting };
    UiRun OnUiThreadUntilWaiting(std::function<void()> fn) {
        struct Call {
            bool started = false;
            bool done = false;
            bool waiting = false;
            bool abandoned = false;
        };
        auto b = bridge;
        auto call = std::make_shared<Call>();
        platform::MessageLoop& l = loop;
        loop.PostTask([b, call, &l, fn = std::move(fn)] {
            {
                std::lock_guard lock(b->mutex);
                if (call->abandoned) return;
                call->started = true;
            }
            // Queued behind fn: it runs while fn is still going only when fn pumps the loop,
            // which it does to wait for a person.
            l.PostTask([b, call] {
                std::lock_guard lock(b->mutex);
                call->waiting = true;
                b->cv.notify_all();
            });
            fn();
            std::lock_guard lock(b->mutex);
            call->done = true;
            b->cv.notify_all();
        });
        std::unique_lock lock(b->mutex);
        b->cv.wait(lock, [&] { return call->done || call->waiting || (b->stopping && !call->started); });
        if (call->done) return UiRun::Finished;
        if (call->waiting) return UiRun::Waiting;
        call->abandoned = true;
        return UiRun::NotRun;
    }

    // A request's work on the UI thread, answered once it has run or waits for a person:
    // work returns an outcome with a status and an error text. False once the request has
    // been answered here (503 when the server stopped before work started, work's error
    // when its status is not 200); otherwise run tells Finished (out holds the outcome) or
    // Waiting.
    template <class Outcome>
    bool RunUntilWaiting(httplib::Response& res, std::function<Outcome()> work, UiRun& run, Outcome& out) {
        auto b = bridge;
        auto shared = std::make_shared<Outcome>();
        run = OnUiThreadUntilWaiting([b, shared, work = std::move(work)] {
            Outcome result = work();
            std::lock_guard lock(b->mutex);
            *shared = std::move(result);
        });
        if (run == UiRun::NotRun) {
            SendError(res, 503, "the shell is shutting down");
            return false;
        }
        if (run == UiRun::Waiting) return true;
        std::lock_guard lock(b->mutex);
        out = std::move(*shared);
        if (out.status == 200) return true;
        SendError(res, out.status, out.error);
        return false;
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

    // The routes of each area of the API, each in a file of its own.
    void Routes();
    void DialogRoutes();
    void TodayRoutes();
    void SettingsRoutes();
    void TrackRoutes();
    void Events(const httplib::Request& req, httplib::Response& res);
    // An open event stream, counted in while it lives; closed tells it to end.
    struct Stream {
        explicit Stream(Impl& i) : impl(i), thread(i.service.BeginLongAnswer()) {}
        ~Stream() { impl.CloseStream(this); }
        Impl& impl;
        platform::HttpService::LongAnswer thread;  // another thread answers requests meanwhile
        std::atomic<bool> closed{false};
    };
    // Counts a new stream in; past the limit the oldest one is told to close.
    std::shared_ptr<Stream> OpenStream();
    void CloseStream(Stream* stream);

    platform::MessageLoop& loop;
    ShellHostImpl& host;
    const std::string token;
    std::shared_ptr<Bridge> bridge = std::make_shared<Bridge>();
    std::atomic<bool> stopping{false};
    std::mutex streamsMutex;
    std::deque<Stream*> streams;  // open streams not yet told to close, oldest first
    platform::HttpService service{ServiceOptions()};
    httplib::Server& server = service.Routes();
    std::string boundAddress;
    bool loopbackOnly = true;
    std::atomic<int> port{0};
    bool started = false;
    TodayScreen* today = nullptr;  // read and written on the UI thread only
    MapTiles tiles = DefaultMapTiles();  // set before Start
    std::mutex trackMutex;  // one reading of the track log at a time
};

}  // namespace kestrix::shell
