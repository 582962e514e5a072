// A program run as a child process by the tests (kestrix, kestrix-server, gpsfake). Its
// standard output and error go to files the test owns, so they can be read while it runs.
// It starts in a process group of its own, so whatever it starts (the gpsd under gpsfake)
// ends with it. Every wait has a bound; Stop sends SIGTERM, waits, then sends SIGKILL.
// One thread drives a Process.
#pragma once
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::test {

// The programs of this build.
std::string KestrixBinary();
std::string ServerBinary();
// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();

class Process {
public:
    Process() = default;
    ~Process();  // Stop()
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts argv (argv[0] searched in PATH) with standard input from /dev/null, output to
    // outFile and errors to errFile (to outFile when empty). False when it cannot start.
    bool Start(const std::vector<std::string>& argv, const std::string& outFile, const std::string& errFile = "");
    bool Running();
    bool Signal(int signo);
    // Waits up to bound for the program to end by itself. Its exit status (128 + the signal
    // when a signal ended it), or -1 when it still runs or never started.
    int Wait(std::chrono::milliseconds bound);
    // SIGTERM to the group, up to bound for it to end, then SIGKILL. The status as Wait has it.
    int Stop(std::chrono::milliseconds bound = std::chrono::seconds(5));
    // Waits up to bound for a whole line of the output that holds marker: what follows the
    // marker on that line, or nullopt.
    std::optional<std::string> WaitForLine(const std::string& marker, std::chrono::milliseconds bound);
    std::string Out() const;
    std::string Err() const;
    pid_t Pid() const { return pid_; }

private:
    void Reap(bool block);
    pid_t pid_ = -1;
    int status_ = -1;
    std::string out_;
    std::string err_;
};

// exitCode: as Process::Wait has it
struct Finished { int exitCode = -1; std::string out; std::string err; };

// Runs argv to its end (up to 120 s, then it is stopped), its output in files in dir.
Finished RunToEnd(const std::vector<std::string>& argv, const std::string& dir);
// The same for kestrix with these arguments.
Finished RunKestrix(std::vector<std::string> args, const std::string& dir);

}  // namespace kestrix::test
