#include "ui/GpsPortPage.h"

#include <charconv>
#include <string>

#include "gps/SerialPort.h"
#include "platform/Controls.h"
#include "platform/Dialog.h"
#include "platform/SerialDevice.h"
#include "platform/Text.h"
#include "resources/Dialogs.h"
#include "ui/PageSupport.h"

namespace kestrix::ui {

using namespace platform;

namespace {

constexpr size_t kMaxPortChars = 127;

// The index of the entry whose text is exactly text, CB_ERR when none.
int FindExact(WindowHandle list, const std::string& text) {
    const int n = ComboGetCount(list);
    for (int i = 0; i < n; ++i) {
        if (ComboGetItemText(list, i) == text) return i;
    }
    return CB_ERR;
}

int AddOnce(WindowHandle list, const std::string& text) {
    const int i = FindExact(list, text);
    return i != CB_ERR ? i : ComboAddString(list, text);
}

template <size_t N>
void FillChoices(WindowHandle page, int id, const std::array<LabelledValue, N>& table, uint32_t value) {
    const WindowHandle list = GetDlgItem(page, id);
    if (ComboGetCount(list) == 0) {
        for (const LabelledValue& c : table) ComboAddString(list, c.label);
    }
    for (size_t i = 0; i < N; ++i) {
        if (table[i].value == value) {
            ComboSetCurSel(list, static_cast<int>(i));
            return;
        }
    }
}

template <size_t N>
void StoreChoice(WindowHandle page, int id, const std::array<LabelledValue, N>& table,
                 bool (TrackerSettings::*set)(uint32_t), TrackerSettings& settings) {
    const int i = ComboGetCurSel(GetDlgItem(page, id));
    if (i >= 0 && static_cast<size_t>(i) < N) (settings.*set)(table[static_cast<size_t>(i)].value);
}

void FillPort(WindowHandle page, const TrackerSettings& settings) {
    const WindowHandle list = GetDlgItem(page, kIdcComPort);
    if (ComboGetCount(list) == 0) {
        for (int i = 0; i <= 9; ++i) ComboAddString(list, Format("COM%d:", i));
        for (const std::string& path : ComPortDevicePaths()) {
            if (detail::CharCount(path) <= kMaxPortChars) AddOnce(list, path);
        }
    }
    const std::optional<std::string> port = settings.GetGpsPort();
    if (!port || port->empty()) {
        ComboSetCurSel(list, 0);
        return;
    }
    // A device path is matched whole: as a prefix "/dev/ttyS1" would pick "/dev/ttyS10".
    if ((*port)[0] == '/') {
        if (detail::CharCount(*port) <= kMaxPortChars) ComboSetCurSel(list, AddOnce(list, *port));
        return;
    }
    if (ComboSelectString(list, -1, *port) != CB_ERR) return;
    if (!IsGpsdPortName(*port) && detail::CharCount(*port) <= kMaxPortChars) {
        ComboSetCurSel(list, ComboAddString(list, *port));
    }
}

void FillBaudRate(WindowHandle page, uint32_t rate) {
    const WindowHandle list = GetDlgItem(page, kIdcBaudRate);
    if (ComboGetCount(list) == 0) {
        for (uint32_t r : kBaudRates) ComboAddString(list, std::to_string(r));
    }
    // Whole entries only: as a prefix 11520 would pick 115200 and Done would store it.
    const int i = FindExact(list, std::to_string(rate));
    if (i != CB_ERR) ComboSetCurSel(list, i);
}

void Fill(WindowHandle page) {
    TrackerSettings* s = detail::ControllerSettings();
    if (!s) return;
    FillPort(page, *s);
    FillBaudRate(page, s->GetBaudRate());
    FillChoices(page, kIdcDataBits, kDataBitsChoices, s->GetDataBits());
    FillChoices(page, kIdcParity, kParityChoices, s->GetParity());
    FillChoices(page, kIdcStopBits, kStopBitsChoices, s->GetStopBits());
}

void Store(WindowHandle page) {
    TrackerSettings* s = detail::ControllerSettings();
    if (!s) return;
    s->SetGpsPort(ComboGetText(GetDlgItem(page, kIdcComPort), kMaxPortChars));
    const std::string rate = ComboGetText(GetDlgItem(page, kIdcBaudRate));
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(rate.data(), rate.data() + rate.size(), value);
    if (!rate.empty() && ec == std::errc() && end == rate.data() + rate.size()) s->SetBaudRate(value);
    StoreChoice(page, kIdcDataBits, kDataBitsChoices, &TrackerSettings::SetDataBits, *s);
    StoreChoice(page, kIdcParity, kParityChoices, &TrackerSettings::SetParity, *s);
    StoreChoice(page, kIdcStopBits, kStopBitsChoices, &TrackerSettings::SetStopBits, *s);
}

}  // namespace

LResult GpsPortPage(WindowHandle page, uint32_t msg, WParam, LParam lp) {
    if (msg == WM_INITDIALOG) {
        detail::InitPage(page);
        return 1;
    }
    return msg == WM_NOTIFY ? detail::AnswerSheet(page, lp, Fill, Store) : 0;
}

}  // namespace kestrix::ui
