// Store: what the tracking server keeps, the accounts and the points trackers send, behind
// one interface with two back ends: SqliteStore (a file, the embedded default for one
// machine) and PostgresStore (a PostgreSQL database that several servers share). MakeStore
// picks the back end from the --db value; nothing outside the two back ends knows SQL.
//
// One object is one connection to the database, used by one thread at a time. Open brings
// the schema up to date: each back end keeps a list of migrations, one step per schema
// version, and applies the missing ones in one transaction (a database whose schema is newer
// than kSchemaVersion is refused). Every call reports a failure by returning false with a
// readable message in Error(); Unavailable() then says whether it may pass (the database
// unreachable, restarting, out of space or busy), so that the caller may Open again and
// retry, or whether the database refused that request or those points. Nothing throws.
//
// Points: coordinates in decimal degrees, altitude in metres, speed in km/h, times in
// milliseconds since 1970-01-01 UTC. A point's user id is that of its packet.
#pragma once
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::refserver {

enum class PointKind : uint8_t { Live, Track };

const char* PointKindName(PointKind kind);

// "2026-12-06T10:12:49.123Z" for a time in milliseconds since 1970-01-01 UTC.
std::string FormatIsoMs(int64_t unixMs);
// The reverse, for exactly that form; false for anything else.
bool ParseIsoMs(std::string_view text, int64_t& unixMs);
// The system clock in milliseconds since 1970-01-01 UTC.
int64_t NowMs();

constexpr int64_t kNoTime = std::numeric_limits<int64_t>::min();

// Flat and trivially copyable: a million of them are one block of memory.
struct StoredPoint {
    int64_t receivedMs = 0;    // when the server received it
    int64_t timeMs = kNoTime;  // the position's own time (track points); kNoTime when it has none
    double latitude = 0;
    double longitude = 0;
    float altitude = 0;
    float speed = 0;
    PointKind kind = PointKind::Live;
    bool HasTime() const { return timeMs != kNoTime; }
    // The time a range selects it by and orders it by: a track point's own time when it has
    // one, else the receive time.
    int64_t AtMs() const { return kind == PointKind::Track && HasTime() ? timeMs : receivedMs; }
};

// Which of an account's points ForEachPointIn reads: those whose AtMs lies in [fromMs,
// toMs], of the kinds asked for.
struct PointQuery {
    int64_t fromMs = kNoTime;  // kNoTime: no lower bound
    int64_t toMs = std::numeric_limits<int64_t>::max();
    bool live = true;
    bool track = true;
};

struct UserRecord {
    uint32_t id = 0;
    std::string name;
    std::string credential;  // a salted hash of the password's digest (Credential.h)
    bool admin = false;
};

// An account and what it has sent, for the server's home page.
struct UserSummary {
    uint32_t id = 0;
    std::string name;
    bool admin = false;
    int64_t livePoints = 0;
    int64_t trackPoints = 0;
    std::string lastReceived;  // ISO receive time of the newest point; empty when there is none
};

// One packet's share of a flat list of points: its user, and how many of the points that
// follow the previous packet's are its.
struct PacketRef {
    uint32_t userId = 0;
    uint32_t count = 0;
};

// Recorded in the transaction that stores a writer's packets, so that after losing the
// connection in the middle of a commit the writer can learn whether the commit happened.
// Sequences of one writer only grow.
struct WriteMark {
    std::string writer;
    int64_t sequence = 0;
};

class Store {
public:
    // The schema this program writes. 1: accounts and points (the first SQLite layout);
    // 2: schema_version, the index on (account, receive time), writers' marks; 3: hashed
    // credentials in place of password digests, administrators, web sessions, the index on
    // (account, AtMs).
    static constexpr int kSchemaVersion = 3;
    enum class Mode {
        Create,   // makes the database when there is none
        Existing  // refuses to make one ("no database at ...")
    };

    virtual ~Store() = default;

    // Connects (a file: opens it) and brings the schema up to date. Open on an open store
    // closes it first, which is how a store reconnects.
    virtual bool Open(const std::string& location, Mode mode = Mode::Create) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // What the last Open was given, to open it again.
    const std::string& Location() const { return location_; }
    // The version the schema was at before Open upgraded it; kSchemaVersion when it did not
    // (0: the database was made).
    int UpgradedFrom() const { return upgradedFrom_; }

    // Adds an account with a stored credential (Credential.h); fails when the name is taken
    // or empty. id receives the new user id.
    virtual bool InsertUser(const std::string& name, const std::string& credential, bool admin, uint32_t& id) = 0;
    // InsertUser with a new credential for the password's digest.
    bool AddUser(const std::string& name, const std::string& digest, uint32_t& id, bool admin = false);
    // False with an empty Error() when there is no such user (for the calls below too).
    virtual bool FindUser(const std::string& name, UserRecord& out) = 0;
    // Replaces the account's credential and ends its web sessions.
    virtual bool SetCredential(const std::string& name, const std::string& credential) = 0;
    virtual bool SetAdmin(const std::string& name, bool admin) = 0;
    // Deletes the account, its points and its sessions; points receives how many points went.
    virtual bool DeleteUser(const std::string& name, int64_t& points) = 0;

    // Web sessions, by a key the caller derives from the cookie (never the cookie itself).
    // AddSession also forgets every session that expired before now.
    virtual bool AddSession(const std::string& key, uint32_t userId, int64_t expiresMs) = 0;
    // The account of a session that has not expired at nowMs.
    virtual bool FindSession(const std::string& key, int64_t nowMs, UserRecord& out) = 0;
    virtual bool DeleteSession(const std::string& key) = 0;

    // Stores the points of these packets, in order, in one transaction: all or none. With a
    // mark, the transaction records it (see Committed).
    virtual bool WritePackets(std::span<const PacketRef> packets, std::span<const StoredPoint> points,
                              const WriteMark* mark) = 0;
    // One packet, with no mark.
    bool AddPoints(uint32_t userId, std::span<const StoredPoint> points);
    // Whether the transaction that carried mark was committed.
    virtual bool Committed(const WriteMark& mark, bool& committed) = 0;
    // Forgets the writer's mark (it stops cleanly), and every writer's mark that has not
    // changed for 30 days.
    virtual bool ForgetWriter(const std::string& writer) = 0;

    // Calls visit for every point of the user, oldest receive time first (the order of
    // arrival within one time), streaming: memory does not grow with the number of points.
    virtual bool ForEachPoint(uint32_t userId, const std::function<void(const StoredPoint&)>& visit) = 0;
    // Calls visit for the user's points that the query selects, oldest AtMs first (the order
    // of arrival within one time), streaming. visit returns false to stop early.
    virtual bool ForEachPointIn(uint32_t userId, const PointQuery& query,
                                const std::function<bool(const StoredPoint&)>& visit) = 0;
    // The user's point with the newest AtMs (the last to arrive among equals); false with an
    // empty Error() when the user has none.
    virtual bool LastPoint(uint32_t userId, StoredPoint& out) = 0;
    // The newest receive time of the user's points; false with an empty Error() when the
    // user has none.
    virtual bool LastReceived(uint32_t userId, int64_t& receivedMs) = 0;
    // Deletes the points received before beforeMs, of one user or (userId 0) of every user;
    // deleted receives how many.
    virtual bool DeletePoints(uint32_t userId, int64_t beforeMs, int64_t& deleted) = 0;
    virtual bool CountPoints(uint32_t userId, int64_t& count) = 0;
    // Every account with its point counts, in the order of their ids.
    virtual bool ListUsers(std::vector<UserSummary>& out) = 0;

    const std::string& Error() const { return error_; }
    bool Unavailable() const { return unavailable_; }
    // A descriptor that, once readable, ends every wait for the database at once; the call
    // then fails as unavailable. -1 for none. Set before Open.
    void SetAbort(int fd) { abortFd_ = fd; }

protected:
    bool Refuse(std::string why) {
        error_ = std::move(why);
        unavailable_ = false;
        return false;
    }
    std::string location_;
    std::string error_;
    bool unavailable_ = false;
    int upgradedFrom_ = kSchemaVersion;
    int abortFd_ = -1;
};

// Whether a --db value is a PostgreSQL connection URI (postgresql:// or postgres://)
// rather than the path of a SQLite file.
bool IsPostgresUri(const std::string& location);
// An unopened store of the location's back end.
std::unique_ptr<Store> MakeStore(const std::string& location);
// The location for messages: a URI's password (user:PASSWORD@ or password=) as ***.
std::string RedactLocation(const std::string& location);

}  // namespace kestrix::refserver
