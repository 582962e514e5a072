// WebPages: the HTML of the reference server's web pages and the checks of its
// registration form, kept apart from the HTTP server (WebFrontEnd) so they need none of
// it. Every function is pure and may be called from any thread.
//
// The pages are templates in web/ (built into the program); every text filled into them
// goes through EscapeHtml, in element text and in quoted attribute values alike, unless
// it is another filled template. They are UTF-8 and load only /static/server.css.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/EmbeddedFiles.h"
#include "Store.h"

namespace kestrix::refserver {

// The tracker reads its login and password from edits of 127 characters.
constexpr size_t kMaxLoginChars = 127;
constexpr size_t kMaxPasswordChars = 127;

// &, <, >, " and ' as entities.
std::string EscapeHtml(const std::string& text);

// Why the registration form's fields cannot make an account (a sentence for the person
// who typed them), or empty when they can. A login must be UTF-8 text of 1 to 127
// characters without control characters, / or \ (the tracker names its log file after
// it) and without a space at either end; the password UTF-8 of 1 to 127 characters
// without control characters, typed the same twice. Whether the name is free is for the
// store to say. kestrix-server user add applies the same rule (the password given once).
std::string CheckRegistration(const std::string& login, const std::string& password, const std::string& again);

// Values for FillTemplate, by name.
using TemplateValues = std::vector<std::pair<std::string, std::string>>;
// A template of web/: {{name}} becomes the value escaped, {{{name}}} the value as it is
// (another filled template), {{#name}}...{{/name}} stays only when the value is not empty
// and {{^name}}...{{/name}} only when it is. A name without a value is empty.
std::string FillTemplate(std::string_view text, const TemplateValues& values);

// Who a page is for: the signed-in account's name (empty for a visitor) and the token its
// sign-out form carries.
struct PageFrame {
    std::string account;
    std::string token;
};

// "/" for a visitor: what the server is, where trackers reach it ("ADDR:PORT"), the
// sign-in form and, when registration is open, the way to the registration form. Never
// the accounts.
std::string HomePage(const std::string& trackingAddress, const std::string& token, bool registration);
// "/login": the form with the login typed before and why it was refused.
std::string LoginPage(const std::string& token, const std::string& login, const std::string& error);
// "/mobile/register": the form, with the token in a hidden field, the login typed before
// and the reason it was refused (both empty on first showing).
std::string RegisterPage(const std::string& token, const std::string& login, const std::string& error);
// The answer to an accepted form: the new user id and how to set up the tracker.
std::string RegisteredPage(const std::string& trackingAddress, const std::string& login, uint32_t userId);
// A page that only says something (a refused request, an unknown page).
std::string MessagePage(const std::string& title, const std::string& message, const PageFrame& frame = {});
// "/tracks": the map of the account named target for the signed-in account of frame (an
// administrator's chooses among users), with the map's tile template (empty: none) and
// its attribution (HTML, as Leaflet shows it).
std::string TracksPage(const PageFrame& frame, const std::string& target, bool admin, const std::string& tiles,
                       const std::string& attribution);
// "off" (empty template) or an http(s) tile template holding {z}, {x} and {y}, with no
// quote, blank, backslash or angle bracket, and no placeholder in its host but {s}. False
// with the reason.
bool ParseTiles(const std::string& text, std::string& tiles, std::string& error);
// The origin the pages may load tiles from ("https://*.tile.example.org"); empty for none.
std::string TileOrigin(const std::string& tiles);
// A script or style sheet of web/ (or Leaflet's) served under /static/: its bytes and type.
bool StaticFile(std::string_view name, std::string& body, std::string& contentType);

// The files of web/ and Leaflet's, built into the program (generated at build time).
const EmbeddedFile* FindEmbeddedFile(std::string_view name);

}  // namespace kestrix::refserver
