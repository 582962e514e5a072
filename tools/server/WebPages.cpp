#include "WebPages.h"

#include "platform/Text.h"

namespace kestrix::refserver {

namespace {

const char* const kServerName = "Kestrix reference tracking server";

const char* const kStyle = R"(
:root { --ink: #1c2733; --muted: #5a6675; --line: #dce2e9; --bg: #f3f5f8; --accent: #0a6b4d; --link: #0b5aa8; }
* { box-sizing: border-box; }
body { margin: 0; background: var(--bg); color: var(--ink);
  font: 16px/1.5 system-ui, -apple-system, "Segoe UI", Roboto, "Noto Sans", "DejaVu Sans", sans-serif; }
header { background: #17324d; color: #fff; padding: 1.1rem 1rem 1.3rem; }
.inner { max-width: 44rem; margin: 0 auto; }
.brand { margin: 0; font-size: .78rem; font-weight: 600; letter-spacing: .12em; text-transform: uppercase; color: #a9cbec; }
.brand a { color: inherit; text-decoration: none; }
h1 { margin: .15rem 0 0; font-size: 1.6rem; line-height: 1.25; }
main { max-width: 46rem; margin: 0 auto; padding: 1rem; }
.lead { margin: .25rem 0 1rem; font-size: 1.05rem; }
.card { background: #fff; border: 1px solid var(--line); border-radius: 10px; padding: 1rem 1.2rem; margin: 0 0 1rem; }
.narrow { max-width: 28rem; }
h2 { margin: 0 0 .5rem; font-size: 1.15rem; }
p { margin: .5rem 0; }
a { color: var(--link); }
code, dd { font-family: ui-monospace, "SF Mono", Menlo, Consolas, "DejaVu Sans Mono", monospace; }
code { background: var(--bg); border-radius: 4px; padding: 0 .25em; overflow-wrap: anywhere; }
dl.address { display: flex; flex-wrap: wrap; gap: .6rem; margin: .75rem 0; }
dl.address div { background: var(--bg); border-radius: 8px; padding: .35rem .85rem; }
dt { font-size: .72rem; font-weight: 600; letter-spacing: .06em; text-transform: uppercase; color: var(--muted); }
dd { margin: 0; font-size: 1.1rem; font-weight: 600; }
.button, button { display: inline-block; margin: .5rem 0 .25rem; padding: .65rem 1.2rem; border: 0; border-radius: 8px;
  background: var(--accent); color: #fff; font: inherit; font-weight: 600; text-decoration: none; cursor: pointer; }
.button:hover, button:hover { background: #07553d; }
.scroll { overflow-x: auto; }
table { width: 100%; border-collapse: collapse; font-size: .95rem; }
th { padding: .4rem .5rem; border-bottom: 2px solid var(--line); text-align: left; font-size: .72rem; font-weight: 600;
  letter-spacing: .05em; text-transform: uppercase; color: var(--muted); }
td { padding: .55rem .5rem; border-bottom: 1px solid var(--line); vertical-align: top; }
tr:last-child td { border-bottom: 0; }
.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td.name { font-weight: 600; overflow-wrap: anywhere; }
time span { white-space: nowrap; }
.muted { color: var(--muted); }
label { display: block; margin: .9rem 0 .25rem; font-weight: 600; }
input { width: 100%; padding: .6rem .7rem; border: 1px solid #b3bdc8; border-radius: 8px; background: #fff; font: inherit; }
input:focus { outline: 3px solid #a9cbec; border-color: var(--link); }
form button { width: 100%; margin-top: 1.3rem; }
.error { margin: 0 0 .5rem; padding: .6rem .8rem; border: 1px solid #f0bcbc; border-radius: 8px; background: #fdeded;
  color: #981b1b; font-weight: 600; }
.done { border-left: 5px solid var(--accent); }
ol { padding-left: 1.3rem; }
li { margin: .35rem 0; }
footer { max-width: 46rem; margin: 0 auto; padding: 0 1rem 2rem; font-size: .85rem; color: var(--muted); }
@media (max-width: 34rem) {
  h1 { font-size: 1.35rem; }
  .card { padding: .9rem; }
  /* On a phone each account is a block of labelled lines instead of a table row. */
  thead { display: none; }
  table, tbody, tr, td { display: block; }
  tr { padding: .5rem 0; border-bottom: 1px solid var(--line); }
  tr:last-child { border-bottom: 0; }
  td { display: flex; justify-content: space-between; gap: 1rem; padding: .1rem 0; border: 0; text-align: right; }
  td::before { content: attr(data-label); color: var(--muted); text-align: left; }
  td.name { display: block; font-size: 1.05rem; text-align: left; }
  td.name::before { content: none; }
}
)";

std::string Page(const std::string& title, const std::string& heading, const std::string& body) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    html += title.empty() ? kServerName : EscapeHtml(title) + " \xC2\xB7 " + kServerName;
    html += "</title>\n<style>";
    html += kStyle;
    html += "</style>\n</head>\n<body>\n<header><div class=\"inner\"><p class=\"brand\"><a href=\"/\">Kestrix</a></p><h1>";
    html += heading;
    html += "</h1></div></header>\n<main>\n";
    html += body;
    html += "</main>\n<footer>kestrix-server, the tracking server that ships with Kestrix</footer>\n</body>\n</html>\n";
    return html;
}

// "2026-12-06T10:12:49.123Z" as a <time> reading "2026-12-06 10:12:49", which may
// break between the date and the time; anything else as it is.
std::string TimeHtml(const std::string& iso) {
    std::string shown = EscapeHtml(iso);
    if (iso.size() >= 19 && iso[10] == 'T')
        shown = "<span>" + EscapeHtml(iso.substr(0, 10)) + "</span> <span>" + EscapeHtml(iso.substr(11, 8)) + "</span>";
    return "<time datetime=\"" + EscapeHtml(iso) + "\">" + shown + "</time>";
}

std::string Grouped(int64_t n) {
    std::string digits = std::to_string(n);
    std::string out;
    size_t first = digits[0] == '-' ? 1 : 0;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > first && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// The host and port of the tracking address as the tracker's Host and Port settings.
std::string AddressList(const std::string& address) {
    size_t colon = address.rfind(':');
    std::string host = colon == std::string::npos ? address : address.substr(0, colon);
    std::string port = colon == std::string::npos ? "" : address.substr(colon + 1);
    if (host == "0.0.0.0") host = "this machine's address";
    return "<dl class=\"address\"><div><dt>Host</dt><dd>" + EscapeHtml(host) + "</dd></div><div><dt>Port</dt><dd>" +
           EscapeHtml(port) + "</dd></div></dl>\n";
}

// Strict UTF-8 (no overlong forms, surrogates or values past U+10FFFF); false when the
// text is not UTF-8.
bool DecodeUtf8(const std::string& text, std::u32string& out) {
    out.clear();
    for (size_t i = 0; i < text.size();) {
        auto b = static_cast<unsigned char>(text[i]);
        size_t extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 9;
        if (extra > 3 || i + extra >= text.size()) return false;
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            c = (c << 6) | (next & 0x3F);
        }
        static const char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (c < kLeast[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        out += c;
        i += extra + 1;
    }
    return true;
}

// The first fault of a login or password field, or empty.
std::string FieldFault(const std::string& text, const char* field, size_t maxChars, std::u32string& chars) {
    if (text.empty()) return std::string("Enter a ") + field + ".";
    if (!DecodeUtf8(text, chars)) return std::string("The ") + field + " is not valid UTF-8 text.";
    if (chars.size() > maxChars)
        return std::string("The ") + field + " is longer than " + std::to_string(maxChars) + " characters.";
    for (char32_t c : chars)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
            return std::string("The ") + field + " cannot contain control characters.";
    return {};
}

}  // namespace

std::string EscapeHtml(const std::string& text) {
    std::string out;
    for (char c : platform::EscapeMarkup(text)) {
        if (c == '"')
            out += "&quot;";
        else if (c == '\'')
            out += "&#39;";
        else
            out += c;
    }
    return out;
}

std::string CheckRegistration(const std::string& login, const std::string& password, const std::string& again) {
    std::u32string chars;
    std::string fault = FieldFault(login, "login", kMaxLoginChars, chars);
    if (!fault.empty()) return fault;
    for (char32_t c : chars)
        if (c == '/' || c == '\\') return "The login cannot contain / or \\: the tracker names its log file after it.";
    if (chars.front() == ' ' || chars.back() == ' ') return "The login cannot begin or end with a space.";
    fault = FieldFault(password, "password", kMaxPasswordChars, chars);
    if (!fault.empty()) return fault;
    if (password != again) return "The two passwords are not the same.";
    return {};
}

std::string HomePage(const std::string& trackingAddress, const std::vector<UserSummary>& users) {
    std::string body =
        "<p class=\"lead\">This is a Kestrix reference tracking server. Kestrix trackers send it their live "
        "positions and their saved tracks, and it keeps every point it receives.</p>\n"
        "<section class=\"card\">\n<h2>Connect a tracker</h2>\n"
        "<p>Trackers reach this server at this address, which goes into the tracker's Host and Port settings:</p>\n" +
        AddressList(trackingAddress) +
        "<p>Each tracker logs in with an account of this server.</p>\n"
        "<a class=\"button\" href=\"/mobile/register\">Create an account</a>\n</section>\n"
        "<section class=\"card\">\n<h2>Users</h2>\n";
    if (users.empty()) {
        body += "<p class=\"muted\">No accounts yet. <a href=\"/mobile/register\">Create the first one.</a></p>\n";
    } else {
        body +=
            "<div class=\"scroll\"><table>\n<thead><tr><th>Login</th><th class=\"num\">User id</th>"
            "<th class=\"num\">Live points</th><th class=\"num\">Track points</th><th>Last point (UTC)</th></tr>"
            "</thead>\n<tbody>\n";
        for (const UserSummary& u : users) {
            body += "<tr><td class=\"name\">" + EscapeHtml(u.name) + "</td><td class=\"num\" data-label=\"User id\">" +
                    std::to_string(u.id) + "</td><td class=\"num\" data-label=\"Live points\">" +
                    Grouped(u.livePoints) + "</td><td class=\"num\" data-label=\"Track points\">" +
                    Grouped(u.trackPoints) + "</td><td data-label=\"Last point (UTC)\">" +
                    (u.lastReceived.empty() ? "<span class=\"muted\">none yet</span>" : TimeHtml(u.lastReceived)) +
                    "</td></tr>\n";
        }
        body += "</tbody>\n</table></div>\n";
    }
    body += "</section>\n";
    return Page("", "Reference tracking server", body);
}

std::string RegisterPage(const std::string& token, const std::string& login, const std::string& error) {
    std::string body = "<section class=\"card narrow\">\n";
    if (!error.empty()) body += "<p class=\"error\" role=\"alert\">" + EscapeHtml(error) + "</p>\n";
    body +=
        "<p>An account lets a Kestrix tracker log in to this server and send it positions.</p>\n"
        "<form method=\"post\" action=\"/mobile/register\">\n"
        "<input type=\"hidden\" name=\"token\" value=\"" +
        EscapeHtml(token) +
        "\">\n"
        "<label for=\"login\">Login</label>\n"
        "<input id=\"login\" name=\"login\" type=\"text\" value=\"" +
        EscapeHtml(login) + "\" maxlength=\"" + std::to_string(kMaxLoginChars) +
        "\" autocomplete=\"username\" autocapitalize=\"none\" spellcheck=\"false\" required autofocus>\n"
        "<label for=\"password\">Password</label>\n"
        "<input id=\"password\" name=\"password\" type=\"password\" maxlength=\"" +
        std::to_string(kMaxPasswordChars) +
        "\" autocomplete=\"new-password\" required>\n"
        "<label for=\"again\">Password again</label>\n"
        "<input id=\"again\" name=\"again\" type=\"password\" maxlength=\"" +
        std::to_string(kMaxPasswordChars) +
        "\" autocomplete=\"new-password\" required>\n"
        "<button type=\"submit\">Create account</button>\n"
        "</form>\n"
        "<p class=\"muted\">The tracker logs in with the same login and password, set on the Account page of its "
        "settings.</p>\n</section>\n"
        "<p><a href=\"/\">Back to the server's home page</a></p>\n";
    return Page("Create an account", "Create an account", body);
}

std::string RegisteredPage(const std::string& trackingAddress, const std::string& login, uint32_t userId) {
    std::string name = EscapeHtml(login);
    std::string body = "<section class=\"card done\">\n<p>The account <strong>" + name +
                       "</strong> is ready.</p>\n<dl class=\"address\"><div><dt>User id</dt><dd>" +
                       std::to_string(userId) + "</dd></div></dl>\n</section>\n"
                       "<section class=\"card\">\n<h2>What to do next</h2>\n<ol>\n"
                       "<li>Open the tracker's settings and go to the Account page.</li>\n"
                       "<li>Set Login to <code>" +
                       name +
                       "</code> and Password to the password you have just chosen, then choose Done.</li>\n"
                       "<li>Check that the tracker's Host and Port settings name this server:</li>\n</ol>\n" +
                       AddressList(trackingAddress) +
                       "<p>Once the tracker runs as a tracker, its points appear on <a href=\"/\">the server's home "
                       "page</a>.</p>\n</section>\n";
    return Page("Account created", "Account created", body);
}

std::string MessagePage(const std::string& title, const std::string& message) {
    return Page(title, EscapeHtml(title),
                "<section class=\"card\">\n<p>" + EscapeHtml(message) +
                    "</p>\n<p><a href=\"/\">Go to the server's home page</a></p>\n</section>\n");
}

}  // namespace kestrix::refserver
