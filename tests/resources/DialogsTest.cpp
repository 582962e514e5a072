#include "resources/Dialogs.h"

#include <gtest/gtest.h>

#include <set>

namespace kestrix {
namespace {

using namespace platform;

bool Inside(const DialogItemTemplate& a, const DialogItemTemplate& b) {
    return a.x >= b.x && a.y >= b.y && a.x + a.cx <= b.x + b.cx && a.y + a.cy <= b.y + b.cy;
}
bool Overlap(const DialogItemTemplate& a, const DialogItemTemplate& b) {
    return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy;
}
bool Framed(const DialogItemTemplate& inner, const DialogItemTemplate& group) {
    return group.className == kButtonClass && (group.style & BS_TYPEMASK) == BS_GROUPBOX && Inside(inner, group);
}

// Every template has the controls its code looks up, with their classes, texts and styles,
// and a tidy layout: inside the template, nothing on top of anything but its group box.
TEST(DialogsTest, TemplatesHoldTheirControlsLaidOutWithoutOverlap) {
    struct Expected {
        int id;
        const char* cls;
        const char* text;  // nullptr: any
        uint32_t style = 0;  // bits that must be set
    };
    const struct {
        int id;
        const char* caption;
        int16_t cy;
        std::vector<Expected> controls;
    } cases[] = {
        {kDlgModePage, "Mode", 170,
         {{kIdcProfile, kComboBoxClass, "", CBS_DROPDOWNLIST}, {kIdcTracker, kButtonClass, "Tracker", BS_AUTOCHECKBOX},
          {kIdcLogger, kButtonClass, "Logger", BS_AUTOCHECKBOX}, {kIdcLogPath, kStaticClass, "Log File Name"},
          {kIdcChooseFolder, kButtonClass, "..."}, {IDC_STATIC, kButtonClass, "Mode", BS_GROUPBOX},
          {IDC_STATIC, kStaticClass, "Profile"}}},
        {kDlgGpsPortPage, "GPS Settings", 170,
         {{kIdcComPort, kComboBoxClass, ""}, {kIdcBaudRate, kComboBoxClass, ""}, {kIdcDataBits, kComboBoxClass, ""},
          {kIdcParity, kComboBoxClass, ""}, {kIdcStopBits, kComboBoxClass, ""},
          {IDC_STATIC, kButtonClass, "GPS port settings", BS_GROUPBOX}, {IDC_STATIC, kStaticClass, "COM port"},
          {IDC_STATIC, kStaticClass, "Baud rate"}, {IDC_STATIC, kStaticClass, "Data bits"},
          {IDC_STATIC, kStaticClass, "Parity"}, {IDC_STATIC, kStaticClass, "Stop bits"}}},
        {kDlgTrackPage, "Track", 170,
         {{kIdcAutoTrack, kButtonClass, "Auto Track Enabled", BS_AUTOCHECKBOX},
          {kIdcPointCountRule, kButtonClass, "Point count", BS_AUTOCHECKBOX}, {kIdcPointCountBar, kTrackbarClass, ""},
          {kIdcPointCountText, kStaticClass, "0"}, {kIdcTimeoutRule, kButtonClass, "Time out (min)", BS_AUTOCHECKBOX},
          {kIdcTimeoutBar, kTrackbarClass, ""}, {kIdcTimeoutText, kStaticClass, "0"},
          {IDC_STATIC, kButtonClass, "Rules", BS_GROUPBOX}}},
        {kDlgAccountPage, "GMR Account", 170,
         {{kIdcLogin, kEditClass, ""}, {kIdcPassword, kEditClass, "", ES_PASSWORD},
          {kIdcRegisterLink, kStaticClass, "Don't have an account? Click here!"},
          {kIdcAccountNotice, kStaticClass, nullptr}, {IDC_STATIC, kStaticClass, "Login"},
          {IDC_STATIC, kStaticClass, "Password"}}},
        {kDlgAboutPage, "About", 170,
         {{kIdcHomePageLink, kStaticClass, nullptr}, {IDC_STATIC, kStaticClass, "Kestrix"},
          {IDC_STATIC, kStaticClass, "Version 0.1.0"}}},
        {kDlgSelectFolder, "Select Folder", 194,
         {{IDC_STATIC, kStaticClass, "Current folder:"}, {kIdcFolderPath, kStaticClass, ""},
          {kIdcNewFolderName, kEditClass, ""}, {kIdcCreateFolder, kButtonClass, "Create"},
          {kIdcFolderTree, kTreeViewClass, "", TVS_HASBUTTONS}, {IDOK, kButtonClass, "OK"},
          {IDCANCEL, kButtonClass, "Cancel"}}},
        {kDlgGpsStatus, "GPS Status", 202,
         {{kIdcSkyPlot, kStaticClass, "Sat"}, {kIdcFirstSignalBar, kStaticClass, "01"}, {1039, kStaticClass, "12"},
          {kIdcUtcLabel, kStaticClass, "UTC:"}, {kIdcUtc, kStaticClass, "--:--:--", SS_RIGHT},
          {kIdcLatitudeLabel, kStaticClass, "Latitude:"}, {kIdcLatitude, kStaticClass, "--.-----", SS_RIGHT},
          {kIdcLongitudeLabel, kStaticClass, "Longitude:"}, {kIdcLongitude, kStaticClass, "---.-----", SS_RIGHT}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("template " + std::to_string(c.id));
        const DialogTemplate* t = DialogTemplateById(c.id);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(std::tie(t->caption, t->cx, t->cy), std::make_tuple(std::string(c.caption), int16_t{156}, c.cy));
        for (const Expected& e : c.controls) {
            const auto found = std::count_if(t->items.begin(), t->items.end(), [&](const DialogItemTemplate& i) {
                return i.id == e.id && i.className == e.cls && (!e.text || i.text == e.text) && (i.style & e.style) == e.style;
            });
            EXPECT_EQ(found, 1) << e.id << " " << (e.text ? e.text : "");
        }
        std::set<int> ids;
        for (const auto& a : t->items) {
            EXPECT_TRUE(a.id == IDC_STATIC || ids.insert(a.id).second) << "id " << a.id << " twice";
            EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.cx <= t->cx && a.y + a.cy <= t->cy && (a.style & WS_VISIBLE))
                << a.text;
            for (const auto& b : t->items) {
                EXPECT_TRUE(&a == &b || !Overlap(a, b) || Framed(a, b) || Framed(b, a)) << a.text << " / " << b.text;
            }
        }
    }
    EXPECT_EQ(DialogTemplateById(102), nullptr);  // the menu, not a dialog
}

}  // namespace
}  // namespace kestrix
