// printf-style formatting into a std::string sized exactly (no fixed buffers).
#pragma once
#include <cstdarg>
#include <string>

namespace kestrix::platform {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

}  // namespace kestrix::platform
