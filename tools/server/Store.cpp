#include "Store.h"

#include <chrono>
#include <cstdio>

#include "Credential.h"
#include "PostgresStore.h"
#include "SqliteStore.h"

namespace kestrix::refserver {

const char* PointKindName(PointKind kind) {
    return kind == PointKind::Live ? "live" : "track";
}

std::string FormatIsoMs(int64_t unixMs) {
    using namespace std::chrono;
    sys_time<milliseconds> t{milliseconds(unixMs)};
    sys_days day = floor<days>(t);
    year_month_day ymd{day};
    hh_mm_ss<milliseconds> hms{t - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()), static_cast<int>(hms.subseconds().count()));
    return text;
}

bool ParseIsoMs(std::string_view text, int64_t& unixMs) {
    // YYYY-MM-DDTHH:MM:SS.mmmZ
    if (text.size() != 24) return false;
    auto digits = [&](size_t at, size_t n, int& out) {
        out = 0;
        for (size_t i = at; i < at + n; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int y, mo, d, h, mi, s, ms;
    if (!digits(0, 4, y) || text[4] != '-' || !digits(5, 2, mo) || text[7] != '-' || !digits(8, 2, d) ||
        text[10] != 'T' || !digits(11, 2, h) || text[13] != ':' || !digits(14, 2, mi) || text[16] != ':' ||
        !digits(17, 2, s) || text[19] != '.' || !digits(20, 3, ms) || text[23] != 'Z')
        return false;
    using namespace std::chrono;
    year_month_day ymd{year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
    if (!ymd.ok() || h > 23 || mi > 59 || s > 59) return false;
    unixMs = duration_cast<milliseconds>(sys_days(ymd).time_since_epoch()).count() +
             ((h * 60 + mi) * 60 + s) * int64_t{1000} + ms;
    return true;
}

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

bool Store::AddPoints(uint32_t userId, std::span<const StoredPoint> points) {
    const PacketRef packet{userId, static_cast<uint32_t>(points.size())};
    return WritePackets({&packet, 1}, points, nullptr);
}

bool Store::AddUser(const std::string& name, const std::string& digest, uint32_t& id, bool admin) {
    const std::string credential = MakeCredential(digest);
    if (credential.empty()) return Refuse("cannot make a credential: the system's random generator failed");
    return InsertUser(name, credential, admin, id);
}

bool IsPostgresUri(const std::string& location) {
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Store> MakeStore(const std::string& location) {
    if (IsPostgresUri(location)) return std::make_unique<PostgresStore>();
    return std::make_unique<SqliteStore>();
}

std::string RedactLocation(const std::string& location) {
    if (!IsPostgresUri(location)) return location;
    std::string out = location;
    // user:password@ in the authority.
    const size_t start = out.find("://") + 3;
    const size_t end = out.find_first_of("/?", start);
    const size_t at = out.rfind('@', end == std::string::npos ? out.size() : end);
    if (at != std::string::npos && at >= start) {
        const size_t colon = out.find(':', start);
        if (colon != std::string::npos && colon < at) out.replace(colon + 1, at - colon - 1, "***");
    }
    // password=... among the parameters.
    for (size_t p = out.find('?'); p != std::string::npos; p = out.find('&', p + 1)) {
        if (out.compare(p + 1, 9, "password=") != 0) continue;
        const size_t value = p + 10;
        const size_t stop = out.find('&', value);
        out.replace(value, (stop == std::string::npos ? out.size() : stop) - value, "***");
    }
    return out;
}

}  // namespace kestrix::refserver
