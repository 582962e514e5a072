#include "platform/Log.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "platform/Text.h"
#include "platform/Time.h"

namespace kestrix::platform {

namespace {

// Recursive so that a sink which itself logs (or a log line written while the sink is
// being replaced from the same thread) cannot deadlock.
std::recursive_mutex& LogMutex() {
    static std::recursive_mutex m;
    return m;
}
LogSink& Sink() {
    static LogSink sink;
    return sink;
}

const char* LevelName(LogLevel level) {
    switch (level) {
        case LogLevel::Info: return "info";
        case LogLevel::Warning: return "warning";
        case LogLevel::Error: return "error";
    }
    return "info";
}

// Log lines carry the real time even when a test has installed a stepped device clock.
uint64_t RealUtcFileTime() {
    using namespace std::chrono;
    auto since = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<uint64_t>(since) * 10 + 116444736000000000ULL;
}

}  // namespace

void Log(LogLevel level, const std::string& raw) {
    // Lines often carry text from outside (a server's answer, a file or account name): one
    // line each, whatever that text holds.
    const std::string text = EscapeForLog(raw);
    std::lock_guard lock(LogMutex());
    if (Sink()) {
        Sink()(level, text);
        return;
    }
    std::string line = FormatIsoUtc(RealUtcFileTime(), false) + " kestrix: " + LevelName(level) + ": " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

LogSink SetLogSink(LogSink sink) {
    std::lock_guard lock(LogMutex());
    LogSink previous = std::move(Sink());
    Sink() = std::move(sink);
    return previous;
}

}  // namespace kestrix::platform
