// Test helper: a program started in its own process group (so that everything it starts,
// such as the gpsd under gpsfake, is ended with it), stopped with SIGTERM and reaped with
// a bound, then SIGKILL.
#pragma once
#include <string>
#include <vector>

namespace kestrix::test {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // Stop()
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (searched in PATH) with output to logFile ("" keeps the test's).
    bool Start(const std::vector<std::string>& argv, const std::string& logFile = "");
    bool Running();
    // SIGTERM to the group, up to boundMs for it to end, then SIGKILL. Returns the exit
    // status (or 128 + signal), -1 when nothing ran.
    int Stop(int boundMs = 5000);
    // Waits up to boundMs for the program to end by itself; -1 when it did not.
    int Wait(int boundMs);
    int Pid() const { return pid_; }

private:
    int Reap(bool block);
    int pid_ = -1;
    int status_ = -1;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();
// Runs a command line through the shell and returns its standard output.
std::string RunAndCapture(const std::string& command, int* exitStatus = nullptr);

}  // namespace kestrix::test
