// Placeholder until the drawing layer keeps window paintings.
#include "platform/linux/WindowInternal.h"

namespace kestrix::platform::internal {
void ForgetWindowPainting(WindowHandle) {}
}  // namespace kestrix::platform::internal
