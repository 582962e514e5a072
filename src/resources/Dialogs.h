// The plug-in's dialog templates: the five pages of the settings sheet (Mode 105, GPS 137,
// Track 139, Account 116, About 159), the folder chooser (141) and the GPS status window
// (131), with the ids of their controls. Layouts are in dialog units (2 pixels each on the
// emulated screen, Dialog.h); every page is 156 x 170 units.
// Pure data, any thread: the templates are built once and never change.
#pragma once
#include "platform/Dialog.h"

namespace kestrix {

// Templates.
constexpr int kDlgModePage = 105;
constexpr int kDlgAccountPage = 116;
constexpr int kDlgGpsStatus = 131;
constexpr int kDlgGpsPortPage = 137;
constexpr int kDlgTrackPage = 139;
constexpr int kDlgSelectFolder = 141;
constexpr int kDlgAboutPage = 159;

// Mode page.
constexpr int kIdcProfile = 1008;        // drop-down list: "Battery", "Power"
constexpr int kIdcTracker = 1009;        // check box
constexpr int kIdcLogger = 1010;         // check box
constexpr int kIdcLogPath = 1011;        // static: the log's full path
constexpr int kIdcChooseFolder = 1012;   // button "..."
// GPS page: drop-down lists.
constexpr int kIdcComPort = 1001;
constexpr int kIdcBaudRate = 1060;
constexpr int kIdcDataBits = 1061;
constexpr int kIdcParity = 1062;
constexpr int kIdcStopBits = 1063;
// Track page.
constexpr int kIdcAutoTrack = 1059;       // check box "Auto Track Enabled"
constexpr int kIdcPointCountRule = 1055;  // check box
constexpr int kIdcPointCountBar = 1050;   // trackbar
constexpr int kIdcPointCountText = 1057;  // static number
constexpr int kIdcTimeoutRule = 1056;     // check box
constexpr int kIdcTimeoutBar = 1054;      // trackbar
constexpr int kIdcTimeoutText = 1058;     // static number
// Account page.
constexpr int kIdcLogin = 1004;           // edit
constexpr int kIdcPassword = 1005;        // password edit
constexpr int kIdcRegisterLink = 1077;    // static made a hyperlink
constexpr int kIdcAccountNotice = 1079;   // static made colour text
// About page.
constexpr int kIdcHomePageLink = 1073;    // static made a hyperlink
// Folder chooser.
constexpr int kIdcFolderTree = 1064;
constexpr int kIdcNewFolderName = 1065;   // edit
constexpr int kIdcFolderPath = 1066;      // static: the selected folder
constexpr int kIdcCreateFolder = 1067;    // button "Create"
// GPS status window.
constexpr int kIdcSkyPlot = 1015;
constexpr int kIdcFirstSignalBar = 1017;  // bar i (0..11) is 1017 + 2 i
constexpr int kSignalBarCount = 12;
constexpr int kIdcUtc = 1042;
constexpr int kIdcLatitude = 1043;
constexpr int kIdcLongitude = 1044;
constexpr int kIdcUtcLabel = 1045;
constexpr int kIdcLatitudeLabel = 1046;
constexpr int kIdcLongitudeLabel = 1047;

// The template with this id; nullptr for an id that is not a dialog.
const platform::DialogTemplate* DialogTemplateById(int id);

}  // namespace kestrix
