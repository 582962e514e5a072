#include "ui/GpsStatusWindow.h"

#include <cmath>
#include <string>

#include "base/TrackPoint.h"
#include "nmea/SatelliteTable.h"
#include "nmea/Sentences.h"
#include "platform/Dialog.h"
#include "platform/MessageLoop.h"
#include "platform/Text.h"
#include "platform/Time.h"
#include "resources/Dialogs.h"

namespace kestrix::ui {

using namespace platform;

static_assert(GpsStatusModel::kSignalBars == static_cast<size_t>(kSignalBarCount));

namespace {

constexpr Colorref kBlack = 0x00000000;
constexpr Colorref kWhite = 0x00FFFFFF;
constexpr Colorref kGrey = 0x007F7F7F;
constexpr Colorref kBlue = 0x00FF0000;
constexpr int kRingElevations[] = {45, 65, 88};

uint32_t NotifyMessage() {
    static const uint32_t message = RegisterWindowMessage("WM_LDP_NOTIFY");
    return message;
}
uint32_t UpdateMessage() {
    static const uint32_t message = RegisterWindowMessage("WM_UPDATE_SAT_VIEW");
    return message;
}

// One paint of a window: draw(windowDc, bitmapDc, client) draws into an off-screen bitmap
// of the client size, filled first with the background, which is then copied in one go.
template <class Draw>
void PaintBuffered(WindowHandle window, GdiHandle background, Draw draw) {
    PaintStruct ps;
    const DcHandle dc = BeginPaint(window, ps);
    if (dc == 0) return;
    Rect client;
    GetClientRect(window, client);
    const DcHandle memory = CreateCompatibleDC(dc);
    const GdiHandle bitmap = CreateCompatibleBitmap(dc, client.Width(), client.Height());
    const GdiHandle previous = SelectObject(memory, bitmap);
    FillRect(memory, client, background);
    draw(dc, memory, client);
    BitBlt(dc, 0, 0, client.Width(), client.Height(), memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(window, ps);
}

Size TextSize(DcHandle dc, const std::string& text) {
    Size size;
    GetTextExtentPoint32(dc, text, size);
    return size;
}

}  // namespace

// ---- ViewStyle --------------------------------------------------------------------------

ViewStyle::ViewStyle()
    : blackBrush(CreateSolidBrush(kBlack)),
      blackPen(CreatePen(PS_SOLID, 1, kBlack)),
      textColour(kWhite),
      unusedBrush(CreateSolidBrush(kGrey)),
      usedBrush(CreateSolidBrush(kBlue)),
      usedPen(CreatePen(PS_SOLID, 1, kBlue)),
      unusedPen(CreatePen(PS_SOLID, 1, kGrey)),
      backgroundBrush(CreateSolidBrush(kWhite)),
      circleBrush(CreateSolidBrush(kWhite)),
      circlePen(CreatePen(PS_SOLID, 1, kBlack)) {
    const bool small = GetSystemMetrics(SM_CXSCREEN) < 241;
    LogFont font;
    font.height = small ? 12 : 24;
    font.width = small ? 8 : 16;
    font.weight = 700;
    labelFont = CreateFontIndirect(font);
}

ViewStyle::~ViewStyle() {
    for (GdiHandle object : {blackBrush, blackPen, unusedBrush, usedBrush, usedPen, unusedPen, backgroundBrush,
                             circleBrush, circlePen, labelFont}) {
        if (object != 0) DeleteObject(object);
    }
}

// ---- the window -------------------------------------------------------------------------

GpsStatusWindow::GpsStatusWindow(GpsStatusModel& model) : model_(model) {
    for (size_t i = 0; i < bars_.size(); ++i) {
        bars_[i].index = i;
        bars_[i].controlId = kIdcFirstSignalBar + 2 * static_cast<int>(i);
    }
    plotProc_ = MakeWndProc([this](WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
        return SkyPlotProc(w, msg, wp, lp);
    });
    barProc_ = MakeWndProc([this](WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
        return BarProc(w, msg, wp, lp);
    });
}

GpsStatusWindow::~GpsStatusWindow() {
    // Its procedures reach this object: the window must not outlive it.
    const WindowHandle window = model_.StatusWindow();
    model_.SetStatusWindow(kNoWindow);
    if (window != kNoWindow) DestroyWindow(window);
}

WindowHandle GpsStatusWindow::Create(uintptr_t instance) {
    const DialogTemplate* tmpl = DialogTemplateById(kDlgGpsStatus);
    if (tmpl == nullptr) return kNoWindow;
    return CreateDialogIndirectParam(
        instance, *tmpl, kNoWindow,
        [this](WindowHandle w, uint32_t msg, WParam wp, LParam lp) { return DialogProc(w, msg, wp, lp); }, 0);
}

void GpsStatusWindow::RefreshTexts(const TrackPoint* point) {
    const WindowHandle window = model_.StatusWindow();
    if (window == kNoWindow) return;
    std::string utc = "--:--:--", latitude = "--.-----", longitude = "---.-----";
    if (point != nullptr) {
        SystemTime t;
        if (FileTimeToSystemTime(point->GetTime(), t)) utc = Format("%02d:%02d:%02d", t.hour, t.minute, t.second);
        latitude = Format("%.5f", point->GetLatitude());
        longitude = Format("%.5f", point->GetLongitude());
    }
    SetDlgItemText(window, kIdcUtc, utc);
    SetDlgItemText(window, kIdcLatitude, latitude);
    SetDlgItemText(window, kIdcLongitude, longitude);
}

void GpsStatusWindow::InvalidateViews() {
    if (plot_.window != kNoWindow) InvalidateRect(plot_.window, nullptr, false);
    for (const SignalBar& bar : bars_) {
        if (bar.window != kNoWindow) InvalidateRect(bar.window, nullptr, false);
    }
}

void GpsStatusWindow::InitDialog(WindowHandle dialog) {
    SHInitDialog({SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN});
    plot_.window = GetDlgItem(dialog, kIdcSkyPlot);
    plot_.previous = SetWindowProc(plot_.window, plotProc_);
    for (SignalBar& bar : bars_) {
        bar.window = GetDlgItem(dialog, bar.controlId);
        bar.previous = SetWindowProc(bar.window, barProc_);
    }
}

void GpsStatusWindow::Close(WindowHandle dialog) {
    if (model_.StatusWindow() == dialog) model_.SetStatusWindow(kNoWindow);
    model_.Detach();
    DestroyWindow(dialog);
}

LResult GpsStatusWindow::DialogProc(WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
    if (msg == NotifyMessage()) {
        if (auto* sentence = reinterpret_cast<NmeaSentence*>(lp)) {
            model_.Process(sentence);
            sentence->Release();
        }
        return 1;
    }
    if (msg == UpdateMessage()) {
        model_.RefreshTexts();
        model_.InvalidateViews();
        InvalidateRect(w, nullptr, false);
        return 1;
    }
    switch (msg) {
        case WM_INITDIALOG: InitDialog(w); return 1;
        case WM_PAINT: PaintBuffered(w, plot_.style.backgroundBrush, [](DcHandle, DcHandle, const Rect&) {}); return 1;
        case WM_ERASEBKGND: return 1;
        case WM_CTLCOLORSTATIC: {
            const int id = GetDlgCtrlID(static_cast<WindowHandle>(lp));
            if (id >= kIdcUtc && id <= kIdcLongitudeLabel) return static_cast<LResult>(plot_.style.backgroundBrush);
            return 0;
        }
        case WM_COMMAND:
            if (LoWord(wp) == IDOK || LoWord(wp) == IDCANCEL) {
                PostMessage(w, WM_CLOSE, 0, 0);
                return 1;
            }
            return 0;
        case WM_CHAR:
            if (wp != VK_ESCAPE) return 0;
            Close(w);
            return 1;
        case WM_CLOSE: Close(w); return 1;
        case WM_DESTROY:
            // Destroyed by someone else (a new window replacing it, shutdown): forget it.
            if (model_.StatusWindow() == w) model_.SetStatusWindow(kNoWindow);
            if (plot_.window != kNoWindow && GetParent(plot_.window) == w) plot_.window = kNoWindow;
            for (SignalBar& bar : bars_) {
                if (bar.window != kNoWindow && GetParent(bar.window) == w) bar.window = kNoWindow;
            }
            return 0;
        default: return 0;
    }
}

// ---- the sky plot -----------------------------------------------------------------------

Point GpsStatusWindow::PlotPosition(const Rect& plot, int azimuth, int elevation) {
    const int32_t r = (plot.right - plot.left) / 2;
    const double rr = std::cos(elevation * kDegToRad) * r;
    const double a = azimuth * kDegToRad;
    return Point{static_cast<int32_t>(std::sin(a) * rr) + plot.left + r,
                 plot.top + r - static_cast<int32_t>(std::cos(a) * rr)};
}

LResult GpsStatusWindow::SkyPlotProc(WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
    switch (msg) {
        case WM_PAINT:
            PaintBuffered(w, plot_.style.backgroundBrush, [&](DcHandle windowDc, DcHandle dc, const Rect& client) {
                PaintSkyPlot(windowDc, dc, client);
            });
            return 0;
        case WM_ERASEBKGND: return 1;
        default: return DefWindowProc(w, msg, wp, lp);
    }
}

void GpsStatusWindow::PaintSkyPlot(DcHandle windowDc, DcHandle dc, const Rect& client) {
    const ViewStyle& style = plot_.style;
    const int32_t inset = TextSize(windowDc, "W").cy + 4;
    plot_.client = client;
    plot_.plot = Rect{client.left + inset, client.top + inset, client.right - inset, client.bottom - inset};
    const Rect& plot = plot_.plot;
    // A control too small for a horizon draws only the letters.
    const bool room = plot.Width() > 0 && plot.Height() > 0;

    const GdiHandle oldPen = SelectObject(dc, style.circlePen);
    const GdiHandle oldBrush = SelectObject(dc, style.circleBrush);
    if (room) {
        Ellipse(dc, plot.left, plot.top, plot.right, plot.bottom);
        for (int e : kRingElevations) {
            Ellipse(dc, PlotPosition(plot, 270, e).x, PlotPosition(plot, 0, e).y, PlotPosition(plot, 90, e).x,
                    PlotPosition(plot, 180, e).y);
        }
    }

    // The letters take the label font; the satellites are sized by the DC's own font
    // again, so their disks fit the plot.
    const GdiHandle oldFont = SelectObject(dc, style.labelFont);
    SetTextColor(dc, kBlack);
    SetBkMode(dc, TRANSPARENT);
    const struct {
        const char* text;
        uint32_t format;
    } letters[] = {{"N", DT_CENTER | DT_TOP}, {"S", DT_CENTER | DT_BOTTOM}, {"W", DT_LEFT | DT_VCENTER},
                   {"E", DT_RIGHT | DT_VCENTER}};
    for (const auto& letter : letters) {
        Rect box = client;
        DrawText(dc, letter.text, box, letter.format | DT_SINGLELINE);
    }
    SelectObject(dc, oldFont);

    if (room) {
        const Size digits = TextSize(dc, "00");
        const int32_t half = (digits.cy / 2) * digits.cy / 2;
        const int32_t radius =
            2 * static_cast<int32_t>(std::sqrt(static_cast<double>(digits.cx * digits.cx + half))) / 3;
        SetTextColor(dc, style.textColour);
        for (const SatelliteRecord& sat : SatelliteTable::Instance().Snapshot()) {
            // Without a position, or below the horizon, a satellite has no place on the plot
            // (its bar still shows it).
            if (!sat.hasPosition || sat.elevation < 0 || sat.elevation > 90) continue;
            const Point p = PlotPosition(plot, sat.azimuth, sat.elevation);
            SelectObject(dc, sat.used ? style.usedBrush : style.unusedBrush);
            SelectObject(dc, sat.used ? style.usedPen : style.unusedPen);
            Ellipse(dc, p.x - radius, p.y - radius, p.x + radius, p.y + radius);
            const std::string id = std::to_string(sat.prn);
            const Size size = TextSize(dc, id);
            ExtTextOut(dc, p.x - size.cx / 2, p.y - size.cy / 2, id);
        }
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

// ---- the signal bars --------------------------------------------------------------------

int32_t GpsStatusWindow::LevelHeight(int snr, bool used, int32_t frameHeight) {
    const double s = snr;
    const double v = used ? s * (s * s * s * 1.6666666666666667e-5 + 1) : s;
    if (frameHeight <= 0 || v <= 0) return 0;
    // From 100 on the bar is full; deciding that first keeps a wild SNR from overflowing.
    if (v >= 100) return frameHeight;
    return std::min(frameHeight, static_cast<int32_t>(v) * frameHeight / 100);
}

LResult GpsStatusWindow::BarProc(WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
    const SignalBar* bar = nullptr;
    for (const SignalBar& b : bars_) {
        if (b.window == w) bar = &b;
    }
    if (bar == nullptr) return 0;
    switch (msg) {
        case WM_PAINT:
            PaintBuffered(w, bar->style.backgroundBrush,
                          [&](DcHandle, DcHandle dc, const Rect& client) { PaintBar(*bar, dc, client); });
            return 0;
        case WM_ERASEBKGND: return 1;
        default: return DefWindowProc(w, msg, wp, lp);
    }
}

void GpsStatusWindow::PaintBar(const SignalBar& bar, DcHandle dc, const Rect& client) {
    const ViewStyle& style = bar.style;
    // The satellite is looked up by system and number: GPS 5 and Galileo 5 are two bars.
    const SatelliteKey key = model_.SignalBars()[bar.index];
    SatelliteRecord sat;
    const bool shown = key.prn > 0 && SatelliteTable::Instance().Find(key, sat);
    if (!shown) sat = SatelliteRecord{};

    const GdiHandle oldFont = SelectObject(dc, static_cast<GdiHandle>(SendMessage(bar.window, WM_GETFONT, 0, 0)));
    TextMetric tm;
    GetTextMetrics(dc, tm);
    const int32_t t = tm.height;
    Rect label{client.left, client.bottom - t, client.right, client.bottom};
    SetBkMode(dc, TRANSPARENT);
    DrawText(dc, shown ? std::to_string(sat.prn) : "--", label, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (oldFont != 0) SelectObject(dc, oldFont);

    const Rect frame{client.left + 1, client.top + 1, client.right - 1, client.bottom - t - 1};
    FillRect(dc, frame, style.backgroundBrush);
    DrawEdge(dc, frame, BDR_RAISEDINNER, BF_RECT | BF_FLAT);
    const int32_t height = LevelHeight(sat.snr, sat.used != 0, frame.Height());
    if (height > 0) {
        FillRect(dc, Rect{frame.left, frame.bottom - height, frame.right, frame.bottom},
                 sat.used ? style.usedBrush : style.unusedBrush);
    }
}

std::unique_ptr<IStatusWindow> MakeGpsStatusWindow(GpsStatusModel& model) {
    return std::make_unique<GpsStatusWindow>(model);
}

}  // namespace kestrix::ui
