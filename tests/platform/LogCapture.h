// Collects the log's lines while installed, from any thread.
#pragma once
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Log.h"

namespace kestrix::test {

struct LogCapture {
    std::mutex mutex;
    std::vector<std::pair<platform::LogLevel, std::string>> lines;
    platform::LogSink previous;
    LogCapture() {
        previous = platform::SetLogSink([this](platform::LogLevel l, const std::string& t) {
            std::lock_guard lock(mutex);
            lines.emplace_back(l, t);
        });
    }
    ~LogCapture() { platform::SetLogSink(previous); }
    // The texts of the lines of one level so far.
    std::vector<std::string> Texts(platform::LogLevel level) {
        std::lock_guard lock(mutex);
        std::vector<std::string> out;
        for (const auto& [l, t] : lines)
            if (l == level) out.push_back(t);
        return out;
    }
};

}  // namespace kestrix::test
