// The browser page of the shell, as files (src/shell/web/, built into the program with
// Leaflet): the document, its scripts and its style sheets. The page holds no state of its
// own beyond what a person is typing: it fetches the notification, the message boxes, the
// dialogs, the item row, the position and the track from the HTTP API whenever the event
// stream says something changed, and draws them. Every tap, keystroke or drag becomes a
// POST carrying the per-process token that the document's <meta name="kestrix-token">
// holds; the map's tile source is in <meta name="kestrix-tiles">.
// Pure data; callable from any thread.
#pragma once
#include <string>
#include <string_view>

namespace kestrix::shell {

// Where the map's tiles come from: an XYZ template ("https://.../{z}/{x}/{y}.png"), or
// none (a plain background).
struct MapTiles {
    std::string url;  // empty: no tiles
    std::string attribution;
};

// OpenStreetMap's standard tiles, with their attribution.
MapTiles DefaultMapTiles();
// "off", or an http(s) template holding {z}, {x} and {y} (and at most {s}, {r} besides),
// without quotes, blanks or angle brackets. False with the reason.
bool ParseMapTiles(const std::string& text, MapTiles& out, std::string& error);
// The origin a page must be allowed to load tiles from ("https://*.tile.example.org"),
// empty for no tiles.
std::string TileOrigin(const MapTiles& tiles);

// The document with the token (plain hex) and the tile source filled in.
std::string PageHtml(std::string_view token, const MapTiles& tiles);
// The page's file served at /name ("app.js", "map.css", "leaflet.js"): its bytes and content
// type. False for any other name.
bool PageFile(std::string_view name, std::string& body, std::string& contentType);

}  // namespace kestrix::shell
