// The settings' area of the HTTP API: the tracker's state and its settings, read and
// changed as kestrix config does; and the client through which kestrix config reaches a
// running daemon.
#include "core/TrackerController.h"
#include "platform/Registry.h"
#include "settings/NamedSettings.h"
#include "shell/DaemonClient.h"
#include "shell/HttpServerImpl.h"

namespace kestrix::shell {

void HttpServer::Impl::SettingsRoutes() {
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

    server.Get("/api/settings", [this](const httplib::Request& req, httplib::Response& res) {
        // It shows the password's digest: asked with the token, as a change is.
        if (!TokenOk(req)) return SendError(res, 403, "missing or wrong X-Kestrix-Token header");
        bool exists = false;
        json list = json::array();
        if (!OnUiThread([&] {
                exists = TrackerController::Exists();
                if (!exists) return;
                const TrackerSettings& s = TrackerController::Instance()->GetSettings();
                for (const auto& name : SettingNames()) {
                    list.push_back({{"name", name}, {"value", ShowSetting(s, name)}});
                }
            })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        if (!exists) return SendError(res, 404, "the tracker is not loaded");
        res.set_content(DumpJson({{"settings", std::move(list)}}), kJson);
    });

    server.Post("/api/settings", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        std::string name;
        std::string value;
        if (!ParseBody(req, res, body) || !StringMember(body, "name", res, name) ||
            !StringMember(body, "value", res, value)) {
            return;
        }
        bool loaded = false;
        std::string refused;
        int saveError = 0;
        if (!OnUiThread([&] {
                loaded = TrackerController::Exists() && TrackerController::Instance()->GetInstance() != 0;
                if (!loaded) return;
                TrackerController* c = TrackerController::Instance();
                refused = ChangeSetting(c->GetSettings(), name, value);
                if (!refused.empty()) return;
                // As the Settings command does: saved, then the services restart with them.
                saveError = c->GetSettings().Save();
                c->StopServices(kUsePowerMode, false);
                c->StartServices(kUsePowerMode);
            })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        if (!loaded) return SendError(res, 404, "the tracker is not loaded");
        if (!refused.empty()) return SendError(res, 400, refused);
        if (saveError != 0) {
            return SendError(res, 500, "the daemon took the change but cannot save it to " + platform::RegistryFilePath() +
                                           " (error " + std::to_string(saveError) + ")");
        }
        SendJson(res, 200, json{{"ok", true}});
    });
}

// ---- the client kestrix config uses ----------------------------------------------------

namespace {

constexpr time_t kClientConnectSeconds = 2;
constexpr time_t kClientReadSeconds = 5;
// A change restarts the services: stopping the session alone may take 5 s.
constexpr time_t kClientChangeSeconds = 30;

std::string WhyNoAnswer(httplib::Error error, time_t readSeconds) {
    switch (error) {
    case httplib::Error::Connection: return "it does not take connections";
    case httplib::Error::ConnectionTimeout: return "no connection within " + std::to_string(kClientConnectSeconds) + " s";
    case httplib::Error::Read: return "no answer within " + std::to_string(readSeconds) + " s";
    default: return httplib::to_string(error);
    }
}

// One request to /api/settings. Done with the answer's JSON object in answer, or why not.
DaemonReply AskDaemon(const DaemonRecord& d, const std::string* postBody, json& answer) {
    DaemonReply reply;
    const std::string where = "http://" + d.address + ":" + std::to_string(d.port) + "/";
    if (!IsLoopbackAddress(d.address)) {
        reply.message = "it serves " + where + ", which is not a loopback address";
        return reply;
    }
    httplib::Client cli(d.address, d.port);
    cli.set_connection_timeout(kClientConnectSeconds, 0);
    const time_t readSeconds = postBody ? kClientChangeSeconds : kClientReadSeconds;
    cli.set_read_timeout(readSeconds, 0);
    cli.set_write_timeout(kClientConnectSeconds, 0);
    const httplib::Headers headers{{"X-Kestrix-Token", d.token}};
    auto res = postBody ? cli.Post("/api/settings", headers, *postBody, kJson) : cli.Get("/api/settings", headers);
    if (!res) {
        reply.message = where + ": " + WhyNoAnswer(res.error(), readSeconds);
        return reply;
    }
    answer = json::parse(res->body, nullptr, false);
    if (res->status == 200 && answer.is_object()) {
        reply.kind = DaemonReply::Kind::Done;
        return reply;
    }
    auto error = answer.is_object() ? answer.find("error") : answer.end();
    if (res->status == 403 || !answer.is_object() || error == answer.end() || !error->is_string()) {
        reply.message = "the answer at " + where + " is not the daemon's (status " + std::to_string(res->status) + ")";
        return reply;
    }
    reply.kind = res->status == 400 ? DaemonReply::Kind::Refused : DaemonReply::Kind::Failed;
    reply.message = error->get<std::string>();
    return reply;
}

}  // namespace

DaemonReply ReadDaemonSettings(const DaemonRecord& daemon) {
    json answer;
    DaemonReply reply = AskDaemon(daemon, nullptr, answer);
    if (reply.kind != DaemonReply::Kind::Done) return reply;
    auto list = answer.find("settings");
    if (list != answer.end() && list->is_array()) {
        for (const auto& item : *list) {
            auto name = item.is_object() ? item.find("name") : item.end();
            auto value = item.is_object() ? item.find("value") : item.end();
            if (name == item.end() || value == item.end() || !name->is_string() || !value->is_string()) break;
            reply.settings.emplace_back(name->get<std::string>(), value->get<std::string>());
        }
        if (reply.settings.size() == list->size()) return reply;
    }
    reply.kind = DaemonReply::Kind::NoAnswer;
    reply.message = "its list of settings does not parse";
    reply.settings.clear();
    return reply;
}

DaemonReply ChangeDaemonSetting(const DaemonRecord& daemon, const std::string& name, const std::string& value) {
    std::string body;
    try {
        body = json{{"name", name}, {"value", value}}.dump();
    } catch (const json::exception&) {
        // JSON carries UTF-8 only; the value is refused rather than changed on the way.
        DaemonReply reply;
        reply.kind = DaemonReply::Kind::Refused;
        reply.message = name + " cannot be \"" + value + "\" (it is not UTF-8 text)";
        return reply;
    }
    json answer;
    return AskDaemon(daemon, &body, answer);
}

}  // namespace kestrix::shell
