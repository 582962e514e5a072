// The browser page of the shell: one HTML document, its script and its style sheet. The
// page holds no state of its own: it fetches the notification and the open message boxes
// from the HTTP API whenever the event stream says something changed, and every tap
// becomes a POST carrying the per-process token that the document's
// <meta name="kestrix-token"> holds. Pure data; callable from any thread.
#pragma once
#include <string>
#include <string_view>

namespace kestrix::shell {

// The document with the token filled in (the token must be plain hex; it is not escaped).
std::string PageHtml(std::string_view token);
std::string_view PageScript();
std::string_view PageStyle();

}  // namespace kestrix::shell
