#include "PointStore.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>

namespace kestrix::refserver {

namespace {

// Finalizes a statement on every path out of a query.
class Statement {
public:
    Statement() = default;
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt*& Ref() { return stmt_; }
    sqlite3_stmt* Get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

std::string ColumnText(sqlite3_stmt* stmt, int column) {
    const unsigned char* text = sqlite3_column_text(stmt, column);
    if (!text) return {};
    return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(stmt, column)));
}

}  // namespace

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

std::string NowIso() {
    using namespace std::chrono;
    return FormatIsoMs(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

const char* PointKindName(PointKind kind) {
    return kind == PointKind::Live ? "live" : "track";
}

PointStore::~PointStore() {
    Close();
}

void PointStore::Close() {
    sqlite3_finalize(insertPoint_);
    insertPoint_ = nullptr;
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

bool PointStore::Fail(const char* what) {
    error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no database");
    return false;
}

bool PointStore::Exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        error_ = std::string("database statement failed: ") + (message ? message : "unknown error");
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool PointStore::Prepare(sqlite3_stmt*& stmt, const char* sql) {
    if (!db_) {
        error_ = "database not open";
        return false;
    }
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) return Fail("cannot prepare a query");
    return true;
}

bool PointStore::Open(const std::string& path) {
    Close();
    error_.clear();
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        error_ = "cannot open database " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        Close();
        return false;
    }
    // The command line may add a user while the server runs: wait for the writer instead
    // of failing at once.
    sqlite3_busy_timeout(db_, 5000);
    // WAL keeps exports readable during writes; NORMAL sync is durable across a crash of
    // the server and costs no fsync per packet.
    bool ok = Exec("PRAGMA journal_mode=WAL;") && Exec("PRAGMA synchronous=NORMAL;") &&
              Exec("CREATE TABLE IF NOT EXISTS users ("
                   " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                   " name TEXT NOT NULL UNIQUE,"
                   " digest TEXT NOT NULL);"
                   "CREATE TABLE IF NOT EXISTS points ("
                   " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                   " user_id INTEGER NOT NULL,"
                   " kind TEXT NOT NULL,"
                   " received TEXT NOT NULL,"
                   " time TEXT,"
                   " lat REAL NOT NULL, lon REAL NOT NULL, alt REAL NOT NULL, speed REAL NOT NULL);"
                   "CREATE INDEX IF NOT EXISTS points_user ON points(user_id, id);") &&
              Prepare(insertPoint_,
                      "INSERT INTO points(user_id, kind, received, time, lat, lon, alt, speed)"
                      " VALUES(?,?,?,?,?,?,?,?)");
    if (!ok) {
        std::string why = error_;
        Close();
        error_ = "cannot set up database " + path + ": " + why;
    }
    return ok;
}

bool PointStore::AddUser(const std::string& name, const std::string& digest, uint32_t& id) {
    error_.clear();
    if (name.empty()) {
        error_ = "the user name is empty";
        return false;
    }
    Statement stmt;
    if (!Prepare(stmt.Ref(), "INSERT INTO users(name, digest) VALUES(?, ?)")) return false;
    sqlite3_bind_text(stmt.Get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt.Get(), 2, digest.data(), static_cast<int>(digest.size()), SQLITE_TRANSIENT);
    int rc = sqlite3_step(stmt.Get());
    if (rc == SQLITE_CONSTRAINT || sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_UNIQUE) {
        error_ = "user " + name + " already exists";
        return false;
    }
    if (rc != SQLITE_DONE) return Fail("cannot add the user");
    id = static_cast<uint32_t>(sqlite3_last_insert_rowid(db_));
    return true;
}

bool PointStore::FindUser(const std::string& name, UserRecord& out) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), "SELECT id, name, digest FROM users WHERE name = ?")) return false;
    sqlite3_bind_text(stmt.Get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    int rc = sqlite3_step(stmt.Get());
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) return Fail("cannot look up the user");
    out.id = static_cast<uint32_t>(sqlite3_column_int64(stmt.Get(), 0));
    out.name = ColumnText(stmt.Get(), 1);
    out.digest = ColumnText(stmt.Get(), 2);
    return true;
}

void PointStore::BeginBatch() {
    batching_ = true;
}

bool PointStore::EndBatch() {
    batching_ = false;
    if (batchLost_) {
        batchLost_ = false;
        if (inTransaction_) Exec("ROLLBACK");
        inTransaction_ = false;
        error_ = "the batch was rolled back";
        return false;
    }
    if (!inTransaction_) return true;
    inTransaction_ = false;
    if (Exec("COMMIT")) return true;
    std::string why = error_;
    Exec("ROLLBACK");
    error_ = why;
    return false;
}

bool PointStore::AddPoints(uint32_t userId, const std::vector<StoredPoint>& points) {
    error_.clear();
    if (!db_) {
        error_ = "database not open";
        return false;
    }
    if (points.empty()) return true;
    if (batching_ && !inTransaction_) {
        if (!Exec("BEGIN")) return false;
        inTransaction_ = true;
    }
    if (!Exec(inTransaction_ ? "SAVEPOINT packet" : "BEGIN")) return false;
    bool ok = true;
    for (const StoredPoint& p : points) {
        sqlite3_stmt* s = insertPoint_;
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        sqlite3_bind_int64(s, 1, userId);
        sqlite3_bind_text(s, 2, PointKindName(p.kind), -1, SQLITE_STATIC);
        sqlite3_bind_text(s, 3, p.received.data(), static_cast<int>(p.received.size()), SQLITE_TRANSIENT);
        if (p.time)
            sqlite3_bind_text(s, 4, p.time->data(), static_cast<int>(p.time->size()), SQLITE_TRANSIENT);
        else
            sqlite3_bind_null(s, 4);
        sqlite3_bind_double(s, 5, p.latitude);
        sqlite3_bind_double(s, 6, p.longitude);
        sqlite3_bind_double(s, 7, p.altitude);
        sqlite3_bind_double(s, 8, p.speed);
        if (sqlite3_step(s) != SQLITE_DONE) {
            ok = Fail("cannot store a point");
            break;
        }
    }
    sqlite3_reset(insertPoint_);
    if (ok) ok = Exec(inTransaction_ ? "RELEASE packet" : "COMMIT");
    if (!ok) {
        std::string why = error_;
        if (inTransaction_ && sqlite3_get_autocommit(db_)) {
            // SQLite rolled the whole batch back itself (a full disk, say).
            inTransaction_ = false;
            batchLost_ = true;
        } else if (inTransaction_) {
            Exec("ROLLBACK TO packet");
            Exec("RELEASE packet");
        } else {
            Exec("ROLLBACK");
        }
        error_ = why;
    }
    return ok;
}

bool PointStore::ForEachPoint(uint32_t userId, const std::function<void(const StoredPoint&)>& visit) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(),
                 "SELECT kind, received, time, lat, lon, alt, speed FROM points WHERE user_id = ? ORDER BY id"))
        return false;
    sqlite3_bind_int64(stmt.Get(), 1, userId);
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW) {
        StoredPoint p;
        p.kind = ColumnText(stmt.Get(), 0) == "track" ? PointKind::Track : PointKind::Live;
        p.received = ColumnText(stmt.Get(), 1);
        if (sqlite3_column_type(stmt.Get(), 2) != SQLITE_NULL) p.time = ColumnText(stmt.Get(), 2);
        p.latitude = sqlite3_column_double(stmt.Get(), 3);
        p.longitude = sqlite3_column_double(stmt.Get(), 4);
        p.altitude = static_cast<float>(sqlite3_column_double(stmt.Get(), 5));
        p.speed = static_cast<float>(sqlite3_column_double(stmt.Get(), 6));
        visit(p);
    }
    if (rc != SQLITE_DONE) return Fail("cannot read the points");
    return true;
}

bool PointStore::CountPoints(uint32_t userId, int64_t& count) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), "SELECT COUNT(*) FROM points WHERE user_id = ?")) return false;
    sqlite3_bind_int64(stmt.Get(), 1, userId);
    if (sqlite3_step(stmt.Get()) != SQLITE_ROW) return Fail("cannot count the points");
    count = sqlite3_column_int64(stmt.Get(), 0);
    return true;
}

bool PointStore::ListUsers(std::vector<UserSummary>& out) {
    error_.clear();
    out.clear();
    Statement stmt;
    // Per-user subqueries walk the points_user index instead of grouping every point.
    if (!Prepare(stmt.Ref(),
                 "SELECT u.id, u.name,"
                 " (SELECT COUNT(*) FROM points WHERE user_id = u.id AND kind = 'live'),"
                 " (SELECT COUNT(*) FROM points WHERE user_id = u.id AND kind = 'track'),"
                 " (SELECT received FROM points WHERE user_id = u.id ORDER BY id DESC LIMIT 1)"
                 " FROM users u ORDER BY u.id"))
        return false;
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW) {
        UserSummary u;
        u.id = static_cast<uint32_t>(sqlite3_column_int64(stmt.Get(), 0));
        u.name = ColumnText(stmt.Get(), 1);
        u.livePoints = sqlite3_column_int64(stmt.Get(), 2);
        u.trackPoints = sqlite3_column_int64(stmt.Get(), 3);
        u.lastReceived = ColumnText(stmt.Get(), 4);
        out.push_back(std::move(u));
    }
    if (rc != SQLITE_DONE) return Fail("cannot list the users");
    return true;
}

}  // namespace kestrix::refserver
