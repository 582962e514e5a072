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
// A page's answer to the sheet's WM_NOTIFY (lp): fill when the page is first shown
// (PSN_SETACTIVE) and when the sheet is cancelled (PSN_RESET), store on Done (PSN_APPLY); a
// page shown again keeps the person's changes; leaving the page
// (PSN_KILLACTIVE) is allowed unless mayLeave says no. Null steps do nothing.
using PageStep = void (*)(platform::WindowHandle page);
platform::LResult AnswerSheet(platform::WindowHandle page, platform::LParam lp, PageStep fill, PageStep apply,
                              bool (*mayLeave)(platform::WindowHandle page) = nullptr);
// Counts the characters (code points) of UTF-8 text.
size_t CharCount(const std::string& text);

}  // namespace kestrix::ui::detail
