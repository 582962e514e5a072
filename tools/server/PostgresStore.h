// PostgresStore: the Store in a PostgreSQL database, through libpq, for several servers on
// one database. The location is a connection URI (postgresql://... or postgres://...)
// handed to libpq as it is, so every libpq option works (hosts, port, user, password file,
// sslmode, target_session_attrs); the connection asks for UTF8 and names itself
// kestrix-server unless the URI says otherwise.
//
// Layout: points(id bigserial, user_id bigint, kind, received timestamptz, time
// timestamptz, lat, lon, alt, speed) with the primary key (user_id, received, id), which is
// also the index for an account's points by time, and no foreign keys, so that the table
// can be partitioned by received or sharded by user_id without a change here. Packets go in
// with one binary COPY per transaction; an account's points come out through a binary COPY
// too, streamed. at, the time ranges select and order by (a track point's own time, else
// the receive time), is a stored generated column with the index (user_id, at).
//
// Every wait for the database polls its socket together with the abort descriptor
// (Store::SetAbort) and gives up after kWaitLimit (kConnectWaitLimit while connecting);
// then, as after a lost connection, the store is closed and the call fails as unavailable.
#pragma once
#include <chrono>

#include "Store.h"

struct pg_conn;
struct pg_result;

namespace kestrix::refserver {

class PostgresStore final : public Store {
public:
    static constexpr std::chrono::milliseconds kWaitLimit{60000};
    static constexpr std::chrono::milliseconds kConnectWaitLimit{10000};

    PostgresStore() = default;
    ~PostgresStore() override;
    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;

    bool Open(const std::string& uri, Mode mode = Mode::Create) override;
    void Close() override;
    bool IsOpen() const override { return conn_ != nullptr; }
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
    struct ResultDeleter {
        void operator()(pg_result* r) const;
    };
    using Result = std::unique_ptr<pg_result, ResultDeleter>;

    bool Connect(const std::string& uri);
    bool Migrate(Mode mode);
    bool ReadVersion(int& version);
    bool UpgradeCredentials();
    // Streams a binary COPY of points (kind, received, time, lat, lon, alt, speed) out of
    // the query into visit; a visit that returns false skips the rest.
    bool CopyPoints(const std::string& query, const std::function<bool(const StoredPoint&)>& visit);
    // Runs a statement with parameters that changes rows; changed receives how many. A
    // name no row matches is an empty Error().
    bool Change(const std::string& sql, std::initializer_list<std::string> params, const char* what,
                int64_t* changed = nullptr);
    // Sends a statement (several, without params) and collects its results: the first
    // error's, else the last one; a COPY's at once. Null after a failure of the connection.
    Result Run(const std::string& sql, std::initializer_list<std::string> params = {}, int resultFormat = 0);
    // Run, then true for a command or rows; else Fail.
    bool Command(const std::string& sql, const char* what);
    Result Collect();
    bool Flush();
    bool PutCopy(const std::string& data);
    // The socket's events, or 0 after giving up (the store is then closed).
    short WaitSocket(short events, std::chrono::milliseconds limit);
    bool Fail(const std::string& what, const pg_result* result);
    bool Lost(const std::string& what);
    void Rollback();

    pg_conn* conn_ = nullptr;
    std::string where_;  // the location for messages
};

}  // namespace kestrix::refserver
