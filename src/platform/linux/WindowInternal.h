// The seams between the window code (MessageLoop.cpp and the window, control and dialog
// files) and the drawing layer (the Gdi files). Internal to src/platform/linux.
// Threads: UI thread.
#pragma once
#include "platform/Types.h"

namespace kestrix::platform::internal {

// Window code: takes the window's pending invalidation (clears it) and says whether it asked
// for erasing. BeginPaint calls it.
bool TakeEraseRequest(WindowHandle window);

// Drawing layer: the window is gone (called after its WM_DESTROY); forget its painting.
void ForgetWindowPainting(WindowHandle window);

}  // namespace kestrix::platform::internal
