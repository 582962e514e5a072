#include "platform/LastError.h"

namespace kestrix::platform {

namespace {
thread_local int tLastError = 0;
}

int GetLastError() { return tLastError; }
void SetLastError(int code) { tLastError = code; }

}  // namespace kestrix::platform
