// The page's home-screen strip: the item row as the plug-in last painted it (GET
// /api/today), scaled to the strip's width with its aspect kept. A click sends its x in item
// pixels (POST /api/today/tap); while the row has the focus the arrow keys are the item's
// navigation, Enter its action, and the row getting the focus from the keyboard its
// selection, with the key that moved it there (Down from above, Up from below). The script
// makes its own section before <main>; it posts through the page's helper and refreshes on
// the page's change events (one event stream per tab). PageAssets appends these to the
// page's script and style, after its own.
// Pure data; callable from any thread.
#pragma once
#include <string_view>

namespace kestrix::shell {

std::string_view TodayRowScript();
std::string_view TodayRowStyle();

}  // namespace kestrix::shell
