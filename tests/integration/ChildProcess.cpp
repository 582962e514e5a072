#include "integration/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>

#include "support/TestSupport.h"

extern char** environ;

namespace kestrix::test {

std::string KestrixBinary() { return KESTRIX_BINARY_DIR "/bin/kestrix"; }

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::string& outDir, const std::string& name)
    : outPath_(outDir + "/" + name + ".out"), errPath_(outDir + "/" + name + ".err") {
    std::vector<std::string> all{KestrixBinary()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ChildProcess::Signal(int signo) const { return pid_ > 0 && !exited_ && kill(pid_, signo) == 0; }

bool ChildProcess::WaitExit(int seconds) {
    if (pid_ <= 0) return false;
    if (exited_) return true;
    WaitFor(
        [&] {
            int status = 0;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            return exited_;
        },
        std::chrono::seconds(seconds));
    return exited_;
}

std::string ChildProcess::Out() const { return ReadFile(outPath_); }
std::string ChildProcess::Err() const { return ReadFile(errPath_); }

Finished RunKestrix(const std::vector<std::string>& args, const std::string& outDir) {
    static std::atomic<int> counter{0};
    ChildProcess p(args, outDir, "cmd" + std::to_string(++counter));
    Finished f;
    if (p.WaitExit(120)) f.exitCode = p.ExitCode();
    f.out = p.Out();
    f.err = p.Err();
    return f;
}

}  // namespace kestrix::test
