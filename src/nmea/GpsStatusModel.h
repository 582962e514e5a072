// GpsStatusModel: the one process-wide by-name observer that feeds the GPS status window
// and the satellite view. Attached to a running receiver, it subscribes to "GPGSA",
// "GPGSV", "GPRMC", "GPGLL" and "GPGGA" (any talker arrives under these names).
//
// Threads: OnSentence runs on the reader thread with the parser's dispatch lock held and
// does no more than post the sentence (with a reference) to the status window as
// "WM_LDP_NOTIFY" (lParam: the sentence; the window procedure calls Process on the UI
// thread and then releases it; a message the window never handles, because it closed
// first, releases it in the message loop). Without a window the sentence is not kept.
// Attach, Detach, Process, ShowStatusWindow and the accessors run on the UI thread.
// Process keeps the process-wide SatelliteTable, the twelve signal bars and the current
// point, and has the window show them.
//
// The window itself (IStatusWindow) comes from the factory the user interface installs;
// the model owns it until the model goes, and destroys a window still open then.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "base/RefCounted.h"
#include "base/ServiceInterfaces.h"
#include "base/TrackPoint.h"
#include "nmea/NmeaParser.h"
#include "nmea/SatelliteTable.h"
#include "platform/Types.h"

namespace kestrix {

class GpsStatusModel : public SentenceObserver, public IGpsStatusModel {
public:
    static constexpr size_t kSignalBars = 12;

    // Creates the model on first use.
    static GpsStatusModel* Instance();
    // Deletes the model (detaching it first); the next Instance creates a new one.
    static void DeleteInstance();

    GpsStatusModel();
    ~GpsStatusModel() override;

    // Subscribes to the receiver's parser; false only when receiver is null.
    bool Attach(IGpsReceiver* receiver) override;
    // Unsubscribes, forgets the current point, clears the satellite table and asks the
    // window (if any) to redraw.
    void Detach() override;
    void SetWindowFactory(StatusWindowFactory factory) override { factory_ = std::move(factory); }
    // -1 without an instance. Destroys the status window if one is open, creates a new one
    // (the window object is made on first use), stores and shows it (SW_SHOWNORMAL) with
    // the texts and views as they stand: 0. -1 when there is no factory or the window
    // cannot be created.
    int ShowStatusWindow(uintptr_t instance) override;
    // Posts "WM_UPDATE_SAT_VIEW" to the status window, if there is one.
    void RequestRedraw() override;

    void OnSentence(NmeaSentence* sentence) override;
    // Applies one sentence on the UI thread (see the class comment).
    void Process(NmeaSentence* sentence);
    // The window's time and position texts from the current point; nothing without a window.
    void RefreshTexts();
    // Invalidates the sky plot and the bars; nothing without a window.
    void InvalidateViews();

    // The status window: messages go there; kNoWindow when none.
    void SetStatusWindow(platform::WindowHandle window) { window_.store(window); }
    platform::WindowHandle StatusWindow() const { return window_.load(); }
    bool IsAttached() const { return receiver_ != nullptr; }

    TrackPointRef CurrentPoint() const { return currentPoint_; }
    // The satellite each bar shows ({Unknown, 0} for an empty bar), in ascending order.
    const std::array<SatelliteKey, kSignalBars>& SignalBars() const { return bars_; }

private:
    void ProcessGsv(const class GsvSentence& s);
    void ProcessGsa(const class GsaSentence& s);
    bool HasView() const { return view_ != nullptr && window_.load() != platform::kNoWindow; }

    IGpsReceiver* receiver_ = nullptr;
    NmeaParser* parser_ = nullptr;
    TrackPointRef currentPoint_;
    // Read on the reader thread, set on the UI thread.
    std::atomic<platform::WindowHandle> window_{platform::kNoWindow};
    std::array<SatelliteKey, kSignalBars> bars_{};
    StatusWindowFactory factory_;
    std::unique_ptr<IStatusWindow> view_;
};

}  // namespace kestrix
