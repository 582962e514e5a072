// The map's /api/track?points=5000 on a log of 1,000,000 records, beside "kestrix log gpx" of
// the same log in the same run: the daemon's CPU time for the answer (best of three) against
// the conversion's (best of three), and the daemon's memory growth while it answers (its
// peak resident set after the first answer less its resident set before).
// Targets: no more CPU time than the GPX conversion, growth under 64 MB, and an answer
// that holds every record as at most 5,000 vertices. Exit status 1 when a run fails or a
// target is missed.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
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
#include <nlohmann/json.hpp>

#include "ProcessStats.h"
#include "tracklog/LogRecord.h"

extern char** environ;

namespace {

using namespace kestrix::bench;
using namespace kestrix;
namespace fs = std::filesystem;

constexpr size_t kRecords = 1'000'000;
constexpr uint64_t kStart = 133'787'520'000'000'000ULL;  // 2024-12-07 00:00 UTC

// A wandering drive at one fix a second, with a stop of a quarter of an hour (a new
// segment) every 20,000 fixes.
bool WriteLog(const std::string& path) {
    std::FILE* log = std::fopen(path.c_str(), "wb");
    bool ok = log != nullptr;
    double lat = 48.137, lon = 11.575;
    uint64_t time = kStart;
    for (size_t n = 0; ok && n < kRecords; ++n) {
        const double i = static_cast<double>(n);
        lat += 1.3e-5 * std::sin(i * 1e-3);
        lon += 2.1e-5 * std::cos(i * 7e-4);
        time += (n % 20'000 == 0 ? 900 : 1) * 10'000'000ULL;
        const LogRecord r{lat, lon, static_cast<float>(520.0 + 40.0 * std::sin(i * 1e-2)),
                          static_cast<float>(36.0 + 20.0 * std::cos(i * 3e-3)), time};
        uint8_t b[kLogRecordSize];
        EncodeLogRecord(r, b);
        ok = std::fwrite(b, 1, sizeof b, log) == sizeof b;
    }
    if (log && std::fclose(log) != 0) ok = false;
    return ok;
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
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Runs a program to its end: its CPU seconds, or -1 when it fails.
double Run(const std::vector<std::string>& args, const std::string& outFile) {
    const pid_t pid = Start(args, outFile);
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return CpuSeconds(usage);
}

// The process's user and system time so far, from /proc/PID/stat.
double ProcessCpuSeconds(pid_t pid) {
    const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream in(stat.substr(stat.rfind(')') + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stoul(field);
        if (i == 15) stime = std::stoul(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main() {
    char pattern[] = "/tmp/kestrix-bench-map-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    const std::string data = dir + "/data";
    const std::string log = data + "/anna.log";
    const std::string out = dir + "/out.txt";
    const std::string kestrix = KESTRIX_BINARY_DIR "/bin/kestrix";
    fs::create_directory(data);
    bool ok = WriteLog(log);
    // A configured tracker that runs no service: the log stays as it is.
    for (const auto& [name, value] : {std::pair{"Login", "anna"}, {"Password", "demo"}, {"COM", "/nonexistent"},
                                      {"ModeP", "0"}, {"ModeB", "0"}}) {
        ok = ok && Run({kestrix, "config", "--data-dir", data, "set", name, value}, out) >= 0;
    }
    double gpx = -1;
    for (int i = 0; ok && i < 3; ++i) {
        const double t = Run({kestrix, "log", "gpx", log, "-o", dir + "/drive.gpx"}, out);
        if (t < 0) ok = false;
        if (gpx < 0 || t < gpx) gpx = t;
    }
    if (!ok) std::fprintf(stderr, "preparing the log or kestrix log gpx failed:\n%s", ReadText(out).c_str());

    const pid_t daemon = ok ? Start({kestrix, "run", "--data-dir", data, "--http", "127.0.0.1:0", "--gpsd", "1",
                                     "--tiles", "off"}, out)
                            : -1;
    int port = 0;
    for (int i = 0; daemon > 0 && port == 0 && i < 300; ++i) {
        const std::string text = ReadText(out);
        const auto at = text.find("Kestrix is running: http://127.0.0.1:");
        if (at != std::string::npos) port = std::atoi(text.c_str() + at + 37);
        if (port == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));  // polling a process's output
    }
    bool met = false;
    if (port > 0) {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(120, 0);
        const long rssBefore = StatusKb(daemon, "VmRSS");
        const long peakBefore = StatusKb(daemon, "VmHWM");
        double track = -1;
        long growthKb = 0;
        nlohmann::json summary;
        for (int i = 0; i < 3; ++i) {
            const double before = ProcessCpuSeconds(daemon);
            const auto res = client.Get("/api/track?points=5000");
            const double t = ProcessCpuSeconds(daemon) - before;
            if (!res || res->status != 200) {
                std::fprintf(stderr, "/api/track failed: %s\n", res ? res->body.c_str() : "no answer");
                track = -1;
                break;
            }
            if (i == 0) {
                growthKb = StatusKb(daemon, "VmHWM") - rssBefore;
                summary = nlohmann::json::parse(res->body, nullptr, false)["summary"];
            }
            if (track < 0 || t < track) track = t;
        }
        if (track >= 0) {
            const bool whole = summary.is_object() && summary["records"] == kRecords && summary["vertices"] <= 5000;
            std::printf("log of %zu records (%.1f MB)\n", kRecords, kRecords * 32 / 1e6);
            std::printf("kestrix log gpx:          %.3f s CPU\n", gpx);
            std::printf("/api/track?points=5000:   %.3f s CPU of the daemon; %s records as %s vertices\n", track,
                        summary.value("records", nlohmann::json()).dump().c_str(),
                        summary.value("vertices", nlohmann::json()).dump().c_str());
            std::printf("against the GPX conversion: %.2f of its time (target <= 1.00)\n", track / gpx);
            std::printf("daemon memory: %.1f MB before, peak %.1f MB before and %.1f MB after; growth %.1f MB "
                        "(target < 64 MB)\n",
                        rssBefore / 1024.0, peakBefore / 1024.0, StatusKb(daemon, "VmHWM") / 1024.0, growthKb / 1024.0);
            met = whole && track <= gpx && growthKb < 64 * 1024;
            if (!whole) std::printf("the answer does not hold the whole log within 5000 vertices\n");
            std::printf("%s\n", met ? "targets met" : "TARGET MISSED");
        }
    } else if (daemon > 0) {
        std::fprintf(stderr, "kestrix run did not start:\n%s", ReadText(out).c_str());
    }
    if (daemon > 0) {
        kill(daemon, SIGTERM);
        int status = 0;
        waitpid(daemon, &status, 0);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return met ? 0 : 1;
}
