#include "GpsTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "nmea/GpsDecoder.h"
#include "nmea/SyntheticCapture.h"
#include "platform/GpsMultiplexer.h"

extern char** environ;

namespace kestrix::test {

bool FixRecord::operator==(const FixRecord& o) const {
    return std::fabs(lat - o.lat) < 1e-9 && std::fabs(lon - o.lon) < 1e-9 && time == o.time;
}

void RecordingListener::OnFixLost() {
    std::lock_guard<std::mutex> g(mutex_);
    ++fixLost_;
}

void RecordingListener::OnFix(TrackPointRef point) {
    std::lock_guard<std::mutex> g(mutex_);
    fixes_.push_back({point->GetLatitude(), point->GetLongitude(), point->GetTime()});
}

std::vector<FixRecord> RecordingListener::Fixes() const {
    std::lock_guard<std::mutex> g(mutex_);
    return fixes_;
}

int RecordingListener::FixLostCount() const {
    std::lock_guard<std::mutex> g(mutex_);
    return fixLost_;
}

void RawRecorder::OnRawSentence(std::string_view, std::string_view body, std::string_view address) {
    std::lock_guard<std::mutex> g(mutex_);
    sentences_.push_back(std::string(address) + "," + std::string(body));
}

std::vector<std::string> RawRecorder::Sentences() const {
    std::lock_guard<std::mutex> g(mutex_);
    return sentences_;
}

std::vector<std::string> SentencesOf(const std::string& capture) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < capture.size()) {
        size_t end = capture.find('\n', pos);
        if (end == std::string::npos) end = capture.size();
        const std::string line = capture.substr(pos, end - pos);
        pos = end + 1;
        const size_t dollar = line.find('$');
        const size_t star = line.rfind('*');
        if (dollar == std::string::npos || star == std::string::npos || star < dollar) continue;
        out.push_back(line.substr(dollar + 1, star - dollar - 1));
    }
    return out;
}

std::vector<FixRecord> ReferenceFixes(const std::string& capture) {
    RecordingListener listener;
    GpsDecoder decoder(&listener);
    decoder.Feed(capture);
    return listener.Fixes();
}

std::string TestDrive(int seconds) {
    DriveOptions o;
    o.seconds = seconds;
    o.lostSeconds = 0;
    return GenerateDrive(o);
}

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& logFile) {
    if (pid_ > 0 || argv.empty()) return false;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!logFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;
    pid_ = pid;
    status_ = -1;
    return true;
}

int ChildProcess::Reap(bool block) {
    if (pid_ <= 0) return status_;
    int st = 0;
    const pid_t r = waitpid(pid_, &st, block ? 0 : WNOHANG);
    if (r == pid_) {
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        // Whatever the program left in its group goes with it.
        kill(-pid_, SIGKILL);
        pid_ = -1;
    }
    return status_;
}

bool ChildProcess::Running() {
    Reap(false);
    return pid_ > 0;
}

int ChildProcess::Wait(int boundMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (Running()) {
        if (std::chrono::steady_clock::now() > end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

int ChildProcess::Stop(int boundMs) {
    if (pid_ <= 0) return status_;
    kill(-pid_, SIGTERM);
    if (Wait(boundMs) == -1 && pid_ > 0) {
        kill(-pid_, SIGKILL);
        Reap(true);
    }
    return status_;
}

int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

std::string RunAndCapture(const std::string& command, int* exitStatus) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) {
        if (exitStatus) *exitStatus = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int st = pclose(p);
    if (exitStatus) *exitStatus = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

bool FakeGpsd::Start(const std::string& captureFile, const std::string& logFile, std::string& reason) {
    if (!std::filesystem::exists("/usr/bin/gpsfake") || !std::filesystem::exists("/usr/sbin/gpsd")) {
        reason = "gpsfake or gpsd is not installed";
        return false;
    }
    port_ = FreeLoopbackPort();
    // -n: gpsd reads the device without waiting for a client; the capture loops, so a
    // client that joins late still sees a long run of it; -c paces the sentences.
    const std::vector<std::string> argv = {"/usr/bin/gpsfake", "-q",  "-n", "-c", "0.005",
                                           "-P",                std::to_string(port_), captureFile};
    if (!process_.Start(argv, logFile)) {
        reason = "gpsfake did not start";
        return false;
    }
    platform::SetGpsdPort(static_cast<uint16_t>(port_));
    if (!WaitFor([] { return platform::GpsdAnswers(200); }, std::chrono::seconds(15))) {
        reason = "gpsd started by gpsfake did not answer: " + ReadFile(logFile);
        process_.Stop();
        return false;
    }
    return true;
}

}  // namespace kestrix::test
