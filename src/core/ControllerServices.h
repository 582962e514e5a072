// How the controller gets the services it owns. The shell (or a test) installs one set
// before the controller is created; a member left empty means the service does not exist
// in this build or this test, and the controller then treats requests for it as no-ops
// (a Tracker request starts nothing, the receiver is never started).
// Threads: installed and read on the UI thread.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "base/ServiceInterfaces.h"

namespace kestrix {

class TrackerController;
class TrackerSettings;

// The pages of the settings sheet, by index: where editSettings starts.
constexpr int kPageMode = 0;
constexpr int kPageGps = 1;
constexpr int kPageTrack = 2;
constexpr int kPageAccount = 3;
constexpr int kPageAbout = 4;

struct ControllerServices {
    std::function<std::unique_ptr<IGpsReceiver>(GpsFixListener&)> makeReceiver;
    std::function<std::unique_ptr<ITrackerSession>(IStatusListener&)> makeSession;
    std::function<std::unique_ptr<ITrackLog>(IStatusListener&)> makeLog;
    // The process-wide GPS status model (created on first use) and its deletion.
    std::function<IGpsStatusModel*()> statusModel;
    std::function<void()> deleteStatusModel;
    // The status window the model shows ("Satellite View"), given to the model when the
    // controller obtains it. Empty: the model has no window to show.
    StatusWindowFactory makeStatusWindow;
    // GPS port detection: highest COM number to probe, the name found. False: none found.
    std::function<bool(int maxPort, std::string& name)> detectGpsPort;
    // The settings property sheet at a start page (kPage*). False when no sheet can be
    // shown; the caller saves either way.
    std::function<bool(TrackerSettings& settings, int startPage)> editSettings;
    // The whole-track upload behind "Trk2Srv".
    std::function<bool(TrackerController& controller)> uploadTrack;
    // Empties the process-wide satellite table once the receiver stops.
    std::function<void()> clearSatellites;
    // Told of every fix the filter accepts (on the reader thread; it must not block).
    std::function<void()> positionChanged;
};

// The services the shipped program uses: receiver, session, track log, status model,
// port detection, upload and satellite table. The settings sheet and the status window
// are left empty for the user interface to fill in.
ControllerServices DefaultControllerServices();
void SetControllerServices(ControllerServices services);
const ControllerServices& GetControllerServices();

}  // namespace kestrix
