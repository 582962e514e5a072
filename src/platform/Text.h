// printf-style formatting into a std::string sized exactly (no fixed buffers).
#pragma once
#include <cstdarg>
#include <string>

namespace kestrix::platform {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

// Replaces '&', '<' and '>' with their entities, so text from outside (a server's message,
// a file name) cannot change the markup of an HTML page or XML document it goes into.
std::string EscapeMarkup(const std::string& text);

}  // namespace kestrix::platform
