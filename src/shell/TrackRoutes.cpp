// The map's area of the HTTP API: the receiver's last fix (/api/position), the track log as
// GeoJSON simplified for display (/api/track) and the UTC days it holds (/api/track/days).
// The log is read on the request's thread, never on the UI thread, which only names it;
// one reading at a time, so a burst of requests on a long log holds one reading's memory.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/ServiceInterfaces.h"
#include "core/TrackerController.h"
#include "platform/DeviceFs.h"
#include "platform/LastError.h"
#include "platform/Time.h"
#include "shell/HttpServerImpl.h"
#include "tracklog/GeoJsonWriter.h"

namespace kestrix::shell {

namespace {

// A float as the shortest decimal that reads back as it (512.3, not 512.2999877929688).
json Shortest(float v) {
    if (!std::isfinite(v)) return 0;
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    return std::strtod(std::string(text, end).c_str(), nullptr);
}

struct LogName {
    bool loaded = false;
    std::optional<std::string> path;  // the settings' LOG, if any
};

// Opens the log for reading. False with the answer given when it cannot (500 with the
// system's reason); true with log closed when there is no log file (yet).
bool OpenLog(const std::optional<std::string>& path, platform::DeviceFile& log, httplib::Response& res) {
    if (!path || path->empty() || log.Open(*path, "rb")) return true;
    const int error = platform::GetLastError();
    if (error == ENOENT) return true;
    SendError(res, 500, "cannot read the track log " + *path + ": " + std::strerror(error));
    return false;
}

}  // namespace

void HttpServer::Impl::TrackRoutes() {
    server.Get("/api/position", [this](const httplib::Request&, httplib::Response& res) {
        json body{{"receiver", false}, {"fix", false}};
        if (!OnUiThread([&] {
                if (!TrackerController::Exists()) return;
                const TrackerController* c = TrackerController::Instance();
                body["receiver"] = c->IsReceiverRunning();
                body["fix"] = (c->GetState() & kModeFix) != 0 && c->HasLastFix();
                if (const TrackPointRef p = c->LastPosition()) {
                    body["lat"] = p->GetLatitude();
                    body["lon"] = p->GetLongitude();
                    body["alt"] = Shortest(p->GetAltitude());
                    body["speed"] = Shortest(p->GetSpeed());
                    const std::string time = platform::FormatIsoUtc(p->GetTime());
                    body["time"] = time.empty() ? json(nullptr) : json(time);
                    body["satellitesUsed"] = c->GetSatellitesUsed();
                }
            })) {
            return SendError(res, 503, "the shell is shutting down");
        }
        res.set_content(DumpJson(body), kJson);
    });

    // The log's path, named by the settings on the UI thread; false once answered (503).
    auto logName = [this](httplib::Response& res, LogName& name) {
        if (!OnUiThread([&] {
                name.loaded = TrackerController::Exists();
                if (name.loaded) name.path = TrackerController::Instance()->GetSettings().GetLogPath();
            })) {
            SendError(res, 503, "the shell is shutting down");
            return false;
        }
        return true;
    };

    server.Get("/api/track", [this, logName](const httplib::Request& req, httplib::Response& res) {
        TrackQuery query;
        for (const char* end : {"from", "to"}) {
            if (!req.has_param(end)) continue;
            uint64_t time = 0;
            if (!platform::ParseIsoUtc(req.get_param_value(end), time)) {
                return SendError(res, 400, std::string("\"") + end +
                                               "\" must be a UTC time such as 2026-12-07 or 2026-12-07T14:05:00Z");
            }
            (std::string(end) == "from" ? query.from : query.to) = time;
        }
        if (req.has_param("points")) {
            const std::string text = req.get_param_value("points");
            unsigned long n = 0;
            auto [at, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
            if (ec != std::errc() || at != text.data() + text.size() || n < 2 || n > kMaxTrackVertices) {
                return SendError(res, 400, "\"points\" must be a whole number from 2 to " +
                                               std::to_string(kMaxTrackVertices));
            }
            query.maxVertices = n;
        }
        LogName name;
        if (!logName(res, name)) return;
        query.log = name.path;
        std::lock_guard reading(trackMutex);
        platform::DeviceFile log;
        if (!OpenLog(name.path, log, res)) return;
        std::string body;
        const GeoJsonConversion result =
            ConvertLogToGeoJson(log.IsOpen() ? &log : nullptr, query, [&body](const char* data, size_t size) {
                body.append(data, size);
                return true;
            });
        if (result.readFailed) {
            return SendError(res, 500, "cannot read the track log " + name.path.value_or("") + ": " +
                                           std::strerror(platform::GetLastError()));
        }
        res.set_content(std::move(body), "application/geo+json");
    });

    server.Get("/api/track/days", [this, logName](const httplib::Request&, httplib::Response& res) {
        LogName name;
        if (!logName(res, name)) return;
        std::lock_guard reading(trackMutex);
        platform::DeviceFile log;
        if (!OpenLog(name.path, log, res)) return;
        json days = json::array();
        if (log.IsOpen()) {
            const LogDays read = ReadLogDays(log);
            if (read.readFailed) {
                return SendError(res, 500, "cannot read the track log " + name.path.value_or("") + ": " +
                                               std::strerror(platform::GetLastError()));
            }
            for (const TrackDay& d : read.days) {
                days.push_back({{"date", FormatDay(d.day)},
                                {"records", d.records},
                                {"distance_m", std::round(d.distanceM * 10.0) / 10.0}});
            }
        }
        res.set_content(DumpJson({{"days", std::move(days)}}), kJson);
    });
}

}  // namespace kestrix::shell
