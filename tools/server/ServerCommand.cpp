#include "ServerCommand.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "Credential.h"
#include "PointFormats.h"
#include "Retention.h"
#include "TrackingServer.h"
#include "WebFrontEnd.h"
#include "WebPages.h"
#include "platform/Md5.h"

namespace kestrix::refserver {

namespace {

const char* kUsage =
    "usage: kestrix-server [--listen ADDR:PORT] [--web ADDR:PORT|off] [--db FILE|URI]\n"
    "                      [--tls-cert FILE --tls-key FILE] [--registration open|closed]\n"
    "                      [--tiles URL|off] [--keep-days N]\n"
    "       kestrix-server [--db FILE|URI] user add NAME PASSWORD [--admin]\n"
    "       kestrix-server [--db FILE|URI] user admin NAME on|off\n"
    "       kestrix-server [--db FILE|URI] user passwd NAME PASSWORD\n"
    "       kestrix-server [--db FILE|URI] user del NAME\n"
    "       kestrix-server [--db FILE|URI] user list\n"
    "       kestrix-server [--db FILE|URI] export NAME [--gpx]\n"
    "       kestrix-server [--db FILE|URI] prune --before ISO [--user NAME]\n"
    "FILE is a SQLite database; URI a PostgreSQL one (postgresql://USER@HOST/DB?sslmode=...).\n";

template <class T>
std::string Number(T value) {
    if (!std::isfinite(value)) return "null";
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    if (ec != std::errc()) return "null";
    return std::string(text, end);
}

std::string XmlEscape(const std::string& s) {
    std::string r;
    for (char c : s) {
        switch (c) {
            case '&': r += "&amp;"; break;
            case '<': r += "&lt;"; break;
            case '>': r += "&gt;"; break;
            case '"': r += "&quot;"; break;
            default: r += c;
        }
    }
    return r;
}

// Readable once SIGINT or SIGTERM is pending. The program blocks both in every thread, so
// without it a command waiting for an unreachable database would not stop on Ctrl-C.
class StopSignals {
public:
    StopSignals() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~StopSignals() {
        if (fd_ >= 0) close(fd_);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

// Opens the database for a command; create makes a SQLite file's folder and the database
// when missing. An upgrade of its schema is reported on err. A stop signal ends its waits.
std::unique_ptr<Store> OpenStore(const std::string& location, bool create, const StopSignals& stop,
                                 std::ostream& err) {
    if (create && !IsPostgresUri(location)) {
        std::filesystem::path folder = std::filesystem::path(location).parent_path();
        std::error_code ec;
        if (!folder.empty()) std::filesystem::create_directories(folder, ec);
        if (ec) {
            err << "kestrix-server: cannot create " << folder.string() << ": " << ec.message() << "\n";
            return nullptr;
        }
    }
    std::unique_ptr<Store> store = MakeStore(location);
    store->SetAbort(stop.Fd());
    if (!store->Open(location, create ? Store::Mode::Create : Store::Mode::Existing)) {
        err << "kestrix-server: " << store->Error() << "\n";
        return nullptr;
    }
    if (store->UpgradedFrom() != 0 && store->UpgradedFrom() != Store::kSchemaVersion)
        err << "kestrix-server: upgraded the database " << RedactLocation(location) << " from schema version "
            << store->UpgradedFrom() << " to " << Store::kSchemaVersion << "\n";
    return store;
}

// What serving is asked to do.
struct ServeSettings {
    std::string db;
    std::string listen;
    std::string web;  // "off" or an address
    bool webAsked = false;  // whether the command line named it
    std::shared_ptr<platform::TlsContext> tls;  // both addresses inside TLS, or nullptr
    bool registration = true;
    std::string tiles;  // empty: none
    int keepDays = 0;   // 0: keep every point
};

int Serve(const ServeSettings& settings, std::ostream& out, std::ostream& err, const std::function<void()>& waitForStop) {
    const std::string& dbPath = settings.db;
    const std::string& web = settings.web;
    const bool webAsked = settings.webAsked;
    const std::shared_ptr<platform::TlsContext>& tls = settings.tls;
    std::unique_ptr<Store> store;
    {
        StopSignals stop;
        store = OpenStore(dbPath, true, stop, err);
        if (!store) return 1;
        store->SetAbort(-1);  // from here on the server's writer has its own
    }
    ServerOptions options;
    options.listen = settings.listen;
    options.tls = tls;
    TrackingServer server(*store, options);
    if (!server.Start()) {
        err << "kestrix-server: " << server.Error() << "\n";
        return 1;
    }
    std::unique_ptr<WebFrontEnd> pages;
    if (web != "off") {
        WebOptions webOptions;
        webOptions.listen = web;
        webOptions.database = dbPath;
        webOptions.trackingAddress = server.Address();
        webOptions.tls = tls;
        webOptions.registration = settings.registration;
        // Other tiles than OpenStreetMap's are credited to their server, as the tracker's page does.
        if (settings.tiles != webOptions.tiles)
            webOptions.tilesAttribution =
                settings.tiles.empty() ? "" : "Tiles: " + EscapeHtml(settings.tiles.substr(0, settings.tiles.find('/', 8)));
        webOptions.tiles = settings.tiles;
        webOptions.pointsStored = [&server] { return server.PointsStored(); };
        pages = std::make_unique<WebFrontEnd>(std::move(webOptions));
        if (!pages->Start()) {
            // Pages asked for by name are part of the job; the default ones are a courtesy
            // that must not keep trackers from their server.
            err << "kestrix-server: " << pages->Error();
            if (webAsked) {
                err << "\n";
                return 1;
            }
            err << "; tracking goes on without them (--web ADDR:PORT moves them)\n";
            pages.reset();
        } else if (!pages->LoopbackOnly()) {
            err << "kestrix-server: warning: the web pages on " << pages->Address()
                << " are reachable from other machines"
                << (settings.registration ? ", and anyone who reaches them can create accounts" : "") << "\n";
        }
    }
    std::unique_ptr<Retention> retention;
    if (settings.keepDays) {
        retention = std::make_unique<Retention>(dbPath, settings.keepDays);
        std::string why;
        if (!retention->Start(why)) {
            err << "kestrix-server: " << why << "\n";
            return 1;
        }
    }
    out << "listening on " << server.Address() << "\n";
    if (pages) out << "web pages on " << (tls ? "https" : "http") << "://" << pages->Address() << "/\n";
    out.flush();
    if (waitForStop) waitForStop();
    if (retention) retention->Stop();
    if (pages) pages->Stop();
    server.Stop();
    return 0;
}

int AddUser(const std::string& dbPath, const std::string& name, const std::string& password, bool admin,
            std::ostream& out, std::ostream& err) {
    // The accounts the web form would refuse are refused here too.
    if (std::string fault = CheckRegistration(name, password, password); !fault.empty()) {
        err << "kestrix-server: " << fault << "\n";
        return 2;
    }
    StopSignals stop;
    std::unique_ptr<Store> store = OpenStore(dbPath, true, stop, err);
    if (!store) return 1;
    uint32_t id = 0;
    if (!store->AddUser(name, PasswordDigest(password), id, admin)) {
        err << "kestrix-server: " << store->Error() << "\n";
        return 1;
    }
    out << id << "\n";
    return 0;
}

// user admin, passwd, del and list on an existing database.
int ChangeUser(const std::string& dbPath, const std::vector<std::string>& words, std::ostream& out,
               std::ostream& err) {
    const std::string& verb = words[1];
    if (verb == "passwd") {
        if (std::string fault = CheckRegistration(words[2], words[3], words[3]); !fault.empty()) {
            err << "kestrix-server: " << fault << "\n";
            return 2;
        }
    }
    StopSignals stop;
    std::unique_ptr<Store> store = OpenStore(dbPath, false, stop, err);
    if (!store) return 1;
    bool ok = true;
    std::string said;
    if (verb == "list") {
        std::vector<UserSummary> users;
        ok = store->ListUsers(users);
        if (ok) {
            out << "id\tname\tadmin\tlive\ttrack\tlast point\n";
            for (const UserSummary& u : users)
                out << u.id << "\t" << u.name << "\t" << (u.admin ? "yes" : "no") << "\t" << u.livePoints << "\t"
                    << u.trackPoints << "\t" << (u.lastReceived.empty() ? "-" : u.lastReceived) << "\n";
        }
    } else if (verb == "admin") {
        const bool on = words[3] == "on";
        ok = store->SetAdmin(words[2], on);
        said = words[2] + (on ? " is an administrator" : " is not an administrator");
    } else if (verb == "passwd") {
        const std::string credential = MakeCredential(PasswordDigest(words[3]));
        ok = !credential.empty() && store->SetCredential(words[2], credential);
        said = "changed the password of " + words[2] + " and signed it out of the web pages";
    } else {
        int64_t points = 0;
        ok = store->DeleteUser(words[2], points);
        said = "deleted " + words[2] + " and its " + std::to_string(points) + (points == 1 ? " point" : " points");
    }
    if (!ok) {
        err << "kestrix-server: " << (store->Error().empty() ? "no user " + words[2] : store->Error()) << "\n";
        return 1;
    }
    if (!said.empty()) out << said << "\n";
    return 0;
}

int Export(const std::string& dbPath, const std::string& name, bool gpx, std::ostream& out, std::ostream& err) {
    StopSignals stop;
    std::unique_ptr<Store> store = OpenStore(dbPath, false, stop, err);
    if (!store) return 1;
    UserRecord user;
    if (!store->FindUser(name, user)) {
        err << "kestrix-server: " << (store->Error().empty() ? "no user " + name : store->Error()) << "\n";
        return 1;
    }
    std::vector<StoredPoint> points;
    if (!store->ForEachPoint(user.id, [&](const StoredPoint& p) { points.push_back(p); })) {
        err << "kestrix-server: " << store->Error() << "\n";
        return 1;
    }
    if (gpx)
        WriteGpx(name, points, out);
    else
        WriteJsonLines(points, out);
    out.flush();
    return 0;
}

int Prune(const std::string& dbPath, const std::string& before, const std::string& name, std::ostream& out,
          std::ostream& err) {
    int64_t beforeMs = 0;
    if (!ParseIsoMs(before, beforeMs) &&
        !(before.size() == 20 && before[19] == 'Z' && ParseIsoMs(before.substr(0, 19) + ".000Z", beforeMs)) &&
        !(before.size() == 10 && ParseIsoMs(before + "T00:00:00.000Z", beforeMs))) {
        err << "kestrix-server: --before is a time: YYYY-MM-DD, YYYY-MM-DDTHH:MM:SSZ or YYYY-MM-DDTHH:MM:SS.mmmZ (UTC)\n";
        return 2;
    }
    StopSignals stop;
    std::unique_ptr<Store> store = OpenStore(dbPath, false, stop, err);
    if (!store) return 1;
    UserRecord user;
    if (!name.empty() && !store->FindUser(name, user)) {
        err << "kestrix-server: " << (store->Error().empty() ? "no user " + name : store->Error()) << "\n";
        return 1;
    }
    int64_t deleted = 0;
    if (!store->DeletePoints(user.id, beforeMs, deleted)) {
        err << "kestrix-server: " << store->Error() << "\n";
        return 1;
    }
    out << "deleted " << deleted << (deleted == 1 ? " point" : " points") << " received before " << FormatIsoMs(beforeMs)
        << (name.empty() ? "" : " by " + name) << "\n";
    return 0;
}

}  // namespace

std::string DefaultDatabasePath() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (xdg && *xdg) {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : ".") + "/.local/share";
    }
    return base + "/kestrix/server.sqlite";
}

std::string PasswordDigest(const std::string& password) {
    std::array<uint8_t, 16> digest = platform::Md5Digest(password.data(), password.size());
    static const char* hex = "0123456789abcdef";
    std::string text;
    for (uint8_t b : digest) {
        text += hex[b >> 4];
        text += hex[b & 15];
    }
    return text;
}

void WriteJsonLines(const std::vector<StoredPoint>& points, std::ostream& out) {
    std::string line;
    for (const StoredPoint& p : points) {
        line.clear();
        AppendJsonLine(p, line);
        out << line;
    }
}

void WriteGpx(const std::string& userName, const std::vector<StoredPoint>& points, std::ostream& out) {
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<gpx version=\"1.1\" creator=\"kestrix-server\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
           "  <trk>\n"
           "    <name>"
        << XmlEscape(userName)
        << "</name>\n"
           "    <trkseg>\n";
    for (const StoredPoint& p : points) {
        out << "      <trkpt lat=\"" << Number(p.latitude) << "\" lon=\"" << Number(p.longitude) << "\">"
            << "<ele>" << Number(p.altitude) << "</ele>"
            << "<time>" << FormatIsoMs(p.HasTime() ? p.timeMs : p.receivedMs) << "</time>"
            << "<type>" << PointKindName(p.kind) << "</type></trkpt>\n";
    }
    out << "    </trkseg>\n"
           "  </trk>\n"
           "</gpx>\n";
}

int RunServerCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                     const std::function<void()>& waitForStop) {
    static const std::set<std::string> kValued = {"--db",    "--listen",       "--web",   "--tls-cert", "--tls-key",
                                                  "--tiles", "--registration", "--keep-days", "--before", "--user"};
    static const std::set<std::string> kServing = {"--listen",  "--web",          "--tls-cert", "--tls-key",
                                                   "--tiles",   "--registration", "--keep-days"};
    std::map<std::string, std::string> given;
    std::set<std::string> flags;
    std::vector<std::string> words;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (kValued.count(a)) {
            if (i + 1 >= args.size()) {
                err << "kestrix-server: " << a << " needs a value\n" << kUsage;
                return 2;
            }
            given[a] = args[++i];
        } else if (a == "--gpx" || a == "--admin") {
            flags.insert(a);
        } else if (a == "--help" || a == "-h") {
            out << kUsage;
            return 0;
        } else if (a.size() > 1 && a[0] == '-') {
            err << "kestrix-server: unknown option " << a << "\n" << kUsage;
            return 2;
        } else {
            words.push_back(a);
        }
    }
    auto value = [&](const char* name) {
        auto it = given.find(name);
        return it == given.end() ? std::string() : it->second;
    };
    // Only the options of the command at hand (and --db) may be given.
    auto only = [&](std::initializer_list<const char*> allowed) {
        for (const auto& [name, v] : given)
            if (name != "--db" && std::find_if(allowed.begin(), allowed.end(), [&](const char* a) { return name == a; }) ==
                                      allowed.end())
                return false;
        for (const std::string& flag : flags)
            if (std::find_if(allowed.begin(), allowed.end(), [&](const char* a) { return flag == a; }) == allowed.end())
                return false;
        return true;
    };
    const std::string db = given.count("--db") ? value("--db") : DefaultDatabasePath();
    if (words.empty()) {
        bool serving = flags.empty();
        for (const auto& [name, v] : given) serving = serving && (name == "--db" || kServing.count(name));
        if (!serving) {
            err << kUsage;
            return 2;
        }
        ServeSettings settings;
        settings.db = db;
        settings.listen = given.count("--listen") ? value("--listen") : "127.0.0.1:1201";
        settings.web = value("--web");
        std::string host;
        uint16_t port = 0;
        if (!settings.web.empty() && settings.web != "off" && !ParseListenAddress(settings.web, host, port)) {
            err << "kestrix-server: bad --web address \"" << settings.web << "\" (expected ADDR:PORT or off)\n" << kUsage;
            return 2;
        }
        const std::string cert = value("--tls-cert"), key = value("--tls-key");
        if (cert.empty() != key.empty()) {
            err << "kestrix-server: --tls-cert and --tls-key go together\n" << kUsage;
            return 2;
        }
        const std::string registration = given.count("--registration") ? value("--registration") : "open";
        if (registration != "open" && registration != "closed") {
            err << "kestrix-server: --registration is open or closed\n" << kUsage;
            return 2;
        }
        settings.registration = registration == "open";
        std::string why;
        if (!ParseTiles(given.count("--tiles") ? value("--tiles") : "https://tile.openstreetmap.org/{z}/{x}/{y}.png",
                        settings.tiles, why)) {
            err << "kestrix-server: " << why << "\n" << kUsage;
            return 2;
        }
        if (given.count("--keep-days")) {
            const std::string days = value("--keep-days");
            auto [end, ec] = std::from_chars(days.data(), days.data() + days.size(), settings.keepDays);
            if (ec != std::errc() || end != days.data() + days.size() || settings.keepDays < 1 ||
                settings.keepDays > 100000) {
                err << "kestrix-server: --keep-days is a number of days from 1 to 100000\n" << kUsage;
                return 2;
            }
        }
        if (!cert.empty() && !(settings.tls = platform::TlsContext::ForServer(cert, key, why))) {
            err << "kestrix-server: " << why << "\n";
            return 1;
        }
        settings.webAsked = !settings.web.empty();
        if (!settings.webAsked) settings.web = "127.0.0.1:" + std::to_string(kDefaultWebPort);
        return Serve(settings, out, err, waitForStop);
    }
    const bool user = words[0] == "user";
    if (user && words.size() == 4 && words[1] == "add" && only({"--admin"}))
        return AddUser(db, words[2], words[3], flags.count("--admin") > 0, out, err);
    if (user && only({}) &&
        ((words.size() == 2 && words[1] == "list") || (words.size() == 3 && words[1] == "del") ||
         (words.size() == 4 && words[1] == "passwd") ||
         (words.size() == 4 && words[1] == "admin" && (words[3] == "on" || words[3] == "off"))))
        return ChangeUser(db, words, out, err);
    if (words.size() == 2 && words[0] == "export" && only({"--gpx"})) return Export(db, words[1], flags.count("--gpx") > 0, out, err);
    if (words.size() == 1 && words[0] == "prune" && given.count("--before") && only({"--before", "--user"}))
        return Prune(db, value("--before"), value("--user"), out, err);
    err << kUsage;
    return 2;
}

}  // namespace kestrix::refserver
