#include "WebPages.h"

#include "platform/Text.h"

namespace kestrix::refserver {

namespace {

std::string File(std::string_view name) {
    const EmbeddedFile* f = FindEmbeddedFile(name);
    return f ? std::string(f->data) : std::string();
}

// The host and port of the tracking address as the tracker's Host and Port settings.
void AddressValues(const std::string& address, TemplateValues& values) {
    size_t colon = address.rfind(':');
    std::string host = colon == std::string::npos ? address : address.substr(0, colon);
    std::string port = colon == std::string::npos ? "" : address.substr(colon + 1);
    if (host == "0.0.0.0" || host == "[::]") host = "this machine's address";
    if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
    values.emplace_back("host", host);
    values.emplace_back("port", port);
}

std::string Page(const std::string& title, const std::string& heading, const std::string& body,
                 const PageFrame& frame) {
    return FillTemplate(File("layout.html"), {{"title", title},
                                              {"heading", heading},
                                              {"body", body},
                                              {"account", frame.account},
                                              {"token", frame.token}});
}

const std::string* Value(const TemplateValues& values, std::string_view name) {
    for (const auto& [key, value] : values)
        if (key == name) return &value;
    return nullptr;
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

std::string FillTemplate(std::string_view text, const TemplateValues& values) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find("{{", at);
        if (open == std::string_view::npos) {
            out.append(text.substr(at));
            break;
        }
        out.append(text.substr(at, open - at));
        const bool raw = text.compare(open, 3, "{{{") == 0;
        const size_t close = text.find(raw ? "}}}" : "}}", open);
        if (close == std::string_view::npos) {
            out.append(text.substr(open));
            break;
        }
        std::string_view tag = text.substr(open + (raw ? 3 : 2), close - open - (raw ? 3 : 2));
        at = close + (raw ? 3 : 2);
        if (!raw && !tag.empty() && (tag[0] == '#' || tag[0] == '^')) {
            const std::string name(tag.substr(1));
            const std::string end = "{{/" + name + "}}";
            const size_t stop = text.find(end, at);
            if (stop == std::string_view::npos) break;
            const std::string* v = Value(values, name);
            const bool shown = (v && !v->empty()) == (tag[0] == '#');
            if (shown) out += FillTemplate(text.substr(at, stop - at), values);
            at = stop + end.size();
            continue;
        }
        const std::string* v = Value(values, tag);
        if (v) out += raw ? *v : EscapeHtml(*v);
    }
    return out;
}

std::string HomePage(const std::string& trackingAddress, const std::string& token, bool registration) {
    TemplateValues values{{"registration", registration ? "1" : ""},
                          {"login_form", FillTemplate(File("login-form.html"), {{"token", token}})}};
    AddressValues(trackingAddress, values);
    return Page("", "Tracking server", FillTemplate(File("home.html"), values), {});
}

std::string LoginPage(const std::string& token, const std::string& login, const std::string& error) {
    const std::string form =
        FillTemplate(File("login-form.html"), {{"token", token}, {"login", login}, {"error", error}});
    return Page("Sign in", "Sign in", FillTemplate(File("login.html"), {{"login_form", form}}), {});
}

std::string RegisterPage(const std::string& token, const std::string& login, const std::string& error) {
    return Page("Create an account", "Create an account",
                FillTemplate(File("register.html"), {{"token", token}, {"login", login}, {"error", error}}), {});
}

std::string RegisteredPage(const std::string& trackingAddress, const std::string& login, uint32_t userId) {
    TemplateValues values{{"login", login}, {"id", std::to_string(userId)}};
    AddressValues(trackingAddress, values);
    return Page("Account created", "Account created", FillTemplate(File("registered.html"), values), {});
}

std::string MessagePage(const std::string& title, const std::string& message, const PageFrame& frame) {
    return Page(title, title, FillTemplate(File("message.html"), {{"message", message}}), frame);
}

std::string TracksPage(const PageFrame& frame, const std::string& target, bool admin, const std::string& tiles,
                       const std::string& attribution) {
    const std::string body = FillTemplate(File("tracks.html"), {{"user", target},
                                                                {"self", frame.account},
                                                                {"admin", admin ? "1" : ""},
                                                                {"tiles", tiles},
                                                                {"attribution", attribution}});
    return FillTemplate(File("layout.html"), {{"title", target},
                                              {"heading", target == frame.account ? "Your tracks" : "Tracks of " + target},
                                              {"body", body},
                                              {"account", frame.account},
                                              {"token", frame.token},
                                              {"app", "1"}});
}

namespace {
// text with every "{s}" (a tile server's subdomain) written as `with`. Built by appending:
// replace() in place makes GCC 12 at -O2 warn of an overlapping copy that cannot happen.
std::string WithSubdomain(const std::string& text, const char* with) {
    std::string out;
    for (size_t at = 0;;) {
        const size_t next = text.find("{s}", at);
        out.append(text, at, next == std::string::npos ? std::string::npos : next - at);
        if (next == std::string::npos) return out;
        out.append(with);
        at = next + 3;
    }
}
}  // namespace

bool ParseTiles(const std::string& text, std::string& tiles, std::string& error) {
    if (text == "off") {
        tiles.clear();
        return true;
    }
    const size_t scheme = text.rfind("https://", 0) == 0 ? 8 : text.rfind("http://", 0) == 0 ? 7 : 0;
    const size_t hostEnd = scheme ? text.find('/', scheme) : std::string::npos;
    bool clean = true;
    for (unsigned char c : text)
        if (c <= 0x20 || c == 0x7F || c == '"' || c == '\'' || c == '<' || c == '>' || c == '\\' || c == '`') clean = false;
    const std::string host = hostEnd == std::string::npos ? "" : WithSubdomain(text.substr(scheme, hostEnd - scheme), "s");
    if (!scheme || hostEnd == std::string::npos || host.empty() || host.find_first_of("{}") != std::string::npos ||
        !clean || text.find("{z}") == std::string::npos || text.find("{x}") == std::string::npos ||
        text.find("{y}") == std::string::npos) {
        error = "--tiles is off or an http(s) template with {z}, {x} and {y}, such as "
                "https://tile.openstreetmap.org/{z}/{x}/{y}.png";
        return false;
    }
    tiles = text;
    return true;
}

std::string TileOrigin(const std::string& tiles) {
    const size_t scheme = tiles.find("://");
    if (tiles.empty() || scheme == std::string::npos) return {};
    return WithSubdomain(tiles.substr(0, tiles.find('/', scheme + 3)), "*");
}

bool StaticFile(std::string_view name, std::string& body, std::string& contentType) {
    const bool js = name.ends_with(".js");
    if (!js && !name.ends_with(".css")) return false;
    const EmbeddedFile* f = FindEmbeddedFile(name);
    if (!f) return false;
    body = std::string(f->data);
    contentType = js ? "text/javascript; charset=utf-8" : "text/css; charset=utf-8";
    return true;
}

}  // namespace kestrix::refserver
