// What the benchmarks read of a process they started: its files' text, its memory from
// /proc/PID/status and its CPU time from rusage. Linux only, as the benchmarks are.
#pragma once
#include <sys/resource.h>
#include <sys/types.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace kestrix::bench {

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A field of /proc/PID/status in kB ("VmRSS", "VmHWM"); -1 when it is not there.
inline long StatusKb(pid_t pid, const std::string& field) {
    std::istringstream in(ReadText("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    }
    return -1;
}

// User and system seconds of a finished child.
inline double CpuSeconds(const rusage& u) {
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec * 1e-6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec * 1e-6;
}

}  // namespace kestrix::bench
