#include "platform/LastError.h"

#include <cstring>

namespace kestrix::platform {

namespace {
thread_local int tLastError = 0;
}

int GetLastError() { return tLastError; }
void SetLastError(int code) { tLastError = code; }

std::string ErrorText(int code) {
    char buffer[256];
    // The GNU strerror_r: the text may be a static string rather than the buffer.
    return ::strerror_r(code, buffer, sizeof buffer);
}

}  // namespace kestrix::platform
