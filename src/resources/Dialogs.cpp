#include "resources/Dialogs.h"

#include <array>

#include "platform/Text.h"

#ifndef KESTRIX_VERSION
#error "KESTRIX_VERSION comes from the project's version in CMakeLists.txt"
#endif

namespace kestrix {

namespace {

using namespace platform;

constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr uint32_t kPageStyle = WS_CHILD;
constexpr uint32_t kDialogStyle = WS_POPUP | WS_CAPTION;
constexpr int16_t kPageWidth = 156;
constexpr int16_t kPageHeight = 170;

DialogItemTemplate Label(const char* text, int16_t x, int16_t y, int16_t cx, int16_t cy = 10, uint32_t style = 0) {
    return {kStaticClass, IDC_STATIC, text, kChild | SS_LEFT | style, x, y, cx, cy};
}
DialogItemTemplate Text(int id, const char* text, int16_t x, int16_t y, int16_t cx, int16_t cy = 10,
                        uint32_t style = 0) {
    return {kStaticClass, id, text, kChild | style, x, y, cx, cy};
}
DialogItemTemplate Group(const char* text, int16_t x, int16_t y, int16_t cx, int16_t cy) {
    return {kButtonClass, IDC_STATIC, text, kChild | BS_GROUPBOX, x, y, cx, cy};
}
DialogItemTemplate Check(int id, const char* text, int16_t x, int16_t y, int16_t cx) {
    return {kButtonClass, id, text, kChild | BS_AUTOCHECKBOX | WS_TABSTOP, x, y, cx, 10};
}
DialogItemTemplate Button(int id, const char* text, int16_t x, int16_t y, int16_t cx, int16_t cy,
                          uint32_t kind = BS_PUSHBUTTON) {
    return {kButtonClass, id, text, kChild | kind | WS_TABSTOP, x, y, cx, cy};
}
DialogItemTemplate List(int id, int16_t x, int16_t y, int16_t cx) {
    return {kComboBoxClass, id, "", kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, x, y, cx, 12};
}
DialogItemTemplate Edit(int id, int16_t x, int16_t y, int16_t cx, uint32_t style = 0) {
    return {kEditClass, id, "", kChild | ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | style, x, y, cx, 12};
}
DialogItemTemplate Trackbar(int id, int16_t x, int16_t y, int16_t cx) {
    return {kTrackbarClass, id, "", kChild | TBS_HORZ | TBS_AUTOTICKS | WS_TABSTOP, x, y, cx, 16};
}

DialogTemplate Page(int id, const char* caption, std::vector<DialogItemTemplate> items) {
    return {id, caption, kPageStyle, 0, 0, kPageWidth, kPageHeight, std::move(items)};
}

DialogTemplate ModePage() {
    return Page(kDlgModePage, "Mode",
                {Group("Mode", 4, 4, 148, 94),
                 Label("Profile", 12, 20, 40),
                 List(kIdcProfile, 56, 18, 88),
                 Check(kIdcTracker, "Tracker", 12, 36, 60),
                 Check(kIdcLogger, "Logger", 80, 36, 60),
                 Label("Log file:", 12, 52, 132),
                 Text(kIdcLogPath, "Log File Name", 12, 64, 110, 28),
                 Button(kIdcChooseFolder, "...", 126, 64, 18, 12)});
}

DialogTemplate GpsPortPage() {
    std::vector<DialogItemTemplate> items{Group("GPS port settings", 4, 4, 148, 98)};
    const std::pair<const char*, int> rows[] = {{"COM port", kIdcComPort},   {"Baud rate", kIdcBaudRate},
                                                {"Data bits", kIdcDataBits}, {"Parity", kIdcParity},
                                                {"Stop bits", kIdcStopBits}};
    int16_t y = 18;
    for (const auto& [label, id] : rows) {
        items.push_back(Label(label, 12, static_cast<int16_t>(y + 2), 48));
        items.push_back(List(id, 64, y, 80));
        y = static_cast<int16_t>(y + 16);
    }
    return Page(kDlgGpsPortPage, "GPS Settings", std::move(items));
}

DialogTemplate TrackPage() {
    return Page(kDlgTrackPage, "Track",
                {Check(kIdcAutoTrack, "Auto Track Enabled", 8, 6, 140),
                 Group("Rules", 4, 20, 148, 86),
                 Check(kIdcPointCountRule, "Point count", 12, 34, 96),
                 Text(kIdcPointCountText, "0", 112, 34, 32, 10, SS_RIGHT),
                 Trackbar(kIdcPointCountBar, 12, 46, 132),
                 Check(kIdcTimeoutRule, "Time out (min)", 12, 68, 96),
                 Text(kIdcTimeoutText, "0", 112, 68, 32, 10, SS_RIGHT),
                 Trackbar(kIdcTimeoutBar, 12, 80, 132)});
}

DialogTemplate AccountPage() {
    return Page(kDlgAccountPage, "GMR Account",
                {Label("Login", 8, 10, 44),
                 Edit(kIdcLogin, 56, 8, 92),
                 Label("Password", 8, 28, 44),
                 Edit(kIdcPassword, 56, 26, 92, ES_PASSWORD),
                 Text(kIdcRegisterLink, "Don't have an account? Click here!", 8, 46, 140),
                 Text(kIdcAccountNotice, "Live tracking needs an account on the tracking server.", 8, 62, 140, 40)});
}

DialogTemplate AboutPage() {
    return Page(kDlgAboutPage, "About",
                {Label("Kestrix", 8, 12, 140, 12, SS_CENTER),
                 Label("Version " KESTRIX_VERSION, 8, 28, 140, 10, SS_CENTER),
                 Label("GPS logger and live tracker", 8, 42, 140, 10, SS_CENTER),
                 Text(kIdcHomePageLink, "Kestrix home page", 8, 62, 140, 10, SS_CENTER)});
}

DialogTemplate SelectFolder() {
    return {kDlgSelectFolder, "Select Folder", kDialogStyle, 0, 0, kPageWidth, 194,
            {Label("Current folder:", 4, 4, 148),
             Text(kIdcFolderPath, "", 4, 14, 148),
             Label("New folder:", 4, 30, 46),
             Edit(kIdcNewFolderName, 52, 28, 56),
             Button(kIdcCreateFolder, "Create", 112, 28, 40, 12),
             {kTreeViewClass, kIdcFolderTree, "",
              kChild | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS | WS_BORDER | WS_TABSTOP,
              4, 44, 148, 126},
             Button(IDOK, "OK", 4, 176, 70, 14, BS_DEFPUSHBUTTON),
             Button(IDCANCEL, "Cancel", 82, 176, 70, 14)}};
}

DialogTemplate GpsStatus() {
    DialogTemplate t{kDlgGpsStatus, "GPS Status", kDialogStyle, 0, 0, kPageWidth, 202, {}};
    t.items.push_back(Text(kIdcSkyPlot, "Sat", 23, 4, 110, 110));
    for (int i = 0; i < kSignalBarCount; ++i) {
        t.items.push_back(Text(kIdcFirstSignalBar + 2 * i, Format("%02d", i + 1).c_str(),
                               static_cast<int16_t>(4 + 12 * i), 118, 11, 40));
    }
    const struct {
        int label, value;
        const char *name, *empty;
    } rows[] = {{kIdcUtcLabel, kIdcUtc, "UTC:", "--:--:--"},
                {kIdcLatitudeLabel, kIdcLatitude, "Latitude:", "--.-----"},
                {kIdcLongitudeLabel, kIdcLongitude, "Longitude:", "---.-----"}};
    int16_t y = 164;
    for (const auto& row : rows) {
        t.items.push_back(Text(row.label, row.name, 4, y, 60));
        t.items.push_back(Text(row.value, row.empty, 68, y, 84, 10, SS_RIGHT));
        y = static_cast<int16_t>(y + 12);
    }
    return t;
}

}  // namespace

const DialogTemplate* DialogTemplateById(int id) {
    static const std::array<DialogTemplate, 7> templates{ModePage(),    GpsPortPage(),  TrackPage(), AccountPage(),
                                                         AboutPage(),   SelectFolder(), GpsStatus()};
    for (const DialogTemplate& t : templates) {
        if (t.id == id) return &t;
    }
    return nullptr;
}

}  // namespace kestrix
