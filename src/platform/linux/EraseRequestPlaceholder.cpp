// Placeholder until the window code keeps invalidations with their erase flag.
#include "platform/linux/WindowInternal.h"

namespace kestrix::platform::internal {
bool TakeEraseRequest(WindowHandle) { return false; }
}  // namespace kestrix::platform::internal
