// Small helpers the settings pages share: the settings they edit (through the controller,
// none without one), the start of a page, and the pieces of the messages they handle.
// Threads: UI thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Types.h"
#include "settings/TrackerSettings.h"

namespace kestrix::ui::detail {

// The controller's settings, nullptr when there is no controller.
TrackerSettings* ControllerSettings();
// A page's WM_INITDIALOG: full screen with a Done button.
void InitPage(platform::WindowHandle page);
// The notification code of a WM_NOTIFY, 0 for none.
uint32_t NotifyCode(platform::LParam lp);
// Counts the characters (code points) of UTF-8 text.
size_t CharCount(const std::string& text);

}  // namespace kestrix::ui::detail
