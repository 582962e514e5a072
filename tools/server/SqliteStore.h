// SqliteStore: the Store in one SQLite file, the server's embedded default. The server's
// writer thread, the web pages and the command line each open an object of their own on the
// file; WAL mode lets them read while another writes, and a writer waits up to 5 s for
// another (or until the abort descriptor is readable). Times are kept as ISO-8601 UTC text
// ("2026-12-06T10:12:49.123Z"), as the first version of the server wrote them, so that
// its files upgrade in place without rewriting their points. The file, and the journal
// files beside it, are readable and writable by their owner only.
#pragma once
#include "Store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kestrix::refserver {

class SqliteStore final : public Store {
public:
    SqliteStore() = default;
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    bool Open(const std::string& path, Mode mode = Mode::Create) override;
    void Close() override;
    bool IsOpen() const override { return db_ != nullptr; }
    bool InsertUser(const std::string& name, const std::string& credential, bool admin, uint32_t& id) override;
    bool FindUser(const std::string& name, UserRecord& out) override;
    bool SetCredential(const std::string& name, const std::string& credential) override;
    bool SetAdmin(const std::string& name, bool admin) override;
    bool DeleteUser(const std::string& name, int64_t& points) override;
    bool AddSession(const std::string& key, uint32_t userId, int64_t expiresMs) override;
    bool FindSession(const std::string& key, int64_t nowMs, UserRecord& out) override;
    bool DeleteSession(const std::string& key) override;
    bool WritePackets(std::span<const PacketRef> packets, std::span<const StoredPoint> points,
                      const WriteMark* mark) override;
    bool Committed(const WriteMark& mark, bool& committed) override;
    bool ForgetWriter(const std::string& writer) override;
    bool ForEachPoint(uint32_t userId, const std::function<void(const StoredPoint&)>& visit) override;
    bool ForEachPointIn(uint32_t userId, const PointQuery& query,
                        const std::function<bool(const StoredPoint&)>& visit) override;
    bool LastPoint(uint32_t userId, StoredPoint& out) override;
    bool LastReceived(uint32_t userId, int64_t& receivedMs) override;
    bool DeletePoints(uint32_t userId, int64_t beforeMs, int64_t& deleted) override;
    bool CountPoints(uint32_t userId, int64_t& count) override;
    bool ListUsers(std::vector<UserSummary>& out) override;

private:
    bool Exec(const char* sql);
    // Commits the open transaction when ok; otherwise rolls it back, keeping the error that
    // ended it. Returns whether it was committed.
    bool Finish(bool ok);
    bool Fail(const char* what);
    bool Prepare(sqlite3_stmt*& stmt, const char* sql);
    bool Migrate(const std::string& path);
    bool ReadVersion(int& version);
    bool UpgradeCredentials();
    // Steps a statement of points (kind, received, time, lat, lon, alt, speed, id) to its end.
    bool ReadPoints(sqlite3_stmt* stmt, const std::function<bool(const StoredPoint&)>& visit);
    // Runs a statement that changes rows; changed receives how many.
    bool Change(sqlite3_stmt* stmt, const char* what, int64_t* changed = nullptr);
    static int Busy(void* self, int count);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* insertPoint_ = nullptr;
};

}  // namespace kestrix::refserver
