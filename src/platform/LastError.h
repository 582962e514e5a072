// The calling thread's last system error (errno values from system calls, or the codes
// of Registry.h), as GetLastError gives it.
#pragma once

namespace kestrix::platform {

int GetLastError();
void SetLastError(int code);

}  // namespace kestrix::platform
