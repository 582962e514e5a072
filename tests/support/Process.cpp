#include "support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "platform/Socket.h"
#include "support/TestSupport.h"

extern char** environ;

namespace kestrix::test {

std::string KestrixBinary() { return KESTRIX_BINARY_DIR "/bin/kestrix"; }
std::string ServerBinary() { return KESTRIX_BINARY_DIR "/bin/kestrix-server"; }

int FreeLoopbackPort() {
    platform::TcpListener listener;
    return listener.Listen("127.0.0.1", 0) == 0 ? listener.Port() : -1;
}

Process::~Process() { Stop(); }

bool Process::Start(const std::vector<std::string>& argv, const std::string& outFile, const std::string& errFile) {
    if (pid_ > 0 || argv.empty()) return false;
    out_ = outFile;
    err_ = errFile.empty() ? outFile : errFile;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err_ == out_) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
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

void Process::Reap(bool block) {
    if (pid_ <= 0) return;
    int st = 0;
    if (waitpid(pid_, &st, block ? 0 : WNOHANG) != pid_) return;
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    // Whatever the program left in its group goes with it.
    kill(-pid_, SIGKILL);
    pid_ = -1;
}

bool Process::Running() {
    Reap(false);
    return pid_ > 0;
}

bool Process::Signal(int signo) { return Running() && kill(pid_, signo) == 0; }

int Process::Wait(std::chrono::milliseconds bound) {
    return WaitFor([&] { return !Running(); }, bound) ? status_ : -1;
}

int Process::Stop(std::chrono::milliseconds bound) {
    if (pid_ <= 0) return status_;
    kill(-pid_, SIGTERM);
    if (Wait(bound) == -1 && pid_ > 0) {
        kill(-pid_, SIGKILL);
        Reap(true);
    }
    return status_;
}

std::optional<std::string> Process::WaitForLine(const std::string& marker, std::chrono::milliseconds bound) {
    std::optional<std::string> found;
    WaitFor(
        [&] {
            const std::string text = Out();
            const size_t at = text.find(marker);
            const size_t end = at == std::string::npos ? at : text.find('\n', at);
            if (end != std::string::npos) found = text.substr(at + marker.size(), end - at - marker.size());
            return found.has_value();
        },
        bound);
    return found;
}

std::string Process::Out() const { return ReadFile(out_); }
std::string Process::Err() const { return ReadFile(err_); }

Finished RunToEnd(const std::vector<std::string>& argv, const std::string& dir) {
    static std::atomic<int> counter{0};
    const std::string name = dir + "/run" + std::to_string(++counter);
    Process p;
    Finished f;
    if (p.Start(argv, name + ".out", name + ".err")) f.exitCode = p.Wait(std::chrono::seconds(120));
    f.out = p.Out();
    f.err = p.Err();
    return f;
}

Finished RunKestrix(std::vector<std::string> args, const std::string& dir) {
    args.insert(args.begin(), KestrixBinary());
    return RunToEnd(args, dir);
}

}  // namespace kestrix::test
