// The browser page of the shell: one HTML document, its script and its style sheet. The
// page holds no state of its own beyond what a person is typing: it fetches the
// notification, the open message boxes and the open dialogs from the HTTP API whenever
// the event stream says something changed, and draws them (dialogs above the
// notification, message boxes above the dialogs). Every tap, keystroke or drag becomes a
// POST carrying the per-process token that the document's <meta name="kestrix-token">
// holds. Pure data; callable from any thread.
#pragma once
#include <string>
#include <string_view>

namespace kestrix::shell {

// The document with the token filled in (the token must be plain hex; it is not escaped).
std::string PageHtml(std::string_view token);
std::string_view PageScript();
std::string_view PageStyle();

// The satellite view's part of the script and the style sheet (SatelliteViewAssets.cpp),
// which PageScript and PageStyle end with: the layout of the GPS status window and the
// list of satellites under its sky plot.
std::string_view SatelliteViewScript();
std::string_view SatelliteViewStyle();

}  // namespace kestrix::shell
