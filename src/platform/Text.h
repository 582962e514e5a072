// printf-style formatting into a std::string sized exactly (no fixed buffers), and the
// escaping of text from outside for the places it goes into. Pure, any thread.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <string>

namespace kestrix::platform {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

// Replaces '&', '<' and '>' with their entities, so text from outside (a server's message,
// a file name) cannot change the markup of an HTML page or XML document it goes into.
std::string EscapeMarkup(const std::string& text);

// The byte offset of the first byte of text that is not printable UTF-8: a byte outside a
// well-formed UTF-8 sequence, or the start of a control character (U+0000 to U+001F,
// U+007F, U+0080 to U+009F). std::string::npos when every character is printable.
size_t FindUnprintable(const std::string& text);

// Text made safe for one log line: each byte that is not part of a printable character
// becomes "\xNN" (lower-case hex), so a line break or a terminal's escape
// sequence in a server's answer or a file name cannot forge or hide a line.
std::string EscapeForLog(const std::string& text);

}  // namespace kestrix::platform
