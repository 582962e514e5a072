// SqliteStore: the Store in one SQLite file, the server's embedded default. The server's
// writer thread, the web pages and the command line each open an object of their own on the
// file; WAL mode lets them read while another writes, and a writer waits up to 5 s for
// another (or until the abort descriptor is readable). Times are kept as ISO-8601 UTC text
// ("2026-12-06T10:12:49.123Z"), as the first version of the server wrote them, so that
// its files upgrade in place without rewriting their points.
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
    bool AddUser(const std::string& name, const std::string& digest, uint32_t& id) override;
    bool FindUser(const std::string& name, UserRecord& out) override;
    bool WritePackets(std::span<const PacketRef> packets, std::span<const StoredPoint> points,
                      const WriteMark* mark) override;
    bool Committed(const WriteMark& mark, bool& committed) override;
    bool ForgetWriter(const std::string& writer) override;
    bool ForEachPoint(uint32_t userId, const std::function<void(const StoredPoint&)>& visit) override;
    bool CountPoints(uint32_t userId, int64_t& count) override;
    bool ListUsers(std::vector<UserSummary>& out) override;

private:
    bool Exec(const char* sql);
    bool Fail(const char* what);
    bool Prepare(sqlite3_stmt*& stmt, const char* sql);
    bool Migrate(const std::string& path);
    bool ReadVersion(int& version);
    static int Busy(void* self, int count);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* insertPoint_ = nullptr;
};

}  // namespace kestrix::refserver
