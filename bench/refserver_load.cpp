// The reference server under load: the real kestrix-server program on loopback with a
// fresh database, 200 clients at once, each logging in and sending 600 live positions
// and 10 track messages of 100 points, interleaved. Each client then logs in once more:
// the server handles a connection's packets in order and stores each before reading the
// next, so that answer means everything the client sent is stored. Then the export must
// hold every position exactly once. Reported: points per second, and the server's peak
// resident memory (VmHWM) taken from /proc before it is stopped.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "server/ByteStream.h"
#include "server/Messages.h"
#include "server/Packet.h"

namespace {

constexpr int kClients = 200;
constexpr int kLivePerClient = 600;
constexpr int kTracksPerClient = 10;
constexpr int kPointsPerTrack = 100;
const std::string kProgram = std::string(KESTRIX_BINARY_DIR) + "/bin/kestrix-server";
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

std::string ReadAll(int fd) {
    std::string all;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<size_t>(n));
    return all;
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

bool Login(int fd, uint32_t& userId) {
    kestrix::LoginMessage login("bench", kDigest, 1);
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
    bool ok = Login(fd, userId);
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
    ok = ok && Login(fd, userId);
    close(fd);
    return ok;
}

// Every live position of every client exactly once, and the right number of track points.
bool CheckExport(const std::string& json, std::string& why) {
    std::vector<uint8_t> seen(static_cast<size_t>(kClients) * kLivePerClient, 0);
    size_t lines = 0;
    size_t track = 0;
    size_t at = 0;
    while (at < json.size()) {
        size_t end = json.find('\n', at);
        if (end == std::string::npos) end = json.size();
        std::string line = json.substr(at, end - at);
        at = end + 1;
        ++lines;
        if (line.find("\"kind\":\"track\"") != std::string::npos) {
            ++track;
            continue;
        }
        const char* lat = std::strstr(line.c_str(), "\"lat\":");
        const char* lon = std::strstr(line.c_str(), "\"lon\":");
        if (!lat || !lon) {
            why = "unreadable line: " + line;
            return false;
        }
        long client = std::lround((std::atof(lat + 6) + 50.0) / 0.5);
        long k = std::lround((std::atof(lon + 6) + 170.0) / 0.5);
        if (client < 0 || client >= kClients || k < 0 || k >= kLivePerClient) {
            why = "unexpected position: " + line;
            return false;
        }
        if (seen[static_cast<size_t>(client * kLivePerClient + k)]++) {
            why = "position stored twice: " + line;
            return false;
        }
    }
    size_t live = lines - track;
    if (live != seen.size() || track != static_cast<size_t>(kClients) * kTracksPerClient * kPointsPerTrack) {
        why = "stored " + std::to_string(live) + " live and " + std::to_string(track) + " track points";
        return false;
    }
    return true;
}

void BM_ServerUnderLoad(benchmark::State& state) {
    char dirTemplate[] = "/tmp/kestrix-bench-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        state.SkipWithError("cannot make a temporary folder");
        return;
    }
    const std::string dir = dirTemplate;
    const std::string db = dir + "/server.sqlite";
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(db.c_str());
        int out = -1;
        pid_t adder = Spawn({"--db", db, "user", "add", "bench", "secret"}, out);
        ReadAll(out);
        close(out);
        int status = 0;
        waitpid(adder, &status, 0);
        pid_t server = Spawn({"--db", db, "--listen", "127.0.0.1:0", "--web", "off"}, out);
        std::string line = ReadLine(out);
        if (line.rfind("listening on 127.0.0.1:", 0) != 0) {
            state.SkipWithError(("server did not start: " + line).c_str());
            kill(server, SIGKILL);
            waitpid(server, &status, 0);
            return;
        }
        uint16_t port = static_cast<uint16_t>(std::atoi(line.c_str() + std::strlen("listening on 127.0.0.1:")));
        state.ResumeTiming();

        auto begin = std::chrono::steady_clock::now();
        std::atomic<int> failed{0};
        std::vector<std::thread> clients;
        for (int i = 0; i < kClients; ++i)
            clients.emplace_back([&, i] {
                if (!RunClient(port, i)) ++failed;
            });
        for (std::thread& t : clients) t.join();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

        state.PauseTiming();
        long hwm = VmHwmKb(server);
        double cpu = CpuSeconds(server);
        kill(server, SIGTERM);
        waitpid(server, &status, 0);
        close(out);
        int exportOut = -1;
        pid_t exporter = Spawn({"--db", db, "export", "bench"}, exportOut);
        std::string json = ReadAll(exportOut);
        close(exportOut);
        waitpid(exporter, &status, 0);
        std::string why;
        if (failed.load() != 0) {
            state.SkipWithError((std::to_string(failed.load()) + " clients failed").c_str());
        } else if (!CheckExport(json, why)) {
            state.SkipWithError(why.c_str());
        }
        const double points = static_cast<double>(kClients) * (kLivePerClient + kTracksPerClient * kPointsPerTrack);
        state.counters["clients"] = kClients;
        state.counters["points"] = points;
        state.counters["points_per_s"] = points / seconds;
        state.counters["packets_per_s"] = kClients * (kLivePerClient + kTracksPerClient + 2) / seconds;
        state.counters["server_VmHWM_kB"] = static_cast<double>(hwm);
        state.counters["server_cpu_s"] = cpu;
        std::printf("reference server: %d clients, %.0f points in %.2f s (%.0f points/s), server CPU %.2f s, "
                    "peak memory %ld kB\n",
                    kClients, points, seconds, points / seconds, cpu, hwm);
        state.ResumeTiming();
    }
    std::remove(db.c_str());
    std::remove((db + "-wal").c_str());
    std::remove((db + "-shm").c_str());
    rmdir(dir.c_str());
}

BENCHMARK(BM_ServerUnderLoad)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
