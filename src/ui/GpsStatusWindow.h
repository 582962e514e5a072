// GpsStatusWindow: the GPS status window behind "Satellite View" (dialog 131, "GPS
// Status"): the UTC time and position of the last fix (1042 to 1044), a sky plot of the
// satellites in view (1015) and twelve signal bars (1017, 1019, ..., 1039). The status
// model (src/nmea/GpsStatusModel.h) owns it and feeds it: sentences posted by the reader
// thread arrive as "WM_LDP_NOTIFY" and go back to the model's Process; "WM_UPDATE_SAT_VIEW"
// redraws texts, plot and bars. Done, Cancel, Escape and closing the window detach the
// model from the receiver and destroy the window.
//
// Drawing. The sky plot is a circle of the horizon inside the control less the height of
// a "W" plus 4 pixels on every side, with rings at elevations 45, 65 and 88 degrees, north
// up and azimuth clockwise; each satellite with a known position above the horizon is a
// disk (blue: used in the fix, grey: not) labelled with its number. A bar shows its
// satellite's number (or "--") under a frame filled from the bottom: for a satellite in
// use, snr x (snr^3 / 60000 + 1) percent of the frame (30 dB-Hz 43 %, 40 dB-Hz 82 %, full
// from 45); otherwise snr percent. Every paint goes through an off-screen bitmap copied in
// one BitBlt, and erasing is suppressed, so nothing flickers at each sentence.
//
// Threads: UI thread only. The satellite table is read through Find and Snapshot (copies).
#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "base/ServiceInterfaces.h"
#include "nmea/GpsStatusModel.h"
#include "platform/Gdi.h"
#include "platform/Window.h"

namespace kestrix::ui {

// The drawing resources of one view, created together and deleted together.
struct ViewStyle {
    ViewStyle();
    ~ViewStyle();
    ViewStyle(const ViewStyle&) = delete;
    ViewStyle& operator=(const ViewStyle&) = delete;

    platform::GdiHandle blackBrush = 0;
    platform::GdiHandle blackPen = 0;
    platform::Colorref textColour = 0x00FFFFFF;  // satellite numbers on their disks
    platform::GdiHandle unusedBrush = 0;         // grey 0x7F7F7F
    platform::GdiHandle usedBrush = 0;           // blue 0xFF0000 (COLORREF)
    platform::GdiHandle usedPen = 0;
    platform::GdiHandle unusedPen = 0;
    platform::GdiHandle backgroundBrush = 0;     // white
    platform::GdiHandle circleBrush = 0;         // white
    platform::GdiHandle circlePen = 0;           // black, 1 pixel
    // Bold, 24 x 16 pixels (12 x 8 on a screen narrower than 241 pixels): compass letters.
    platform::GdiHandle labelFont = 0;
};

struct SkyPlot {
    platform::WindowHandle window = platform::kNoWindow;
    platform::WndProcRef previous;
    platform::Rect client;
    platform::Rect plot;  // the horizon's bounding box
    ViewStyle style;
};

struct SignalBar {
    int controlId = 0;  // the satellite it shows is the model's SignalBars()[index]
    size_t index = 0;
    platform::WindowHandle window = platform::kNoWindow;
    platform::WndProcRef previous;
    ViewStyle style;
};

class GpsStatusWindow final : public IStatusWindow {
public:
    explicit GpsStatusWindow(GpsStatusModel& model);
    // Destroys the window if it is still open.
    ~GpsStatusWindow() override;
    GpsStatusWindow(const GpsStatusWindow&) = delete;
    GpsStatusWindow& operator=(const GpsStatusWindow&) = delete;

    platform::WindowHandle Create(uintptr_t instance) override;
    // "%02d:%02d:%02d" (UTC), "%.5f" latitude and longitude; "--:--:--", "--.-----" and
    // "---.-----" without a point.
    void RefreshTexts(const TrackPoint* point) override;
    void InvalidateViews() override;

    // Where the sky plot draws a satellite at whole degrees: north up, azimuth clockwise,
    // the horizon on the plot rectangle's circle (radius half its width).
    static platform::Point PlotPosition(const platform::Rect& plot, int azimuth, int elevation);
    // The height of a bar's level in a frame H pixels high, for snr in dB-Hz.
    static int32_t LevelHeight(int snr, bool used, int32_t frameHeight);

private:
    platform::LResult DialogProc(platform::WindowHandle w, uint32_t msg, platform::WParam wp, platform::LParam lp);
    platform::LResult SkyPlotProc(platform::WindowHandle w, uint32_t msg, platform::WParam wp, platform::LParam lp);
    platform::LResult BarProc(platform::WindowHandle w, uint32_t msg, platform::WParam wp, platform::LParam lp);
    void InitDialog(platform::WindowHandle dialog);
    void Close(platform::WindowHandle dialog);
    void PaintSkyPlot(platform::DcHandle windowDc, platform::DcHandle dc, const platform::Rect& client);
    void PaintBar(const SignalBar& bar, platform::DcHandle dc, const platform::Rect& client);

    GpsStatusModel& model_;
    SkyPlot plot_;
    std::array<SignalBar, GpsStatusModel::kSignalBars> bars_;
    platform::WndProcRef plotProc_;
    platform::WndProcRef barProc_;
};

// The factory the shell installs in the controller's services.
std::unique_ptr<IStatusWindow> MakeGpsStatusWindow(GpsStatusModel& model);

}  // namespace kestrix::ui
