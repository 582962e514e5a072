#include "resources/Dialogs.h"

#include <gtest/gtest.h>

#include <set>

namespace kestrix {
namespace {

using namespace platform;

struct Expected {
    int id;
    const char* className;
    const char* text;  // nullptr: any
    uint32_t style = 0;  // bits that must be set
};

bool Inside(const DialogItemTemplate& inner, const DialogItemTemplate& outer) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.cx <= outer.x + outer.cx &&
           inner.y + inner.cy <= outer.y + outer.cy;
}

bool Overlap(const DialogItemTemplate& a, const DialogItemTemplate& b) {
    return a.x < b.x + b.cx && b.x < a.x + a.cx && a.y < b.y + b.cy && b.y < a.y + a.cy;
}

bool IsGroup(const DialogItemTemplate& item) {
    return item.className == kButtonClass && (item.style & BS_TYPEMASK) == BS_GROUPBOX;
}

// Every template has the controls its pages' code looks up, and a tidy layout: inside the
// template, nothing on top of anything else except inside the group box framing it.
TEST(DialogsTest, TemplatesHoldTheirControlsLaidOutWithoutOverlap) {
    const struct {
        int id;
        const char* caption;
        int16_t cx, cy;
        std::vector<Expected> controls;
    } cases[] = {
        {kDlgModePage, "Mode", 156, 170,
         {{kIdcProfile, kComboBoxClass, "", CBS_DROPDOWNLIST}, {kIdcTracker, kButtonClass, "Tracker", BS_AUTOCHECKBOX},
          {kIdcLogger, kButtonClass, "Logger", BS_AUTOCHECKBOX}, {kIdcLogPath, kStaticClass, "Log File Name"},
          {kIdcChooseFolder, kButtonClass, "..."}, {IDC_STATIC, kButtonClass, "Mode", BS_GROUPBOX},
          {IDC_STATIC, kStaticClass, "Profile"}}},
        {kDlgGpsPortPage, "GPS Settings", 156, 170,
         {{kIdcComPort, kComboBoxClass, ""}, {kIdcBaudRate, kComboBoxClass, ""}, {kIdcDataBits, kComboBoxClass, ""},
          {kIdcParity, kComboBoxClass, ""}, {kIdcStopBits, kComboBoxClass, ""},
          {IDC_STATIC, kButtonClass, "GPS port settings", BS_GROUPBOX}, {IDC_STATIC, kStaticClass, "COM port"},
          {IDC_STATIC, kStaticClass, "Baud rate"}, {IDC_STATIC, kStaticClass, "Data bits"},
          {IDC_STATIC, kStaticClass, "Parity"}, {IDC_STATIC, kStaticClass, "Stop bits"}}},
        {kDlgTrackPage, "Track", 156, 170,
         {{kIdcAutoTrack, kButtonClass, "Auto Track Enabled", BS_AUTOCHECKBOX},
          {kIdcPointCountRule, kButtonClass, "Point count", BS_AUTOCHECKBOX}, {kIdcPointCountBar, kTrackbarClass, ""},
          {kIdcPointCountText, kStaticClass, "0"}, {kIdcTimeoutRule, kButtonClass, "Time out (min)", BS_AUTOCHECKBOX},
          {kIdcTimeoutBar, kTrackbarClass, ""}, {kIdcTimeoutText, kStaticClass, "0"},
          {IDC_STATIC, kButtonClass, "Rules", BS_GROUPBOX}}},
        {kDlgAccountPage, "GMR Account", 156, 170,
         {{kIdcLogin, kEditClass, ""}, {kIdcPassword, kEditClass, "", ES_PASSWORD},
          {kIdcRegisterLink, kStaticClass, "Don't have an account? Click here!"},
          {kIdcAccountNotice, kStaticClass, nullptr}, {IDC_STATIC, kStaticClass, "Login"},
          {IDC_STATIC, kStaticClass, "Password"}}},
        {kDlgAboutPage, "About", 156, 170,
         {{kIdcHomePageLink, kStaticClass, nullptr}, {IDC_STATIC, kStaticClass, "Kestrix"},
          {IDC_STATIC, kStaticClass, "Version 0.1.0"}}},
        {kDlgSelectFolder, "Select Folder", 156, 194,
         {{IDC_STATIC, kStaticClass, "Current folder:"}, {kIdcFolderPath, kStaticClass, ""},
          {kIdcNewFolderName, kEditClass, ""}, {kIdcCreateFolder, kButtonClass, "Create"},
          {kIdcFolderTree, kTreeViewClass, "", TVS_HASBUTTONS}, {IDOK, kButtonClass, "OK"},
          {IDCANCEL, kButtonClass, "Cancel"}}},
        {kDlgGpsStatus, "GPS Status", 156, 202,
         {{kIdcSkyPlot, kStaticClass, "Sat"}, {kIdcFirstSignalBar, kStaticClass, "01"}, {1039, kStaticClass, "12"},
          {kIdcUtcLabel, kStaticClass, "UTC:"}, {kIdcUtc, kStaticClass, "--:--:--", SS_RIGHT},
          {kIdcLatitudeLabel, kStaticClass, "Latitude:"}, {kIdcLatitude, kStaticClass, "--.-----", SS_RIGHT},
          {kIdcLongitudeLabel, kStaticClass, "Longitude:"}, {kIdcLongitude, kStaticClass, "---.-----", SS_RIGHT}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("template " + std::to_string(c.id));
        const DialogTemplate* t = DialogTemplateById(c.id);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->caption, c.caption);
        EXPECT_EQ(t->cx, c.cx);
        EXPECT_EQ(t->cy, c.cy);
        for (const Expected& e : c.controls) {
            int found = 0;
            for (const auto& item : t->items) {
                if (item.id != e.id || item.className != e.className || (e.text && item.text != e.text)) continue;
                EXPECT_EQ(item.style & e.style, e.style) << e.id;
                ++found;
            }
            EXPECT_EQ(found, 1) << e.id << " " << (e.text ? e.text : "");
        }
        std::set<int> ids;
        for (size_t i = 0; i < t->items.size(); ++i) {
            const auto& a = t->items[i];
            EXPECT_TRUE(a.id == IDC_STATIC || ids.insert(a.id).second) << "id " << a.id << " twice";
            EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.cx <= t->cx && a.y + a.cy <= t->cy) << a.text;
            EXPECT_TRUE(a.style & WS_VISIBLE) << a.text;
            for (size_t j = i + 1; j < t->items.size(); ++j) {
                const auto& b = t->items[j];
                const bool framed = (IsGroup(a) && Inside(b, a)) || (IsGroup(b) && Inside(a, b));
                EXPECT_TRUE(!Overlap(a, b) || framed) << "\"" << a.text << "\" and \"" << b.text << "\"";
            }
        }
    }
    EXPECT_EQ(DialogTemplateById(102), nullptr);  // the menu, not a dialog
}

}  // namespace
}  // namespace kestrix
