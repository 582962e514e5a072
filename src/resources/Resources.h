// The plug-in's resources: the string table, the "Tray" menu (102), the state icons and the
// signal bitmaps. Icons and bitmaps are the project's own SVG images, which the shell
// serves to the browser by resource id.
// The ids and the string table are inline here; the images live in Resources.cpp.
// Pure data, any thread.
#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace kestrix {

// String table.
constexpr int kStringPluginName = 1;
constexpr int kStringTitle = 2;

// Menu 102 ("Tray").
constexpr int kTrayMenuId = 102;
struct MenuItem {
    uint32_t id;
    const char* text;
};
inline constexpr std::array<MenuItem, 12> kTrayMenu{{
    {40001, "&Enable"},
    {40002, "&Disable"},
    {40003, "E&xit"},
    {40004, "&Settings"},
    {40006, "Convert to GPX"},
    {40007, "Track2GRM"},
    {40008, "Satellite View"},
    {40010, "Enable tracker"},
    {40011, "Enable logger"},
    {40012, "Disable tracker"},
    {40013, "Disable logger"},
    {40014, "Show map"},
}};

// State icons (16 x 16), in the controller's order.
constexpr int kIconApp = 134;
constexpr int kIconDisconnected = 104;       // no service, session stopped
constexpr int kIconLoggerFix = 110;
constexpr int kIconLoggerNoFix = 115;
constexpr int kIconTrackerFix = 101;
constexpr int kIconTrackerNoFix = 114;
constexpr int kIconDisconnectedBusy = 136;   // no service yet, session still busy
constexpr int kIconBothFix = 111;
constexpr int kIconBothNoFix = 113;
inline constexpr std::array<int, 9> kStateIconIds{134, 104, 110, 115, 101, 114, 136, 111, 113};

// The item row's icons, in the order program, tracker on with a fix, on without one, off,
// busy, logger on with a fix, on without one, off, settings: one set for screens whose icons
// are below 32 pixels, one for 32 and more.
inline constexpr std::array<int, 9> kItemIconsSmall{156, 148, 150, 149, 151, 153, 154, 155, 158};
inline constexpr std::array<int, 9> kItemIconsLarge{111, 101, 114, 104, 136, 110, 115, 132, 134};

// Signal bitmaps, levels 0..5, with and without a fix.
inline constexpr std::array<int, 6> kSignalBitmapsFix{117, 120, 122, 124, 126, 128};
inline constexpr std::array<int, 6> kSignalBitmapsNoFix{119, 121, 123, 125, 127, 130};

// The string with this id; empty when there is none.
inline std::string LoadResourceString(int id) {
    switch (id) {
        case kStringPluginName: return "Kestrix plug-in";
        case kStringTitle: return "Kestrix";
        default: return {};
    }
}

// The SVG image of an icon or bitmap id; nullptr for an unknown id.
const char* ResourceSvg(int id);

// Makes these images what the drawing layer loads (platform::SetImageProvider): each with its
// natural size (icons 16 x 16, signal bitmaps 29 x 19) and white as its top-left colour (the
// images' backgrounds are transparent; a bitmap copied plainly stands on white, and a copy
// keyed on its top-left pixel shows the image alone). Call it once at start-up, before
// loading any image.
void InstallImageProvider();

}  // namespace kestrix
