// The operations the controller uses on the services it owns: the GPS receiver, the
// tracker session, the track log and the GPS status model. The real classes (src/gps,
// src/server, src/tracklog, src/nmea) implement them; tests use doubles.
// Threads: every call here is made on the UI thread; Write and PostPosition also come
// from the reader thread.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "base/Listeners.h"
#include "base/TrackPoint.h"
#include "platform/Types.h"

namespace kestrix {

class TrackerSettings;
class NmeaParser;
class GpsStatusModel;

class IGpsReceiver {
public:
    virtual ~IGpsReceiver() = default;
    virtual bool IsRunning() const = 0;
    // True when the reader thread was started.
    virtual bool Start(TrackerSettings* settings) = 0;
    // Always reports OnFixLost to the listener.
    virtual void Stop() = 0;
    virtual int GetSignalLevel() const = 0;
    // Satellites used in the last fix that reported them (0 before one).
    virtual int GetSatellitesUsed() const = 0;
    // The parser that by-name observers subscribe to.
    virtual NmeaParser* Parser() = 0;
};

class ITrackerSession {
public:
    virtual ~ITrackerSession() = default;
    virtual bool IsRunning() const = 0;
    // Not running, or its stop has been requested.
    virtual bool IsStopped() const = 0;
    virtual bool Start(TrackerSettings* settings) = 0;
    virtual void Stop() = 0;
    // Takes over the reference.
    virtual void PostPosition(TrackPointRef point) = 0;
};

class ITrackLog {
public:
    virtual ~ITrackLog() = default;
    virtual bool IsOpen() const = 0;
    virtual bool Open(TrackerSettings* settings) = 0;
    virtual void Close() = 0;
    // Takes over the reference.
    virtual void Write(TrackPointRef point) = 0;
    virtual bool ExportGpx() = 0;
};

// The GPS status window as the status model meets it: the dialog with its sky plot and
// signal bars, which the user interface (src/ui) builds. The model owns it (and with it
// the drawing resources) from its first window until the model goes; its destructor
// destroys a window still open. UI thread.
class IStatusWindow {
public:
    virtual ~IStatusWindow() = default;
    // Creates the dialog modelessly, hidden and without an owner; kNoWindow when it cannot.
    virtual platform::WindowHandle Create(uintptr_t instance) = 0;
    // Sets the time and position texts from the point (none: no fix).
    virtual void RefreshTexts(const TrackPoint* point) = 0;
    // Invalidates the sky plot and the signal bars, without erasing.
    virtual void InvalidateViews() = 0;
};
using StatusWindowFactory = std::function<std::unique_ptr<IStatusWindow>(GpsStatusModel& model)>;

class IGpsStatusModel {
public:
    virtual ~IGpsStatusModel() = default;
    virtual bool Attach(IGpsReceiver* receiver) = 0;
    virtual void Detach() = 0;
    // Where the status window comes from; without one ShowStatusWindow fails.
    virtual void SetWindowFactory(StatusWindowFactory factory) = 0;
    // Shows the GPS status window (destroying one already open): 0, or -1 without an
    // instance or when the window cannot be made.
    virtual int ShowStatusWindow(uintptr_t instance) = 0;
    // Asks the status window (if any) to redraw ("WM_UPDATE_SAT_VIEW").
    virtual void RequestRedraw() = 0;
};

}  // namespace kestrix
