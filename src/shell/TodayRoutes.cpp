// The item row's area of the HTTP API: the home-screen row's painting, taps and keys.
#include "shell/HttpServerImpl.h"
#include "today/ItemView.h"
#include "today/PluginEntry.h"

namespace kestrix::shell {

// ---- the home-screen item row --------------------------------------------------------

namespace {

// What a person's input to the item row came to, handed back from the UI thread.
struct ItemOutcome {
    int status = 200;
    std::string error;
    platform::LResult result = 0;
};

}  // namespace

void HttpServer::Impl::TodayRoutes() {
    server.Get("/api/today", [this](const httplib::Request&, httplib::Response& res) {
        // Read before the painting, so a change after it brings another event.
        const uint64_t version = host.Version();
        bool loaded = false;
        int32_t height = 0;
        uint32_t selected = 0;
        std::string svg;
        if (!OnUiThread([&] {
                if (!today || today->ItemWindow() == platform::kNoWindow) return;
                loaded = true;
                svg = today->ItemPainting();
                height = today->ItemHeight();
                if (const today::ItemView* view = today::GetItemView()) selected = view->GetSelection();
            })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        if (!loaded) {
            res.status = 404;
            res.set_content(DumpJson({{"error", "the home-screen item is not loaded"}, {"version", version}}), kJson);
            return;
        }
        res.set_content(DumpJson({{"version", version}, {"height", height}, {"selected", selected}, {"svg", svg}}),
                        kJson);
    });

    // Sends one message to the item window on the UI thread and answers with its result. An
    // action that waits for a person (the settings sheet it opened) is answered at once with
    // "waiting" instead; its effect shows through the event stream.
    auto deliver = [this](httplib::Response& res, std::function<void(TodayScreen&, ItemOutcome&)> act) {
        UiRun run = UiRun::NotRun;
        ItemOutcome outcome;
        const bool ran = RunUntilWaiting<ItemOutcome>(
            res,
            [this, act = std::move(act)] {
                ItemOutcome result;
                if (today && today->ItemWindow() != platform::kNoWindow) {
                    act(*today, result);
                } else {
                    result.status = 404;
                    result.error = "the home-screen item is not loaded";
                }
                return result;
            },
            run, outcome);
        if (!ran) return;
        if (run == UiRun::Waiting) return SendJson(res, 200, json{{"ok", true}, {"waiting", true}});
        SendJson(res, 200, json{{"ok", true}, {"result", outcome.result}});
    };

    server.Post("/api/today/tap", [deliver](const httplib::Request& req, httplib::Response& res) {
        json body;
        int64_t x = 0;
        if (!ParseBody(req, res, body) || !IntegerMember(body, "x", 0, 65535, res, x)) return;
        deliver(res, [x](TodayScreen& screen, ItemOutcome& out) {
            const int32_t width = screen.ItemWidth();
            if (width <= 0) {
                out.status = 409;
                out.error = "the home-screen item has not been sized yet";
                return;
            }
            if (x >= width) {
                out.status = 400;
                out.error = "\"x\" must lie in the item row (0 to " + std::to_string(width - 1) + ")";
                return;
            }
            out.result = screen.Tap(static_cast<int32_t>(x));
        });
    });

    server.Post("/api/today/key", [deliver](const httplib::Request& req, httplib::Response& res) {
        json body;
        std::string message;
        int64_t key = 0;
        if (!ParseBody(req, res, body) || !StringMember(body, "message", res, message)) return;
        if (message != "navigation" && message != "selection" && message != "action") {
            return SendError(res, 400, "\"message\" must be \"navigation\", \"selection\" or \"action\"");
        }
        // The action key carries no key code of its own.
        if ((message != "action" || body.contains("key")) && !IntegerMember(body, "key", 0, 255, res, key)) return;
        deliver(res, [message, key](TodayScreen& screen, ItemOutcome& out) {
            const int k = static_cast<int>(key);
            out.result = message == "navigation" ? screen.Navigate(k)
                         : message == "selection" ? screen.Select(k)
                                                  : screen.Action();
        });
    });
}

}  // namespace kestrix::shell
