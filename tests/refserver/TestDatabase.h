// The reference server's test databases: a SQLite file in a temporary folder, or a database
// of its own (dropped at the end) in the PostgreSQL cluster that ctest starts for these
// tests (scripts/postgres.sh setup; KESTRIX_TEST_POSTGRES names its record). A PostgreSQL
// test skips, saying why, only where the machine has no PostgreSQL or the test runs outside
// ctest; a cluster that should be there and is not fails it.
#pragma once
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>

#include "support/Process.h"
#include "support/TestSupport.h"

namespace kestrix::test {

enum class Backend { Sqlite, Postgres };

inline void PrintTo(Backend backend, std::ostream* out) {
    *out << (backend == Backend::Sqlite ? "SQLite" : "PostgreSQL");
}

inline std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// The folder that holds the tests' clusters (its shared one in ROOT/shared), or empty with
// the reason to skip in why.
inline std::string PostgresRoot(std::string& why) {
    const char* record = std::getenv("KESTRIX_TEST_POSTGRES");
    if (!record) {
        why = "PostgreSQL tests run through ctest, which starts their cluster";
        return {};
    }
    const std::string root = Trimmed(ReadFile(record));
    if (root.empty() || !std::filesystem::exists(root + "/shared")) {
        ADD_FAILURE() << "no PostgreSQL cluster recorded in " << record << " (the postgres.setup test makes it)";
        why = "no cluster";
        return {};
    }
    why = Trimmed(ReadFile(root + "/shared/unavailable"));
    return why.empty() ? root : std::string();
}

// A PostgreSQL URI with another database in place of the one it names.
inline std::string WithDatabase(const std::string& uri, const std::string& name) {
    const size_t slash = uri.find('/', uri.find("://") + 3);
    return uri.substr(0, slash + 1) + name + uri.substr(uri.find('?'));
}

// Runs SQL through libpq's blocking calls; false (with a test failure) when it fails.
inline bool RunPostgres(const std::string& uri, const std::string& sql) {
    PGconn* conn = PQconnectdb(uri.c_str());
    bool ok = PQstatus(conn) == CONNECTION_OK;
    if (ok) {
        PGresult* r = PQexec(conn, sql.c_str());
        ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
        PQclear(r);
    }
    EXPECT_TRUE(ok) << sql << ": " << PQerrorMessage(conn);
    PQfinish(conn);
    return ok;
}

class TestDatabase {
public:
    explicit TestDatabase(Backend backend) : backend_(backend) {
        if (backend == Backend::Sqlite) {
            location_ = dir_.File("server.sqlite");
            return;
        }
        const std::string root = PostgresRoot(skip_);
        if (root.empty()) return;
        admin_ = Trimmed(ReadFile(root + "/shared/uri"));
        static std::atomic<int> count{0};
        name_ = "kx_" + std::to_string(getpid()) + "_" + std::to_string(++count);
        if (RunPostgres(admin_, "CREATE DATABASE " + name_)) location_ = WithDatabase(admin_, name_);
    }
    ~TestDatabase() {
        if (!name_.empty()) RunPostgres(admin_, "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    }
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    // Why this back end cannot be tested here; empty when it can.
    const std::string& Skip() const { return skip_; }
    // The --db value: a file path or a URI.
    const std::string& Location() const { return location_; }

    // SQL straight on the database, past the store (old or odd schemas).
    bool Execute(const std::string& sql) {
        if (backend_ == Backend::Postgres) return RunPostgres(location_, sql);
        sqlite3* db = nullptr;
        char* message = nullptr;
        bool ok = sqlite3_open(location_.c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
        EXPECT_TRUE(ok) << sql << ": " << (message ? message : sqlite3_errmsg(db));
        sqlite3_free(message);
        sqlite3_close(db);
        return ok;
    }

private:
    Backend backend_;
    TempDir dir_;
    std::string location_;
    std::string admin_;
    std::string name_;
    std::string skip_;
};

// A PostgreSQL cluster of the test's own, under the tests' root (whose teardown stops it
// too), for a test that stops and starts it.
class OwnCluster {
public:
    bool Start() {
        const std::string root = PostgresRoot(skip_);
        if (root.empty()) return false;
        if (dir_.empty()) dir_ = root + "/own-" + std::to_string(getpid());
        if (!Script("start")) return false;
        uri_ = Trimmed(ReadFile(dir_ + "/uri"));
        return true;
    }
    bool Stop() { return Script("stop"); }
    ~OwnCluster() {
        if (!dir_.empty()) {
            Stop();
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
    }
    const std::string& Uri() const { return uri_; }
    const std::string& Skip() const { return skip_; }

private:
    bool Script(const char* verb) {
        Finished f = RunToEnd({"sh", std::string(KESTRIX_SOURCE_DIR) + "/scripts/postgres.sh", verb, dir_}, log_.Path());
        EXPECT_EQ(f.exitCode, 0) << verb << ": " << f.out << f.err;
        return f.exitCode == 0;
    }
    TempDir log_;
    std::string dir_;
    std::string uri_;
    std::string skip_;
};

}  // namespace kestrix::test
