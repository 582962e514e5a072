#include "SqliteStore.h"

#include <fcntl.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "Credential.h"

namespace kestrix::refserver {

namespace {

// Each step takes the schema from the version before it to its own. Version 1 is the
// layout of the first server, which made its tables without a version.
struct Migration {
    int version;
    const char* sql;
};
constexpr Migration kMigrations[] = {
    {1,
     "CREATE TABLE IF NOT EXISTS users ("
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
     "CREATE INDEX IF NOT EXISTS points_user ON points(user_id, id);"},
    {2,
     "CREATE TABLE schema_version (version INTEGER NOT NULL);"
     "CREATE TABLE writers (id TEXT PRIMARY KEY, sequence INTEGER NOT NULL, seen INTEGER NOT NULL);"
     // An account's points by receive time; the row id, last in every index, orders one time.
     "CREATE INDEX points_user_received ON points(user_id, received);"
     "DROP INDEX IF EXISTS points_user;"},
    {3,
     "ALTER TABLE users RENAME COLUMN digest TO credential;"
     "ALTER TABLE users ADD COLUMN admin INTEGER NOT NULL DEFAULT 0;"
     "CREATE TABLE sessions (id TEXT PRIMARY KEY, user_id INTEGER NOT NULL, expires INTEGER NOT NULL);"
     // What a range of time selects and orders by; computed, so that the points keep their
     // rows and older servers' inserts stay valid.
     "ALTER TABLE points ADD COLUMN at TEXT GENERATED ALWAYS AS"
     " (CASE WHEN kind = 'track' AND time IS NOT NULL THEN time ELSE received END) VIRTUAL;"
     "CREATE INDEX points_user_at ON points(user_id, at);"},
};
static_assert(std::size(kMigrations) == Store::kSchemaVersion);

constexpr int kBusyWaitMs = 5000;
constexpr int kBusyStepMs = 10;
constexpr int64_t kForgetWritersAfterMs = int64_t{30} * 24 * 3600 * 1000;

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

// A row of id, name, credential, admin.
void ReadUser(sqlite3_stmt* stmt, UserRecord& out) {
    out.id = static_cast<uint32_t>(sqlite3_column_int64(stmt, 0));
    out.name = ColumnText(stmt, 1);
    out.credential = ColumnText(stmt, 2);
    out.admin = sqlite3_column_int(stmt, 3) != 0;
}

void BindText(sqlite3_stmt* stmt, int column, const std::string& text) {
    sqlite3_bind_text(stmt, column, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Failures that may pass: a lock held too long, a full disk, an I/O error, no memory.
bool MayPass(int code) {
    switch (code & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
        case SQLITE_FULL:
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN:
        case SQLITE_NOMEM:
        case SQLITE_INTERRUPT:
        case SQLITE_PROTOCOL:
            return true;
        default:
            return false;
    }
}

}  // namespace

SqliteStore::~SqliteStore() {
    Close();
}

void SqliteStore::Close() {
    sqlite3_finalize(insertPoint_);
    insertPoint_ = nullptr;
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
}

bool SqliteStore::Fail(const char* what) {
    error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no database");
    unavailable_ = !db_ || MayPass(sqlite3_extended_errcode(db_));
    return false;
}

bool SqliteStore::Exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        error_ = std::string("database statement failed: ") + (message ? message : "unknown error");
        unavailable_ = MayPass(sqlite3_extended_errcode(db_));
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool SqliteStore::Finish(bool ok) {
    if (ok) ok = Exec("COMMIT");
    if (!ok && !sqlite3_get_autocommit(db_)) {
        std::string why = error_;
        bool mayPass = unavailable_;
        Exec("ROLLBACK");
        error_ = why;
        unavailable_ = mayPass;
    }
    return ok;
}

bool SqliteStore::Prepare(sqlite3_stmt*& stmt, const char* sql) {
    if (!db_) {
        error_ = "database not open";
        unavailable_ = true;
        return false;
    }
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) return Fail("cannot prepare a query");
    return true;
}

int SqliteStore::Busy(void* self, int count) {
    if (count * kBusyStepMs >= kBusyWaitMs) return 0;
    const int abortFd = static_cast<SqliteStore*>(self)->abortFd_;
    pollfd p{abortFd, POLLIN, 0};
    return poll(&p, abortFd >= 0 ? 1 : 0, kBusyStepMs) > 0 ? 0 : 1;
}

bool SqliteStore::Open(const std::string& path, Mode mode) {
    Close();
    location_ = path;
    error_.clear();
    unavailable_ = false;
    std::error_code ec;
    if (mode == Mode::Existing && !std::filesystem::exists(path, ec)) return Refuse("no database at " + path);
    // The file holds the accounts' credentials: made for its owner only, and a file of an
    // older server (or one a umask left open) is closed to others. SQLite gives the journal
    // files the mode of the database.
    // O_EXCL: closing a descriptor of a file this process has open in SQLite elsewhere
    // would drop that connection's locks.
    if (mode == Mode::Create) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) ::close(fd);
    }
    // A file of another user (a copy being read) stays as that user left it.
    for (const char* suffix : {"", "-wal", "-shm"}) {
        struct stat st{};
        const std::string file = path + suffix;
        if (::stat(file.c_str(), &st) == 0 && (st.st_mode & 077) && st.st_uid == ::geteuid())
            ::chmod(file.c_str(), st.st_mode & 0700);
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (mode == Mode::Create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        error_ = "cannot open database " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        unavailable_ = !db_ || MayPass(sqlite3_extended_errcode(db_));
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    // The command line may add a user while the server writes: wait for the writer instead
    // of failing at once.
    sqlite3_busy_handler(db_, &SqliteStore::Busy, this);
    // WAL keeps exports readable during writes; NORMAL sync is durable across a crash of
    // the server and costs no fsync per commit.
    bool ok = Exec("PRAGMA journal_mode=WAL;") && Exec("PRAGMA synchronous=NORMAL;");
    if (!ok) error_ = "cannot set up database " + path + ": " + error_;
    ok = ok && Migrate(path) &&
         Prepare(insertPoint_,
                 "INSERT INTO points(user_id, kind, received, time, lat, lon, alt, speed) VALUES(?,?,?,?,?,?,?,?)");
    if (!ok) {
        std::string why = error_;
        bool mayPass = unavailable_;
        Close();
        error_ = why;
        unavailable_ = mayPass;
    }
    return ok;
}

bool SqliteStore::ReadVersion(int& version) {
    Statement stmt;
    if (!Prepare(stmt.Ref(), "SELECT name FROM sqlite_master WHERE type = 'table' AND name IN ('users', "
                             "'schema_version')"))
        return false;
    bool users = false, versioned = false;
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW) (ColumnText(stmt.Get(), 0) == "users" ? users : versioned) = true;
    if (rc != SQLITE_DONE) return Fail("cannot read the schema");
    version = users ? 1 : 0;
    if (!versioned) return true;
    Statement read;
    if (!Prepare(read.Ref(), "SELECT MAX(version) FROM schema_version")) return false;
    if (sqlite3_step(read.Get()) != SQLITE_ROW) return Fail("cannot read the schema version");
    version = sqlite3_column_int(read.Get(), 0);
    return true;
}

bool SqliteStore::Migrate(const std::string& path) {
    int version = 0;
    if (!ReadVersion(version)) return false;
    if (version == kSchemaVersion) {
        upgradedFrom_ = version;
        return true;
    }
    // IMMEDIATE: a second process that opens the file meanwhile waits, then finds it done.
    if (!Exec("BEGIN IMMEDIATE")) return false;
    bool ok = ReadVersion(version);
    if (ok && version > kSchemaVersion) {
        Exec("ROLLBACK");
        return Refuse("the database " + path + " has schema version " + std::to_string(version) +
                      ", newer than this kestrix-server knows (" + std::to_string(kSchemaVersion) +
                      "): use a newer kestrix-server");
    }
    for (const Migration& m : kMigrations)
        if (ok && m.version > version) ok = Exec(m.sql);
    if (ok && version < 3) ok = UpgradeCredentials();
    if (ok && version != kSchemaVersion)
        ok = Exec(("DELETE FROM schema_version; INSERT INTO schema_version(version) VALUES(" +
                   std::to_string(kSchemaVersion) + ");")
                      .c_str());
    if (ok) ok = Exec("COMMIT");
    if (!ok) {
        std::string why = error_;
        bool mayPass = unavailable_;
        if (!sqlite3_get_autocommit(db_)) Exec("ROLLBACK");
        error_ = "cannot bring the schema of " + path + " up to version " + std::to_string(kSchemaVersion) + ": " + why;
        unavailable_ = mayPass;
        return false;
    }
    upgradedFrom_ = version;
    return true;
}

bool SqliteStore::UpgradeCredentials() {
    std::vector<std::pair<int64_t, std::string>> old;
    {
        Statement stmt;
        if (!Prepare(stmt.Ref(), "SELECT id, credential FROM users")) return false;
        int rc;
        while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW)
            if (std::string stored = ColumnText(stmt.Get(), 1); !IsCredential(stored))
                old.emplace_back(sqlite3_column_int64(stmt.Get(), 0), std::move(stored));
        if (rc != SQLITE_DONE) return Fail("cannot read the accounts");
    }
    Statement update;
    if (!Prepare(update.Ref(), "UPDATE users SET credential = ? WHERE id = ?")) return false;
    for (const auto& [id, digest] : old) {
        const std::string credential = MakeCredential(digest);
        if (credential.empty()) return Refuse("cannot make a credential: the system's random generator failed");
        sqlite3_reset(update.Get());
        BindText(update.Get(), 1, credential);
        sqlite3_bind_int64(update.Get(), 2, id);
        if (sqlite3_step(update.Get()) != SQLITE_DONE) return Fail("cannot store a credential");
    }
    return true;
}

bool SqliteStore::Change(sqlite3_stmt* stmt, const char* what, int64_t* changed) {
    if (sqlite3_step(stmt) != SQLITE_DONE) return Fail(what);
    if (changed) *changed = sqlite3_changes64(db_);
    return true;
}

bool SqliteStore::InsertUser(const std::string& name, const std::string& credential, bool admin, uint32_t& id) {
    error_.clear();
    if (name.empty()) return Refuse("the user name is empty");
    Statement stmt;
    if (!Prepare(stmt.Ref(), "INSERT INTO users(name, credential, admin) VALUES(?, ?, ?)")) return false;
    BindText(stmt.Get(), 1, name);
    BindText(stmt.Get(), 2, credential);
    sqlite3_bind_int(stmt.Get(), 3, admin ? 1 : 0);
    int rc = sqlite3_step(stmt.Get());
    if (rc == SQLITE_CONSTRAINT || sqlite3_extended_errcode(db_) == SQLITE_CONSTRAINT_UNIQUE)
        return Refuse("user " + name + " already exists");
    if (rc != SQLITE_DONE) return Fail("cannot add the user");
    id = static_cast<uint32_t>(sqlite3_last_insert_rowid(db_));
    return true;
}

bool SqliteStore::FindUser(const std::string& name, UserRecord& out) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), "SELECT id, name, credential, admin FROM users WHERE name = ?")) return false;
    BindText(stmt.Get(), 1, name);
    int rc = sqlite3_step(stmt.Get());
    if (rc == SQLITE_DONE) return Refuse("");
    if (rc != SQLITE_ROW) return Fail("cannot look up the user");
    ReadUser(stmt.Get(), out);
    return true;
}

bool SqliteStore::SetCredential(const std::string& name, const std::string& credential) {
    error_.clear();
    UserRecord user;
    if (!FindUser(name, user)) return false;
    Statement update, sessions;
    if (!Prepare(update.Ref(), "UPDATE users SET credential = ? WHERE id = ?") ||
        !Prepare(sessions.Ref(), "DELETE FROM sessions WHERE user_id = ?"))
        return false;
    BindText(update.Get(), 1, credential);
    sqlite3_bind_int64(update.Get(), 2, user.id);
    sqlite3_bind_int64(sessions.Get(), 1, user.id);
    if (!Exec("BEGIN")) return false;
    return Finish(Change(update.Get(), "cannot change the password") &&
                  Change(sessions.Get(), "cannot end the sessions"));
}

bool SqliteStore::SetAdmin(const std::string& name, bool admin) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), "UPDATE users SET admin = ? WHERE name = ?")) return false;
    sqlite3_bind_int(stmt.Get(), 1, admin ? 1 : 0);
    BindText(stmt.Get(), 2, name);
    int64_t changed = 0;
    if (!Change(stmt.Get(), "cannot change the account", &changed)) return false;
    return changed == 1 || Refuse("");
}

bool SqliteStore::DeleteUser(const std::string& name, int64_t& points) {
    error_.clear();
    if (!Exec("BEGIN IMMEDIATE")) return false;
    UserRecord user;
    bool ok = FindUser(name, user);
    Statement drop[3];
    const char* sql[3] = {"DELETE FROM points WHERE user_id = ?", "DELETE FROM sessions WHERE user_id = ?",
                          "DELETE FROM users WHERE id = ?"};
    for (int i = 0; ok && i < 3; ++i) {
        ok = Prepare(drop[i].Ref(), sql[i]);
        if (ok) sqlite3_bind_int64(drop[i].Get(), 1, user.id);
        if (ok) ok = Change(drop[i].Get(), "cannot delete the account", i == 0 ? &points : nullptr);
    }
    return Finish(ok);
}

bool SqliteStore::AddSession(const std::string& key, uint32_t userId, int64_t expiresMs) {
    error_.clear();
    Statement forget, add;
    if (!Prepare(forget.Ref(), "DELETE FROM sessions WHERE expires <= ?") ||
        !Prepare(add.Ref(), "INSERT INTO sessions(id, user_id, expires) VALUES(?, ?, ?)"))
        return false;
    sqlite3_bind_int64(forget.Get(), 1, NowMs());
    BindText(add.Get(), 1, key);
    sqlite3_bind_int64(add.Get(), 2, userId);
    sqlite3_bind_int64(add.Get(), 3, expiresMs);
    return Change(forget.Get(), "cannot forget old sessions") && Change(add.Get(), "cannot start a session");
}

bool SqliteStore::FindSession(const std::string& key, int64_t nowMs, UserRecord& out) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), "SELECT u.id, u.name, u.credential, u.admin FROM sessions s JOIN users u ON u.id = s.user_id"
                             " WHERE s.id = ? AND s.expires > ?"))
        return false;
    BindText(stmt.Get(), 1, key);
    sqlite3_bind_int64(stmt.Get(), 2, nowMs);
    int rc = sqlite3_step(stmt.Get());
    if (rc == SQLITE_DONE) return Refuse("");
    if (rc != SQLITE_ROW) return Fail("cannot look up the session");
    ReadUser(stmt.Get(), out);
    return true;
}

bool SqliteStore::DeleteSession(const std::string& key) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), "DELETE FROM sessions WHERE id = ?")) return false;
    BindText(stmt.Get(), 1, key);
    return Change(stmt.Get(), "cannot end the session");
}

bool SqliteStore::WritePackets(std::span<const PacketRef> packets, std::span<const StoredPoint> points,
                               const WriteMark* mark) {
    error_.clear();
    unavailable_ = false;
    if (!db_) {
        error_ = "database not open";
        unavailable_ = true;
        return false;
    }
    if (packets.empty()) return true;
    if (!Exec("BEGIN")) return false;
    bool ok = true;
    size_t at = 0;
    for (const PacketRef& packet : packets) {
        for (uint32_t i = 0; ok && i < packet.count && at < points.size(); ++i, ++at) {
            const StoredPoint& p = points[at];
            sqlite3_stmt* s = insertPoint_;
            sqlite3_reset(s);
            sqlite3_bind_int64(s, 1, packet.userId);
            sqlite3_bind_text(s, 2, PointKindName(p.kind), -1, SQLITE_STATIC);
            BindText(s, 3, FormatIsoMs(p.receivedMs));
            if (p.HasTime())
                BindText(s, 4, FormatIsoMs(p.timeMs));
            else
                sqlite3_bind_null(s, 4);
            sqlite3_bind_double(s, 5, p.latitude);
            sqlite3_bind_double(s, 6, p.longitude);
            sqlite3_bind_double(s, 7, p.altitude);
            sqlite3_bind_double(s, 8, p.speed);
            if (sqlite3_step(s) != SQLITE_DONE) ok = Fail("cannot store a point");
        }
    }
    sqlite3_reset(insertPoint_);
    if (ok && at != points.size()) ok = Refuse("the packets do not count the points given");
    if (ok && mark) {
        Statement stmt;
        ok = Prepare(stmt.Ref(),
                     "INSERT INTO writers(id, sequence, seen) VALUES(?, ?, ?)"
                     " ON CONFLICT(id) DO UPDATE SET sequence = excluded.sequence, seen = excluded.seen");
        if (ok) {
            BindText(stmt.Get(), 1, mark->writer);
            sqlite3_bind_int64(stmt.Get(), 2, mark->sequence);
            sqlite3_bind_int64(stmt.Get(), 3, NowMs());
            if (sqlite3_step(stmt.Get()) != SQLITE_DONE) ok = Fail("cannot mark the commit");
        }
    }
    return Finish(ok);
}

bool SqliteStore::Committed(const WriteMark& mark, bool& committed) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), "SELECT sequence FROM writers WHERE id = ?")) return false;
    BindText(stmt.Get(), 1, mark.writer);
    int rc = sqlite3_step(stmt.Get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail("cannot read the writer's mark");
    committed = rc == SQLITE_ROW && sqlite3_column_int64(stmt.Get(), 0) >= mark.sequence;
    return true;
}

bool SqliteStore::ForgetWriter(const std::string& writer) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), "DELETE FROM writers WHERE id = ? OR seen < ?")) return false;
    BindText(stmt.Get(), 1, writer);
    sqlite3_bind_int64(stmt.Get(), 2, NowMs() - kForgetWritersAfterMs);
    if (sqlite3_step(stmt.Get()) != SQLITE_DONE) return Fail("cannot forget the writer");
    return true;
}

bool SqliteStore::ReadPoints(sqlite3_stmt* s, const std::function<bool(const StoredPoint&)>& visit) {
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        StoredPoint p;
        const auto* kind = sqlite3_column_text(s, 0);
        p.kind = kind && kind[0] == 't' ? PointKind::Track : PointKind::Live;
        auto text = [&](int column) {
            return std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(s, column)),
                                    static_cast<size_t>(sqlite3_column_bytes(s, column)));
        };
        bool timesOk = ParseIsoMs(text(1), p.receivedMs);
        if (sqlite3_column_type(s, 2) != SQLITE_NULL) timesOk = timesOk && ParseIsoMs(text(2), p.timeMs);
        if (!timesOk)
            return Refuse("point " + std::to_string(sqlite3_column_int64(s, 7)) + " has a time that is not " +
                          "YYYY-MM-DDTHH:MM:SS.mmmZ");
        p.latitude = sqlite3_column_double(s, 3);
        p.longitude = sqlite3_column_double(s, 4);
        p.altitude = static_cast<float>(sqlite3_column_double(s, 5));
        p.speed = static_cast<float>(sqlite3_column_double(s, 6));
        if (!visit(p)) return true;
    }
    if (rc != SQLITE_DONE) return Fail("cannot read the points");
    return true;
}

bool SqliteStore::ForEachPoint(uint32_t userId, const std::function<void(const StoredPoint&)>& visit) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), "SELECT kind, received, time, lat, lon, alt, speed, id FROM points WHERE user_id = ?"
                             " ORDER BY received, id"))
        return false;
    sqlite3_bind_int64(stmt.Get(), 1, userId);
    return ReadPoints(stmt.Get(), [&](const StoredPoint& p) {
        visit(p);
        return true;
    });
}

bool SqliteStore::ForEachPointIn(uint32_t userId, const PointQuery& query,
                                 const std::function<bool(const StoredPoint&)>& visit) {
    error_.clear();
    if (!query.live && !query.track) return true;
    std::string sql = "SELECT kind, received, time, lat, lon, alt, speed, id FROM points WHERE user_id = ?1";
    if (query.fromMs != kNoTime) sql += " AND at >= ?2";
    if (query.toMs != std::numeric_limits<int64_t>::max()) sql += " AND at <= ?3";
    if (query.live != query.track) sql += query.live ? " AND kind = 'live'" : " AND kind = 'track'";
    sql += " ORDER BY at, id";
    Statement stmt;
    if (!Prepare(stmt.Ref(), sql.c_str())) return false;
    sqlite3_bind_int64(stmt.Get(), 1, userId);
    if (query.fromMs != kNoTime) BindText(stmt.Get(), 2, FormatIsoMs(query.fromMs));
    if (query.toMs != std::numeric_limits<int64_t>::max()) BindText(stmt.Get(), 3, FormatIsoMs(query.toMs));
    return ReadPoints(stmt.Get(), visit);
}

bool SqliteStore::LastPoint(uint32_t userId, StoredPoint& out) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), "SELECT kind, received, time, lat, lon, alt, speed, id FROM points WHERE user_id = ?"
                             " ORDER BY at DESC, id DESC LIMIT 1"))
        return false;
    sqlite3_bind_int64(stmt.Get(), 1, userId);
    bool found = false;
    if (!ReadPoints(stmt.Get(), [&](const StoredPoint& p) {
            out = p;
            found = true;
            return false;
        }))
        return false;
    return found || Refuse("");
}

bool SqliteStore::LastReceived(uint32_t userId, int64_t& receivedMs) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), "SELECT MAX(received) FROM points WHERE user_id = ?")) return false;
    sqlite3_bind_int64(stmt.Get(), 1, userId);
    if (sqlite3_step(stmt.Get()) != SQLITE_ROW) return Fail("cannot read the last receive time");
    if (sqlite3_column_type(stmt.Get(), 0) == SQLITE_NULL) return Refuse("");
    if (!ParseIsoMs(ColumnText(stmt.Get(), 0), receivedMs)) return Refuse("a receive time is not YYYY-MM-DDTHH:MM:SS.mmmZ");
    return true;
}

bool SqliteStore::DeletePoints(uint32_t userId, int64_t beforeMs, int64_t& deleted) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), userId ? "DELETE FROM points WHERE received < ?1 AND user_id = ?2"
                                    : "DELETE FROM points WHERE received < ?1"))
        return false;
    BindText(stmt.Get(), 1, FormatIsoMs(beforeMs));
    if (userId) sqlite3_bind_int64(stmt.Get(), 2, userId);
    return Change(stmt.Get(), "cannot delete the points", &deleted);
}

bool SqliteStore::CountPoints(uint32_t userId, int64_t& count) {
    error_.clear();
    Statement stmt;
    if (!Prepare(stmt.Ref(), "SELECT COUNT(*) FROM points WHERE user_id = ?")) return false;
    sqlite3_bind_int64(stmt.Get(), 1, userId);
    if (sqlite3_step(stmt.Get()) != SQLITE_ROW) return Fail("cannot count the points");
    count = sqlite3_column_int64(stmt.Get(), 0);
    return true;
}

bool SqliteStore::ListUsers(std::vector<UserSummary>& out) {
    error_.clear();
    out.clear();
    Statement stmt;
    // Per-user subqueries walk the (user, received) index instead of grouping every point.
    if (!Prepare(stmt.Ref(),
                 "SELECT u.id, u.name, u.admin,"
                 " (SELECT COUNT(*) FROM points WHERE user_id = u.id AND kind = 'live'),"
                 " (SELECT COUNT(*) FROM points WHERE user_id = u.id AND kind = 'track'),"
                 " (SELECT MAX(received) FROM points WHERE user_id = u.id)"
                 " FROM users u ORDER BY u.id"))
        return false;
    int rc;
    while ((rc = sqlite3_step(stmt.Get())) == SQLITE_ROW) {
        UserSummary u;
        u.id = static_cast<uint32_t>(sqlite3_column_int64(stmt.Get(), 0));
        u.name = ColumnText(stmt.Get(), 1);
        u.admin = sqlite3_column_int(stmt.Get(), 2) != 0;
        u.livePoints = sqlite3_column_int64(stmt.Get(), 3);
        u.trackPoints = sqlite3_column_int64(stmt.Get(), 4);
        u.lastReceived = ColumnText(stmt.Get(), 5);
        out.push_back(std::move(u));
    }
    if (rc != SQLITE_DONE) return Fail("cannot list the users");
    return true;
}

}  // namespace kestrix::refserver
