// kestrix-server's /api/v1/points?format=csv for an account of 1,000,000 points, beside
// Debian's sqlite3 command writing the same rows as CSV from the same file in the same run:
// the wall time of the whole answer (best of three) against sqlite3's (best of three), and
// the server's memory growth while it answers (its peak resident set after the first answer
// less its resident set before).
// Targets: at least half sqlite3's speed (at most twice its time), growth under 32 MB, and
// an answer of every point. Exit status 1 when a run fails or a target is missed; 0 with a
// note when sqlite3 is not installed.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "ProcessStats.h"
#include "ServerCommand.h"
#include "SqliteStore.h"

extern char** environ;

namespace {

using namespace kestrix::bench;
using namespace kestrix::refserver;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kPoints = 1'000'000;
constexpr int64_t kStartMs = 1796515200000;  // 2026-12-06T00:00:00Z

// A day's drive a second apart, three track points to each live position.
bool FillDatabase(const std::string& path) {
    SqliteStore store;
    uint32_t id = 0;
    if (!store.Open(path) || !store.AddUser("anna", PasswordDigest("demo"), id)) {
        std::fprintf(stderr, "cannot make the database: %s\n", store.Error().c_str());
        return false;
    }
    std::vector<StoredPoint> batch;
    for (size_t n = 0; n < kPoints; ++n) {
        const double i = static_cast<double>(n);
        StoredPoint p;
        p.receivedMs = kStartMs + static_cast<int64_t>(n) * 1000 + 1500;
        p.kind = n % 4 == 3 ? PointKind::Live : PointKind::Track;
        if (p.kind == PointKind::Track) p.timeMs = kStartMs + static_cast<int64_t>(n) * 1000;
        p.latitude = 48.137 + 0.01 * std::sin(i * 1e-3);
        p.longitude = 11.575 + 0.01 * std::cos(i * 7e-4);
        p.altitude = static_cast<float>(520.0 + 40.0 * std::sin(i * 1e-2));
        p.speed = static_cast<float>(36.0 + 20.0 * std::cos(i * 3e-3));
        batch.push_back(p);
        if (batch.size() == 50'000 || n + 1 == kPoints) {
            if (!store.AddPoints(id, batch)) {
                std::fprintf(stderr, "cannot store points: %s\n", store.Error().c_str());
                return false;
            }
            batch.clear();
        }
    }
    return true;
}

pid_t Start(const std::vector<std::string>& args, const std::string& outFile) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Runs a program to its end: its wall seconds, or -1 when it fails.
double Run(const std::vector<std::string>& args, const std::string& outFile) {
    const auto start = Clock::now();
    const pid_t pid = Start(args, outFile);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

size_t Lines(const std::string& path) {
    std::ifstream in(path);
    size_t n = 0;
    for (std::string line; std::getline(in, line);) ++n;
    return n;
}

}  // namespace

int main() {
    if (std::system("command -v sqlite3 >/dev/null 2>&1") != 0) {
        std::printf("sqlite3 is not installed (Debian's sqlite3; ./dev bench installs it): skipped\n");
        return 0;
    }
    char pattern[] = "/tmp/kestrix-bench-csv-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    const std::string db = dir + "/server.sqlite";
    const std::string out = dir + "/out.txt";
    bool ok = FillDatabase(db);

    // The same rows in the same order, as the sqlite3 command writes CSV.
    double reference = -1;
    for (int i = 0; ok && i < 3; ++i) {
        const double t = Run({"sqlite3", "-csv", "-header", db,
                              "SELECT kind, received, time, lat, lon, alt, speed FROM points WHERE user_id = 1 "
                              "ORDER BY at, id"},
                             dir + "/reference.csv");
        if (t < 0) ok = false;
        if (reference < 0 || t < reference) reference = t;
    }
    if (ok && Lines(dir + "/reference.csv") != kPoints + 1) {
        std::fprintf(stderr, "sqlite3 wrote %zu lines\n", Lines(dir + "/reference.csv"));
        ok = false;
    }

    const std::string serverBin = KESTRIX_BINARY_DIR "/bin/kestrix-server";
    const pid_t server = ok ? Start({serverBin, "--db", db, "--listen", "127.0.0.1:0", "--web", "127.0.0.1:0",
                                     "--tiles", "off"}, out)
                            : -1;
    int port = 0;
    const std::string marker = "web pages on http://127.0.0.1:";
    for (int i = 0; server > 0 && port == 0 && i < 300; ++i) {
        const std::string text = ReadText(out);
        const auto at = text.find(marker);
        if (at != std::string::npos) port = std::atoi(text.c_str() + at + marker.size());
        if (port == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));  // polling a process's output
    }
    bool met = false;
    if (port > 0) {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(300, 0);
        client.set_basic_auth("anna", "demo");
        const long rssBefore = StatusKb(server, "VmRSS");
        double answer = -1;
        long growthKb = 0;
        size_t lines = 0;
        for (int i = 0; i < 3; ++i) {
            size_t n = 0;
            const auto start = Clock::now();
            const auto res = client.Get("/api/v1/points?user=anna&format=csv", [&](const char* data, size_t size) {
                for (size_t k = 0; k < size; ++k) n += data[k] == '\n';
                return true;
            });
            const double t = std::chrono::duration<double>(Clock::now() - start).count();
            if (!res || res->status != 200) {
                std::fprintf(stderr, "/api/v1/points failed: %s\n", res ? res->body.c_str() : "no answer");
                answer = -1;
                break;
            }
            if (i == 0) {
                growthKb = StatusKb(server, "VmHWM") - rssBefore;
                lines = n;
            }
            if (answer < 0 || t < answer) answer = t;
        }
        if (answer >= 0) {
            std::printf("an account of %zu points in SQLite\n", kPoints);
            std::printf("sqlite3 -csv:                      %.3f s\n", reference);
            std::printf("/api/v1/points?format=csv:         %.3f s, %zu lines\n", answer, lines);
            std::printf("speed against sqlite3: %.2f (target >= 0.50)\n", reference / answer);
            std::printf("server memory: %.1f MB before, peak %.1f MB after the first answer; growth %.1f MB "
                        "(target < 32 MB)\n",
                        rssBefore / 1024.0, StatusKb(server, "VmHWM") / 1024.0, growthKb / 1024.0);
            met = lines == kPoints + 1 && reference / answer >= 0.5 && growthKb < 32 * 1024;
            if (lines != kPoints + 1) std::printf("the answer does not hold every point\n");
            std::printf("%s\n", met ? "targets met" : "TARGET MISSED");
        }
    } else if (server > 0) {
        std::fprintf(stderr, "kestrix-server did not start:\n%s", ReadText(out).c_str());
    }
    if (server > 0) {
        kill(server, SIGTERM);
        int status = 0;
        waitpid(server, &status, 0);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return met ? 0 : 1;
}
