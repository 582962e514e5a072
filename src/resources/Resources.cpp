#include "resources/Resources.h"

#include <map>
#include <string>

#include "platform/Gdi.h"

namespace kestrix {

namespace {

// One look per state, used alike by every family: green with a fix, amber without, grey
// when off (crossed out), blue while the session is still busy. Without a fix the position
// dot is hollow, so the state reads without telling the colours apart.
enum class Look { Fix, NoFix, Off, Busy };

const char* Colour(Look look) {
    switch (look) {
        case Look::Fix: return "#2e9e44";
        case Look::NoFix: return "#d99400";
        case Look::Off: return "#8a8a8a";
        case Look::Busy: return "#2f6fd0";
    }
    return "#000000";
}

std::string Svg(int width, int height, const std::string& title, const std::string& body) {
    const std::string w = std::to_string(width), h = std::to_string(height);
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w +
           " " + h + "\"><title>" + title + "</title>" + body + "</svg>";
}

std::string Dot(const char* cx, const char* cy, const char* r, Look look) {
    const std::string c = Colour(look);
    if (look == Look::NoFix) {
        return "<circle cx=\"" + std::string(cx) + "\" cy=\"" + cy + "\" r=\"" + r + "\" fill=\"#ffffff\" stroke=\"" +
               c + "\" stroke-width=\"1.4\"/>";
    }
    return "<circle cx=\"" + std::string(cx) + "\" cy=\"" + cy + "\" r=\"" + r + "\" fill=\"" + c + "\"/>";
}

std::string OffSlash(Look look) {
    return look == Look::Off
               ? "<path d=\"M2.5 13.5 13.5 2.5\" stroke=\"#ffffff\" stroke-width=\"3.2\" stroke-linecap=\"round\"/>"
                 "<path d=\"M2.5 13.5 13.5 2.5\" stroke=\"#444444\" stroke-width=\"1.6\" stroke-linecap=\"round\"/>"
               : "";
}

// The tracker sends positions live: a position dot sending waves both ways.
std::string Tracker(Look look, const std::string& title) {
    const std::string c = Colour(look);
    // While the session connects the outer waves are pale: not through yet.
    const std::string outer = look == Look::Busy ? "#a9c4ee" : c;
    const std::string inner = "M5.17 5.17a4 4 0 0 0 0 5.66M10.83 5.17a4 4 0 0 1 0 5.66";
    const std::string far = "M3.05 3.05a7 7 0 0 0 0 9.9M12.95 3.05a7 7 0 0 1 0 9.9";
    // A white halo keeps the waves readable on a dark or busy background.
    return Svg(16, 16, title,
               "<g fill=\"none\" stroke-linecap=\"round\"><path stroke=\"#ffffff\" stroke-width=\"3.2\" d=\"" + inner +
                   far + "\"/><circle cx=\"8\" cy=\"8\" r=\"2.4\" stroke=\"#ffffff\" stroke-width=\"1.6\"/>"
                   "<path stroke=\"" + c + "\" stroke-width=\"1.7\" d=\"" + inner + "\"/><path stroke=\"" + outer +
                   "\" stroke-width=\"1.7\" d=\"" + far + "\"/></g>" + Dot("8", "8", "2.2", look) + OffSlash(look));
}

// The logger writes the track to a log: a page with a track on it.
std::string Logger(Look look, const std::string& title) {
    const std::string c = Colour(look);
    return Svg(16, 16, title,
               "<path d=\"M2.5 1.5h7.5l3.5 3.5v9.5h-11z\" fill=\"#ffffff\" stroke=\"#444444\"/>"
               "<path d=\"M10 1.5v3.5h3.5\" fill=\"none\" stroke=\"#444444\"/>"
               "<path d=\"M4.6 12.4 7 9l2 1.8 1.8-3.8\" fill=\"none\" stroke=\"" +
                   c + "\" stroke-width=\"2\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>" +
                   Dot("10.8", "7", "1.8", look) + OffSlash(look));
}

// Both services, and the program itself: a map pin.
std::string Pin(const char* colour, const std::string& glyph, const std::string& title) {
    return Svg(16, 16, title,
               "<path d=\"M8 0.8a5.2 5.2 0 0 0-5.2 5.2c0 3.6 5.2 9.2 5.2 9.2s5.2-5.6 5.2-9.2A5.2 5.2 0 0 0 8 0.8z\" "
               "fill=\"" +
                   std::string(colour) + "\" stroke=\"#333333\" stroke-width=\"0.6\"/>" + glyph);
}

const char* const kDiamond = "<path d=\"M8 3.2 10.8 6 8 8.8 5.2 6z\" fill=\"#ffffff\"/>";
const char* const kRing = "<circle cx=\"8\" cy=\"6\" r=\"2.2\" fill=\"#ffffff\"/>";

std::string Gear(const std::string& title) {
    std::string teeth;
    for (int angle = 0; angle < 360; angle += 45) {
        teeth += "<rect x=\"7\" y=\"0.8\" width=\"2\" height=\"3\" fill=\"#555555\" transform=\"rotate(" +
                 std::to_string(angle) + " 8 8)\"/>";
    }
    return Svg(16, 16, title,
               teeth + "<circle cx=\"8\" cy=\"8\" r=\"5\" fill=\"#555555\"/><circle cx=\"8\" cy=\"8\" r=\"2\" "
                       "fill=\"#ffffff\"/>");
}

// Five bars, the shortest first, as many lit as the level; without a fix a red cross sits in
// the empty corner above the short bars.
std::string Gauge(int level, bool fix) {
    std::string bars;
    for (int bar = 0; bar < 5; ++bar) {
        const int height = 3 * (bar + 1);
        bars += "<rect x=\"" + std::to_string(2 + 5 * bar) + "\" y=\"" + std::to_string(18 - height) +
                "\" width=\"4\" height=\"" + std::to_string(height) + "\" fill=\"" +
                (bar < level ? Colour(fix ? Look::Fix : Look::NoFix) : "#d0d0d0") + "\"/>";
    }
    if (!fix) {
        bars += "<path d=\"M2.5 2.5l5 5m0-5-5 5\" stroke=\"#c0392b\" stroke-width=\"1.6\" stroke-linecap=\"round\"/>";
    }
    return Svg(29, 19, "Signal " + std::to_string(level) + " of 5" + (fix ? "" : ", no fix"), bars);
}

struct Image {
    std::string svg;
    platform::ImageResource resource;
};

const std::map<int, Image>& Images() {
    static const std::map<int, Image> images = [] {
        std::map<int, std::string> svgs{
            {101, Tracker(Look::Fix, "Tracker with fix")},
            {114, Tracker(Look::NoFix, "Tracker without fix")},
            {104, Tracker(Look::Off, "Tracker off")},
            {136, Tracker(Look::Busy, "Tracker connecting")},
            {110, Logger(Look::Fix, "Logger with fix")},
            {115, Logger(Look::NoFix, "Logger without fix")},
            {132, Logger(Look::Off, "Logger off")},
            {111, Pin(Colour(Look::Fix), kDiamond, "Tracker and logger with fix")},
            {113, Pin(Colour(Look::NoFix), kDiamond, "Tracker and logger without fix")},
            {134, Gear("Settings")},
            {156, Pin("#1b7f8c", kRing, "Kestrix")},
        };
        // The item row's images for small screens are the same pictures.
        for (auto [small, large] : {std::pair{148, 101}, {150, 114}, {149, 104}, {151, 136}, {153, 110}, {154, 115},
                                    {155, 132}, {158, 134}}) {
            svgs[small] = svgs[large];
        }
        for (int level = 0; level < 6; ++level) {
            svgs[kSignalBitmapsFix[static_cast<size_t>(level)]] = Gauge(level, true);
            svgs[kSignalBitmapsNoFix[static_cast<size_t>(level)]] = Gauge(level, false);
        }
        // Each image points into its own string, which stays where the map node keeps it.
        std::map<int, Image> out;
        for (auto& [id, svg] : svgs) {
            Image& image = out[id];
            image.svg = std::move(svg);
            const bool gauge = image.svg.find("width=\"29\"") != std::string::npos;
            // Every image leaves its background transparent; as a bitmap it stands on white.
            image.resource = {image.svg, gauge ? 29 : 16, gauge ? 19 : 16, platform::Rgb(255, 255, 255)};
        }
        return out;
    }();
    return images;
}

const platform::ImageResource* ProvideImage(int id) {
    const auto& images = Images();
    auto it = images.find(id);
    return it == images.end() ? nullptr : &it->second.resource;
}

}  // namespace

const char* ResourceSvg(int id) {
    const auto& images = Images();
    auto it = images.find(id);
    return it == images.end() ? nullptr : it->second.svg.c_str();
}

void InstallImageProvider() { platform::SetImageProvider(ProvideImage); }

}  // namespace kestrix
