// The calling thread's last system error (errno values from system calls, or the codes
// of Registry.h), as GetLastError gives it.
#pragma once
#include <string>

namespace kestrix::platform {

int GetLastError();
void SetLastError(int code);
// What a person reads for an errno value ("No space left on device").
std::string ErrorText(int code);

}  // namespace kestrix::platform
