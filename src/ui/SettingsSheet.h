// ShowSettingsSheet: the modal, full-screen property sheet "GMRT Settings" in which every
// setting is edited: Mode (services per power source, the log's folder), GPS (the port,
// GpsPortPage.h), Track (the auto-track rules), Account (login and password, with the
// registration link) and About (the home-page link). Each page fills its controls from the
// controller's settings whenever it is shown and when the sheet is cancelled, and stores
// its working values through the setters on Done; nothing is saved here (the controller
// saves after the sheet closes, whichever button closed it). Pages do nothing without a
// controller. The Account page cannot be left, nor the sheet closed with Done from it,
// while the login or the password is empty, or while an edited one is text the settings
// refuse (NamedSettings.h: the same refusals as kestrix config); the box says why. The
// log's path and the account are stored through those refusals too, and a folder whose
// log path they refuse is not taken from the chooser.
//
// The links and the notice are process-wide objects (a registration link, a home-page link
// and a red colour text), created when the plug-in loads and destroyed when it unloads, in
// this order with the property atoms (ColorText.h, Hyperlink.h):
//   AddColorTextAtom, (the satellite table), AddHyperlinkAtom, CreateSettingsControls;
// unloading runs the reverse. Both addresses are on the tracking server's web site,
// http://<Host setting>:1280/.
// Threads: UI thread; one sheet is open at a time.
#pragma once
#include <cstdint>
#include <string>

#include "core/ControllerServices.h"
#include "platform/Types.h"

namespace kestrix::ui {

constexpr int kSettingsIconId = 134;
constexpr uint16_t kWebSitePort = 1280;

// Shows the sheet at startPage (kPageMode ... kPageAbout, ControllerServices.h; another
// number shows Mode). False when
// it could not be shown (no instance, a template missing, a sheet already open).
bool ShowSettingsSheet(uintptr_t instance, platform::WindowHandle owner, int startPage);

// The tracking server's web site for the Host setting, and its registration page.
std::string WebSiteAddress(const std::string& host);
std::string RegistrationAddress(const std::string& host);

// The home-page link, the registration link and the Account page's notice.
void CreateSettingsControls();
void DestroySettingsControls();

}  // namespace kestrix::ui
