// GpsPortPage: the GPS page of the settings sheet (template 137). It edits the port and
// line fields of the settings (gpsPort, baudRate, dataBits, parity, stopBits), reached
// through the controller; with no controller it shows empty lists and stores nothing.
//
// The lists are filled once per page window and re-selected from the settings each time
// the page is shown (PSN_SETACTIVE) and when the sheet is cancelled (PSN_RESET); Done
// (PSN_APPLY) stores the selections. The port list holds COM0: to COM9:, then the device
// paths the COM names resolve to on this machine, then the configured port when no entry
// shows it (a device path, a higher COM number) so that Done keeps a working setting.
// The multiplexer's port (GPD0:) is not listed: the list then has no selection and Done
// stores an empty port, so detection runs again. A rate or line value in no entry leaves
// its list without a selection, and a list without a selection leaves its setting as it is.
// Threads: UI thread (the sheet's pump). Template and control ids: resources/Dialogs.h.
#pragma once
#include <array>
#include <cstdint>

#include "platform/Types.h"

namespace kestrix::ui {

struct LabelledValue {
    const char* label;
    uint32_t value;
};
// The DATABITS_* capability flags, as the settings store them.
inline constexpr std::array<LabelledValue, 6> kDataBitsChoices{{
    {"DATABITS_5", 1}, {"DATABITS_6", 2}, {"DATABITS_7", 4},
    {"DATABITS_8", 8}, {"DATABITS_16", 16}, {"DATABITS_16X", 32},
}};
inline constexpr std::array<LabelledValue, 5> kParityChoices{{
    {"No parity", 0}, {"Odd", 1}, {"Even", 2}, {"Mark", 3}, {"Space", 4},
}};
inline constexpr std::array<LabelledValue, 3> kStopBitsChoices{{{"1", 0}, {"1.5", 1}, {"2", 2}}};
inline constexpr std::array<uint32_t, 9> kBaudRates{2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};

// The page's dialog procedure.
platform::LResult GpsPortPage(platform::WindowHandle page, uint32_t msg, platform::WParam wp, platform::LParam lp);

}  // namespace kestrix::ui
