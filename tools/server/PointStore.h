// PointStore: the reference server's SQLite database of accounts and received positions.
// One object per connection to the file, used by one thread at a time. The server's
// event-loop thread is the only writer of points; the web pages and the command line
// (user add, export) open objects of their own, and WAL mode lets them read while the
// server writes (a writer waits up to 5 s for another). Coordinates are decimal degrees, altitude metres, speed
// km/h; times are ISO-8601 UTC text ("2026-12-06T10:12:49.123Z"). Every call reports a
// failure by returning false and leaving a readable message in Error(); nothing throws.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace kestrix::refserver {

enum class PointKind { Live, Track };

const char* PointKindName(PointKind kind);

// "2026-12-06T10:12:49.123Z" for a time in milliseconds since 1970-01-01 UTC.
std::string FormatIsoMs(int64_t unixMs);
// The current system time in that form.
std::string NowIso();

struct StoredPoint {
    PointKind kind = PointKind::Live;
    std::string received;             // when the server received it
    std::optional<std::string> time;  // the position's own time (track points only)
    double latitude = 0;
    double longitude = 0;
    float altitude = 0;
    float speed = 0;
};

struct UserRecord {
    uint32_t id = 0;
    std::string name;
    std::string digest;  // 32 lower-case hexadecimal characters, MD5 of the password
};

// An account and what it has sent, for the server's home page.
struct UserSummary {
    uint32_t id = 0;
    std::string name;
    int64_t livePoints = 0;
    int64_t trackPoints = 0;
    std::string lastReceived;  // receive time of the newest point; empty when there is none
};

class PointStore {
public:
    PointStore() = default;
    ~PointStore();
    PointStore(const PointStore&) = delete;
    PointStore& operator=(const PointStore&) = delete;

    // Opens (creating when missing) the database file and its tables.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return db_ != nullptr; }

    // Adds an account; fails when the name is taken or empty. id receives the new user id.
    bool AddUser(const std::string& name, const std::string& digest, uint32_t& id);
    // False with an empty Error() when there is no such user.
    bool FindUser(const std::string& name, UserRecord& out);

    // Stores the points of one packet: all or none. Outside a batch in a transaction of
    // their own; inside one under a savepoint, so a failed packet leaves the others.
    bool AddPoints(uint32_t userId, const std::vector<StoredPoint>& points);

    // Group commit: the packets stored between BeginBatch and EndBatch share one
    // transaction, which costs one commit instead of one per packet. EndBatch commits
    // (false, everything of the batch rolled back, when the commit fails). A batch in
    // which nothing was stored touches nothing.
    void BeginBatch();
    bool EndBatch();

    // Calls visit for every point of the user in the order received, oldest first.
    bool ForEachPoint(uint32_t userId, const std::function<void(const StoredPoint&)>& visit);
    // Number of points held for the user.
    bool CountPoints(uint32_t userId, int64_t& count);
    // Every account with its point counts, in the order of their ids.
    bool ListUsers(std::vector<UserSummary>& out);

    const std::string& Error() const { return error_; }

private:
    bool Exec(const char* sql);
    bool Fail(const char* what);
    bool Prepare(sqlite3_stmt*& stmt, const char* sql);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* insertPoint_ = nullptr;
    bool batching_ = false;
    bool inTransaction_ = false;
    bool batchLost_ = false;
    std::string error_;
};

}  // namespace kestrix::refserver
