// "kestrix log gpx" on a generated log of 1,000,000 records (most with altitude and speed,
// some without), beside GPSBabel writing GPX from the same points given as CSV
// ("gpsbabel -i unicsv -f pts.csv -o gpx -F out.gpx") and beside a bare loop, in this
// program, that formats the same lines with std::to_chars into one buffer. Both programs
// run as processes writing a file; times are CPU time (user + system, best of three;
// GPSBabel once), peak memory is the kestrix process's maximum resident set.
// Targets: at least 10 times GPSBabel's speed, at least 0.60 of the bare loop's, peak
// memory under 16 MB. Exit status 1 when a run fails or a target is missed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "ProcessStats.h"
#include "tracklog/GpxWriter.h"
#include "tracklog/LogRecord.h"

extern char** environ;

namespace {

using namespace kestrix::bench;
using namespace kestrix;
namespace fs = std::filesystem;

constexpr size_t kRecords = 1'000'000;
constexpr uint64_t kStart = 128809083090000000ULL;  // 2009-03-07 14:05:09 UTC

// A wandering drive at one fix a second; every 10th fix has no altitude, every 7th no
// speed.
class Drive {
public:
    LogRecord Next() {
        const double i = static_cast<double>(n_);
        lat_ += 1.3e-5 * std::sin(i * 1e-3);
        lon_ += 2.1e-5 * std::cos(i * 7e-4);
        const float alt = n_ % 10 == 3 ? 0.0f : static_cast<float>(520.0 + 40.0 * std::sin(i * 1e-2));
        const float speed = n_ % 7 == 5 ? 0.0f : static_cast<float>(36.0 + 20.0 * std::cos(i * 3e-3));
        return LogRecord{lat_, lon_, alt, speed, kStart + n_++ * 10'000'000ULL};
    }

private:
    uint64_t n_ = 0;
    double lat_ = 48.137;
    double lon_ = 11.575;
};

// The log and the same points as CSV for GPSBabel, written as they are generated: this
// program stays small until the processes it measures have run (a spawned child starts
// with its parent's peak memory as its own).
bool WriteInputs(const std::string& logPath, const std::string& csvPath) {
    std::FILE* log = std::fopen(logPath.c_str(), "wb");
    std::FILE* csv = std::fopen(csvPath.c_str(), "w");
    bool ok = log && csv && std::fputs("lat,lon,alt,speed,utc_d,utc_t\n", csv) >= 0;
    Drive drive;
    for (size_t i = 0; ok && i < kRecords; ++i) {
        const LogRecord r = drive.Next();
        uint8_t b[kLogRecordSize];
        EncodeLogRecord(r, b);
        ok = std::fwrite(b, 1, sizeof b, log) == sizeof b;
        const std::string t = FormatIsoTime(r.time);  // 2009-03-07T14:05:09.000Z
        const std::string alt = r.altitude != 0.0f ? std::to_string(r.altitude) : std::string();
        // unicsv takes the speed in m/s.
        const std::string speed = r.speed != 0.0f ? std::to_string(r.speed / 3.6f) : std::string();
        ok = ok && std::fprintf(csv, "%.9f,%.9f,%s,%s,%.4s/%.2s/%.2s,%.12s\n", r.latitude, r.longitude, alt.c_str(),
                                speed.c_str(), t.c_str(), t.c_str() + 5, t.c_str() + 8, t.c_str() + 11) > 0;
    }
    if (log && std::fclose(log) != 0) ok = false;
    if (csv && std::fclose(csv) != 0) ok = false;
    return ok;
}

struct Run {
    bool ok = false;
    double cpu = 0;     // seconds
    double wall = 0;    // seconds
    long maxRssKb = 0;  // peak resident set
};

Run Spawn(const std::vector<std::string>& args, const std::string& errFile) {
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Run run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) == pid) {
            run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            run.cpu = CpuSeconds(usage);
            run.maxRssKb = usage.ru_maxrss;
        }
    }
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

Run BestOf(int times, const std::vector<std::string>& args, const std::string& errFile) {
    Run best;
    for (int i = 0; i < times; ++i) {
        Run r = Spawn(args, errFile);
        if (!r.ok) return r;
        if (!best.ok || r.cpu < best.cpu) best = r;
    }
    return best;
}

// The reference: the same point lines, each number and time field printed with
// std::to_chars (coordinates as rounded micro-units), into one buffer used over and over.
char* ToChars(char* p, unsigned long long v, int width) {
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    for (int pad = width - static_cast<int>(end - digits); pad > 0; --pad) *p++ = '0';
    std::memcpy(p, digits, end - digits);
    return p + (end - digits);
}

char* Fixed6(char* p, double v) {
    const long long micro = std::llround(v * 1e6);
    if (std::signbit(v)) *p++ = '-';
    const unsigned long long m = static_cast<unsigned long long>(micro < 0 ? -micro : micro);
    p = ToChars(p, m / 1000000, 1);
    *p++ = '.';
    return ToChars(p, m % 1000000, 6);
}

template <size_t N>
char* Text(char* p, const char (&s)[N]) {
    std::memcpy(p, s, N - 1);
    return p + N - 1;
}

size_t BareLoop(const std::vector<LogRecord>& records, std::vector<char>& buffer) {
    using namespace std::chrono;
    constexpr sys_days kEpoch = sys_days{year{1601} / January / 1};
    size_t total = 0;
    char* p = buffer.data();
    for (const LogRecord& r : records) {
        if (static_cast<size_t>(buffer.data() + buffer.size() - p) < 512) {
            total += p - buffer.data();
            p = buffer.data();
        }
        p = Text(p, "\t\t\t<trkpt lat=\"");
        p = Fixed6(p, r.latitude);
        p = Text(p, "\" lon=\"");
        p = Fixed6(p, r.longitude);
        p = Text(p, "\">\r\n");
        if (r.altitude != 0.0f) {
            p = Text(p, "\t\t\t\t<ele>");
            p = Fixed6(p, r.altitude);
            p = Text(p, "</ele>\r\n");
        }
        const uint64_t ms = r.time / 10'000;
        const year_month_day ymd{kEpoch + days{static_cast<int64_t>(ms / 86'400'000)}};
        const uint64_t msOfDay = ms % 86'400'000;
        p = Text(p, "\t\t\t\t<time>");
        p = ToChars(p, static_cast<unsigned>(static_cast<int>(ymd.year())), 4);
        *p++ = '-';
        p = ToChars(p, static_cast<unsigned>(ymd.month()), 2);
        *p++ = '-';
        p = ToChars(p, static_cast<unsigned>(ymd.day()), 2);
        *p++ = 'T';
        p = ToChars(p, msOfDay / 3'600'000, 2);
        *p++ = ':';
        p = ToChars(p, msOfDay / 60'000 % 60, 2);
        *p++ = ':';
        p = ToChars(p, msOfDay / 1000 % 60, 2);
        *p++ = '.';
        p = ToChars(p, msOfDay % 1000, 3);
        p = Text(p, "Z</time>\r\n");
        if (r.speed != 0.0f) {
            p = Text(p, "\t\t\t\t<speed>");
            p = Fixed6(p, r.speed);
            p = Text(p, "</speed>\r\n");
        }
        p = Text(p, "\t\t\t</trkpt>\r\n");
    }
    return total + (p - buffer.data());
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/kestrix-bench-gpx-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    const std::string log = dir + "/drive.log";
    const std::string csv = dir + "/pts.csv";
    const std::string gpx = dir + "/drive.gpx";
    const std::string errFile = dir + "/stderr.txt";
    const std::string kestrix = KESTRIX_BINARY_DIR "/bin/kestrix";

    bool ok = WriteInputs(log, csv);
    if (!ok) std::fprintf(stderr, "cannot write the inputs in %s\n", dir.c_str());
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    const long ownPeakKb = self.ru_maxrss;

    Run k;
    if (ok) {
        k = BestOf(3, {kestrix, "log", "gpx", log, "-o", gpx}, errFile);
        if (!k.ok) {
            std::fprintf(stderr, "kestrix log gpx failed:\n%s", ReadText(errFile).c_str());
            ok = false;
        }
    }

    Run g;
    const bool haveGpsbabel = std::system("command -v gpsbabel >/dev/null 2>&1") == 0;
    if (ok && haveGpsbabel) {
        g = Spawn({"gpsbabel", "-i", "unicsv", "-f", csv, "-o", "gpx", "-F", dir + "/gpsbabel.gpx"}, errFile);
        if (!g.ok) std::fprintf(stderr, "gpsbabel failed:\n%s", ReadText(errFile).c_str());
    }

    std::vector<LogRecord> records(kRecords);
    Drive drive;
    for (LogRecord& r : records) r = drive.Next();
    std::vector<char> buffer(256 * 1024);
    double bare = 0;
    size_t bareBytes = 0;
    for (int i = 0; ok && i < 3; ++i) {
        const double start = ProcessCpuSeconds();
        bareBytes = BareLoop(records, buffer);
        const double t = ProcessCpuSeconds() - start;
        if (i == 0 || t < bare) bare = t;
    }

    std::error_code ec;
    const auto gpxBytes = fs::file_size(gpx, ec);
    // The lines the bare loop formats are the document's points: the sizes must agree.
    const size_t frame = GpxHeader("drive").size() + GpxFooter().size();
    if (ok && gpxBytes != bareBytes + frame) {
        std::fprintf(stderr, "the bare loop formatted %zu bytes of points, the GPX file holds %zu\n", bareBytes,
                     static_cast<size_t>(gpxBytes) - frame);
        ok = false;
    }

    bool met = ok;
    if (ok) {
        std::printf("log of %zu records (%.1f MB), GPX %.1f MB\n", kRecords, kRecords * 32 / 1e6, gpxBytes / 1e6);
        std::printf("kestrix log gpx:    %.3f s CPU (%.3f s wall), peak RSS %.1f MB (target < 16 MB; this "
                    "program's own peak before the runs, which a child's figure starts from: %.1f MB)\n",
                    k.cpu, k.wall, k.maxRssKb / 1024.0, ownPeakKb / 1024.0);
        std::printf("bare to_chars loop: %.3f s CPU\n", bare);
        const double vsBare = bare / k.cpu;
        std::printf("speed against the bare loop: %.2f (target >= 0.60)\n", vsBare);
        met = vsBare >= 0.60 && k.maxRssKb < 16 * 1024;
        if (!haveGpsbabel) {
            std::printf("gpsbabel not installed (apt-get install gpsbabel): GPSBabel comparison skipped\n");
        } else if (g.ok) {
            std::printf("gpsbabel unicsv -> gpx: %.3f s CPU (%.3f s wall), peak RSS %.1f MB\n", g.cpu, g.wall,
                        g.maxRssKb / 1024.0);
            std::printf("speed against GPSBabel: %.1f times (target >= 10)\n", g.cpu / k.cpu);
            met = met && g.cpu / k.cpu >= 10.0;
        } else {
            met = false;
        }
        std::printf("%s\n", met ? "targets met" : "TARGET MISSED");
    }
    fs::remove_all(dir, ec);
    return met ? 0 : 1;
}
