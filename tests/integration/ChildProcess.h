// Runs the kestrix program as a separate process for the end-to-end tests: its standard
// output and error go to files in a folder the test owns, so they can be read while it runs.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace kestrix::test {

std::string KestrixBinary();

struct Finished {
    int exitCode = -1;  // -1 when it did not exit normally
    std::string out;
    std::string err;
};

class ChildProcess {
public:
    // Starts the program; outDir receives "<name>.out" and "<name>.err".
    ChildProcess(const std::vector<std::string>& args, const std::string& outDir, const std::string& name);
    ~ChildProcess();  // kills a process that is still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    bool Signal(int signo) const;
    // Waits (with a bound) for the exit; false when it is still running.
    bool WaitExit(int seconds);
    int ExitCode() const { return exitCode_; }
    std::string Out() const;
    std::string Err() const;

private:
    pid_t pid_ = -1;
    int exitCode_ = -1;
    bool exited_ = false;
    std::string outPath_;
    std::string errPath_;
};

// Runs a short command to its end.
Finished RunKestrix(const std::vector<std::string>& args, const std::string& outDir);

}  // namespace kestrix::test
