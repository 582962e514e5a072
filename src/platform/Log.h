// Diagnostics for the person running the daemon: one line each to standard error with a
// UTC time stamp. The text is escaped (EscapeForLog) before it reaches the sink or standard
// error, so each call is one line whatever it holds. Thread-safe. Tests may capture the
// lines.
#pragma once
#include <functional>
#include <string>

namespace kestrix::platform {

enum class LogLevel { Info, Warning, Error };

void Log(LogLevel level, const std::string& text);
inline void LogInfo(const std::string& t) { Log(LogLevel::Info, t); }
inline void LogWarning(const std::string& t) { Log(LogLevel::Warning, t); }
inline void LogError(const std::string& t) { Log(LogLevel::Error, t); }
// Replaces the sink (nullptr restores standard error). Returns the previous one.
using LogSink = std::function<void(LogLevel, const std::string&)>;
LogSink SetLogSink(LogSink sink);

}  // namespace kestrix::platform
