#include "shell/PageAssets.h"

#include "base/EmbeddedFiles.h"
#include "platform/Text.h"
#include "shell/TodayScreen.h"

namespace kestrix::shell {

namespace {

void ReplaceAll(std::string& text, std::string_view mark, std::string_view with) {
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + with.size())) {
        text.replace(at, mark.size(), with);
    }
}

// Text for a quoted attribute value.
std::string AttributeText(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c; break;
        }
    }
    return out;
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

MapTiles DefaultMapTiles() {
    return {"https://tile.openstreetmap.org/{z}/{x}/{y}.png",
            "&copy; <a href=\"https://www.openstreetmap.org/copyright\">OpenStreetMap</a> contributors"};
}

bool ParseMapTiles(const std::string& text, MapTiles& out, std::string& error) {
    if (text == "off") {
        out = {};
        return true;
    }
    const size_t scheme = text.rfind("https://", 0) == 0 ? 8 : text.rfind("http://", 0) == 0 ? 7 : 0;
    if (scheme == 0 || text.size() == scheme || text[scheme] == '/') {
        error = "\"" + text + "\" is not an http:// or https:// address of tiles (or off)";
        return false;
    }
    for (unsigned char c : text) {
        if (c <= ' ' || c >= 0x7f || c == '"' || c == '\'' || c == '<' || c == '>' || c == '\\') {
            error = "\"" + text + "\": a tile address has no blanks, quotes, backslashes or angle brackets";
            return false;
        }
    }
    for (const char* field : {"{z}", "{x}", "{y}"}) {
        if (text.find(field) == std::string::npos) {
            error = "\"" + text + "\" has no " + field + " (expected a template such as https://tile.example.org/{z}/{x}/{y}.png)";
            return false;
        }
    }
    out.url = text;
    out.attribution = "Tiles: " + platform::EscapeMarkup(text.substr(0, text.find('/', scheme)));
    return true;
}

std::string TileOrigin(const MapTiles& tiles) {
    if (tiles.url.empty()) return {};
    const size_t scheme = tiles.url.find("://") + 3;
    std::string origin = tiles.url.substr(0, tiles.url.find('/', scheme));
    // Leaflet fills {s} with a subdomain: the page may load from any of them.
    ReplaceAll(origin, "{s}", "*");
    return origin;
}

std::string PageHtml(std::string_view token, const MapTiles& tiles) {
    const EmbeddedFile* f = FindEmbeddedFile("index.html");
    std::string page = f ? std::string(f->data) : std::string();
    ReplaceAll(page, "@TOKEN@", token);
    // The attribution is HTML, which Leaflet shows as it stands.
    ReplaceAll(page, "@TILES@", tiles.url.empty() ? std::string("off") : AttributeText(tiles.url));
    ReplaceAll(page, "@TILES_ATTRIBUTION@", AttributeText(tiles.attribution));
    return page;
}

bool PageFile(std::string_view name, std::string& body, std::string& contentType) {
    if (name == "index.html") return false;  // only as the page, with its token
    const EmbeddedFile* f = FindEmbeddedFile(name);
    if (!f) return false;
    body = std::string(f->data);
    if (EndsWith(name, ".js")) {
        contentType = "text/javascript; charset=utf-8";
    } else if (EndsWith(name, ".css")) {
        contentType = "text/css; charset=utf-8";
        // The item row's background is the home screen's own colour.
        ReplaceAll(body, "@BACKGROUND@", kTodayBackgroundCss);
    } else {
        return false;
    }
    return true;
}

}  // namespace kestrix::shell
