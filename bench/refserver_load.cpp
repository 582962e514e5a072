// The reference server under load: the real kestrix-server program on loopback with a
// fresh database, 200 clients at once, each logging in to an account of its own and sending
// 600 live positions and 10 track messages of 100 points, interleaved. Each client then
// logs in once more: that answer comes only once everything the client sent before it is
// committed. Then the database must hold every position exactly once. Three settings: one
// server on SQLite, one on PostgreSQL, and two on one PostgreSQL database (the clients split
// between them), each run three times on a fresh database. PostgreSQL is a cluster of the
// benchmark's own (scripts/postgres.sh) with its default durability: every commit is
// flushed to disk. Reported: points per second (the median run's; the machines are shared
// and noisy), each server's peak resident memory (VmHWM) and CPU time taken from /proc
// before it is stopped, and the rates as ratios to SQLite's and to one PostgreSQL server's.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "Store.h"
#include "server/ByteStream.h"
#include "server/Messages.h"
#include "server/Packet.h"

namespace {

constexpr int kClients = 200;
constexpr int kLivePerClient = 600;
constexpr int kTracksPerClient = 10;
constexpr int kPointsPerTrack = 100;
constexpr int kRuns = 3;
const std::string kProgram = std::string(KESTRIX_BINARY_DIR) + "/bin/kestrix-server";
const std::string kPostgresScript = std::string(KESTRIX_SOURCE_DIR) + "/scripts/postgres.sh";
const std::string kDigest = "5ebe2294ecd0e0f08eab7690d2a6ee69";  // MD5 of "secret"

// Runs the program with stdout on a pipe; returns the pid and the pipe's read end.
pid_t Spawn(const std::vector<std::string>& args, int& out) {
    int p[2];
    if (pipe(p) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(p[1], 1);
        close(p[0]);
        close(p[1]);
        std::vector<std::string> copy = args;
        std::vector<char*> argv;
        std::string program = kProgram;
        argv.push_back(program.data());
        for (std::string& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(p[1]);
    out = p[0];
    return pid;
}

std::string ReadLine(int fd) {
    std::string line;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 30000) > 0 && read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

long VmHwmKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// User plus system CPU seconds the process has used so far.
double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t paren = all.rfind(')');
    if (paren == std::string::npos) return -1;
    // After the command name: state is field 3; utime and stime are fields 14 and 15.
    std::vector<std::string> fields;
    size_t at = paren + 2;
    while (at < all.size()) {
        size_t end = all.find(' ', at);
        if (end == std::string::npos) end = all.size();
        fields.push_back(all.substr(at, end - at));
        at = end + 1;
    }
    if (fields.size() < 13) return -1;
    return (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int Connect(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendMessage(int fd, kestrix::ServerMessage& message) {
    kestrix::CallbackStream stream(nullptr, [fd](const uint8_t* data, size_t length, size_t& written) {
        while (written < length) {
            ssize_t n = send(fd, data + written, length - written, MSG_NOSIGNAL);
            if (n <= 0) return false;
            written += static_cast<size_t>(n);
        }
        return true;
    });
    kestrix::Packet packet;
    return packet.Prepare(message) && message.Write(packet) && packet.Send(stream);
}

std::string Account(int client) { return "client" + std::to_string(client); }

bool Login(int fd, int client, uint32_t& userId) {
    kestrix::LoginMessage login(Account(client), kDigest, 1);
    if (!SendMessage(fd, login)) return false;
    kestrix::CallbackStream stream(
        [fd](uint8_t* buffer, size_t length, size_t& received) {
            ssize_t n = recv(fd, buffer, length, 0);
            if (n < 0) return false;
            received = static_cast<size_t>(n);
            return true;
        },
        nullptr);
    kestrix::Packet packet;
    if (!packet.Receive(stream, 30000) || !login.Read(packet)) return false;
    userId = login.UserId();
    return userId != 0;
}

// Client i's live position k: its latitude names the client, its longitude the position.
double LiveLatitude(int client) { return -50.0 + 0.5 * client; }
double LiveLongitude(int k) { return -170.0 + 0.5 * k; }

bool RunClient(uint16_t port, int client) {
    int fd = Connect(port);
    if (fd < 0) return false;
    uint32_t userId = 0;
    bool ok = Login(fd, client, userId);
    const uint64_t start = 134'000'000'000'000'000ULL;
    int live = 0;
    for (int t = 0; ok && t < kTracksPerClient; ++t) {
        for (int k = 0; ok && k < kLivePerClient / kTracksPerClient; ++k, ++live) {
            kestrix::PositionMessage m(
                *kestrix::TrackPoint::Make(LiveLatitude(client), LiveLongitude(live), 300.0f, 42.0f, 0));
            ok = SendMessage(fd, m);
        }
        kestrix::TrackMessage track(userId);
        for (int k = 0; k < kPointsPerTrack; ++k)
            track.Add(kestrix::TrackPoint::Make(40.0 + 0.0001 * k, -3.0 + 0.0001 * client, 650.0f, 0.0f,
                                                start + static_cast<uint64_t>(k) * 10'000'000ULL));
        ok = ok && SendMessage(fd, track);
    }
    // The barrier: this answer comes only after everything above was stored.
    ok = ok && Login(fd, client, userId);
    close(fd);
    return ok;
}

// The clients' accounts, client i's user id being i + 1.
bool AddAccounts(const std::string& db, std::string& why) {
    std::unique_ptr<kestrix::refserver::Store> store = kestrix::refserver::MakeStore(db);
    bool ok = store->Open(db);
    for (int c = 0; ok && c < kClients; ++c) {
        uint32_t id = 0;
        ok = store->AddUser(Account(c), kDigest, id) && id == static_cast<uint32_t>(c) + 1;
    }
    if (!ok) why = "cannot add the accounts: " + store->Error();
    return ok;
}

// Every live position of every client exactly once, and the right number of track points.
bool CheckStored(const std::string& db, std::string& why) {
    using kestrix::refserver::StoredPoint;
    std::unique_ptr<kestrix::refserver::Store> store = kestrix::refserver::MakeStore(db);
    if (!store->Open(db, kestrix::refserver::Store::Mode::Existing)) {
        why = store->Error();
        return false;
    }
    for (int c = 0; c < kClients; ++c) {
        std::vector<uint8_t> seen(kLivePerClient, 0);
        size_t live = 0, track = 0;
        bool wrong = false;
        bool read = store->ForEachPoint(static_cast<uint32_t>(c) + 1, [&](const StoredPoint& p) {
            if (p.kind == kestrix::refserver::PointKind::Track) {
                ++track;
                return;
            }
            const long k = std::lround((p.longitude + 170.0) / 0.5);
            if (std::lround((p.latitude + 50.0) / 0.5) != c || k < 0 || k >= kLivePerClient ||
                seen[static_cast<size_t>(k)]++)
                wrong = true;
            ++live;
        });
        if (!read || wrong || live != kLivePerClient || track != kTracksPerClient * kPointsPerTrack) {
            why = Account(c) + ": " + (read ? "" : store->Error() + "; ") + std::to_string(live) + " live and " +
                  std::to_string(track) + " track points" + (wrong ? ", some not its own or twice" : "");
            return false;
        }
    }
    return true;
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// Runs a command to its end; its exit status.
int Run(const std::vector<std::string>& argv) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        std::vector<std::string> copy = argv;
        for (std::string& a : copy) args.push_back(a.data());
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The benchmark's temporary folder and, once asked for, its PostgreSQL cluster.
struct Setting {
    std::string dir;
    std::string postgres;     // the maintenance database's URI
    std::string unavailable;  // why there is no PostgreSQL
    bool clusterTried = false;
    int databases = 0;

    // A fresh database's --db value.
    std::string Database(bool onPostgres) {
        if (!onPostgres) {
            const std::string db = dir + "/server" + std::to_string(++databases) + ".sqlite";
            std::remove(db.c_str());
            return db;
        }
        if (!clusterTried) {
            clusterTried = true;
            if (Run({"sh", kPostgresScript, "start", dir + "/pg", "--durable"}) != 0)
                unavailable = "the PostgreSQL cluster did not start (" + dir + "/pg/server.log)";
            else
                unavailable = ReadFileText(dir + "/pg/unavailable");
            postgres = ReadFileText(dir + "/pg/uri");
        }
        if (!unavailable.empty() || postgres.empty()) return {};
        const std::string name = "bench" + std::to_string(++databases);
        if (Run({"psql", "-q", postgres, "-c", "CREATE DATABASE " + name}) != 0) return {};
        const size_t slash = postgres.find('/', postgres.find("://") + 3);
        return postgres.substr(0, slash + 1) + name + postgres.substr(postgres.find('?'));
    }
    ~Setting() {
        if (clusterTried) Run({"sh", kPostgresScript, "stop", dir + "/pg"});
        Run({"rm", "-rf", dir});
    }
};
Setting* setting = nullptr;

struct ServerProcess {
    pid_t pid = -1;
    int out = -1;
    uint16_t port = 0;
};

bool StartServer(const std::string& db, ServerProcess& server, std::string& why) {
    server.pid = Spawn({"--db", db, "--listen", "127.0.0.1:0", "--web", "off"}, server.out);
    std::string line = ReadLine(server.out);
    if (line.rfind("listening on 127.0.0.1:", 0) != 0) {
        why = "server did not start: " + line;
        return false;
    }
    server.port = static_cast<uint16_t>(std::atoi(line.c_str() + std::strlen("listening on 127.0.0.1:")));
    return true;
}

void StopServer(ServerProcess& server) {
    if (server.pid <= 0) return;
    int status = 0;
    kill(server.pid, SIGTERM);
    waitpid(server.pid, &status, 0);
    close(server.out);
    server.pid = -1;
}

// Points per second of the runs so far, for the ratios.
double sqliteRate = 0;
double postgresRate = 0;

void BM_ServerUnderLoad(benchmark::State& state, bool onPostgres, int servers) {
    const char* name = !onPostgres ? "one server on SQLite" : servers == 1 ? "one server on PostgreSQL"
                                                                           : "two servers on one PostgreSQL";
    const double points = static_cast<double>(kClients) * (kLivePerClient + kTracksPerClient * kPointsPerTrack);
    std::vector<double> rates;
    long hwmMax = 0;
    double cpuMax = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string db = setting->Database(onPostgres);
        if (db.empty()) {
            state.SkipWithError(("no PostgreSQL: " + setting->unavailable).c_str());
            return;
        }
        std::string why;
        if (!AddAccounts(db, why)) {
            state.SkipWithError(why.c_str());
            return;
        }
        std::vector<ServerProcess> procs(static_cast<size_t>(servers));
        for (ServerProcess& p : procs) {
            if (!StartServer(db, p, why)) {
                for (ServerProcess& q : procs) StopServer(q);
                state.SkipWithError(why.c_str());
                return;
            }
        }
        state.ResumeTiming();

        auto begin = std::chrono::steady_clock::now();
        std::atomic<int> failed{0};
        std::vector<std::thread> clients;
        for (int i = 0; i < kClients; ++i)
            clients.emplace_back([&, i] {
                if (!RunClient(procs[static_cast<size_t>(i % servers)].port, i)) ++failed;
            });
        for (std::thread& t : clients) t.join();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

        state.PauseTiming();
        std::string memory;
        double cpu = 0;
        for (ServerProcess& p : procs) {
            const long hwm = VmHwmKb(p.pid);
            hwmMax = std::max(hwmMax, hwm);
            cpu += CpuSeconds(p.pid);
            memory += (memory.empty() ? "" : " and ") + std::to_string(hwm) + " kB";
            StopServer(p);
        }
        cpuMax = std::max(cpuMax, cpu);
        if (failed.load() != 0) {
            state.SkipWithError((std::to_string(failed.load()) + " clients failed").c_str());
            return;
        }
        if (!CheckStored(db, why)) {
            state.SkipWithError(why.c_str());
            return;
        }
        rates.push_back(points / seconds);
        std::printf("%s: %d clients, %.0f points in %.2f s (%.0f points/s), server CPU %.2f s, peak memory %s\n", name,
                    kClients, points, seconds, points / seconds, cpu, memory.c_str());
        state.ResumeTiming();
    }
    std::sort(rates.begin(), rates.end());
    const double rate = rates[rates.size() / 2];
    state.counters["clients"] = kClients;
    state.counters["points"] = points;
    state.counters["points_per_s"] = rate;
    state.counters["server_VmHWM_kB"] = static_cast<double>(hwmMax);
    state.counters["server_cpu_s"] = cpuMax;
    std::printf("%s, median of %zu runs: %.0f points/s\n", name, rates.size(), rate);
    if (!onPostgres) {
        sqliteRate = rate;
    } else if (servers == 1) {
        postgresRate = rate;
        if (sqliteRate > 0) std::printf("  PostgreSQL / SQLite: %.2f (target at least 0.5)\n", rate / sqliteRate);
    } else if (postgresRate > 0) {
        std::printf("  two servers / one server on PostgreSQL: %.2f (target at least 1)\n", rate / postgresRate);
    }
}

BENCHMARK_CAPTURE(BM_ServerUnderLoad, sqlite, false, 1)->Iterations(kRuns)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ServerUnderLoad, postgres, true, 1)->Iterations(kRuns)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ServerUnderLoad, postgres_two_servers, true, 2)
    ->Iterations(kRuns)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char dirTemplate[] = "/tmp/kestrix-bench-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    // The cluster's user (postgres, when this runs as root) makes its folder inside.
    chmod(dirTemplate, 0755);
    Setting s;
    s.dir = dirTemplate;
    setting = &s;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
