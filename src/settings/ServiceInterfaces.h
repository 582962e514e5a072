// The operations the controller uses on the services it owns: the GPS receiver, the
// tracker session, the track log and the GPS status model. The real classes (src/gps,
// src/server, src/tracklog, src/nmea) implement them; tests use doubles.
// Threads: every call here is made on the UI thread; Write and PostPosition also come
// from the reader thread.
#pragma once
#include "geo/Listeners.h"
#include "geo/TrackPoint.h"

namespace kestrix {

class TrackerSettings;
class NmeaParser;

class IGpsReceiver {
public:
    virtual ~IGpsReceiver() = default;
    virtual bool IsRunning() const = 0;
    // True when the reader thread was started.
    virtual bool Start(TrackerSettings* settings) = 0;
    // Always reports OnFixLost to the listener.
    virtual void Stop() = 0;
    virtual int GetSignalLevel() const = 0;
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

class IGpsStatusModel {
public:
    virtual ~IGpsStatusModel() = default;
    virtual bool Attach(IGpsReceiver* receiver) = 0;
    virtual void Detach() = 0;
    // Shows the GPS status window; false when it cannot.
    virtual bool ShowStatusWindow() = 0;
    // Asks the status window (if any) to redraw ("WM_UPDATE_SAT_VIEW").
    virtual void RequestRedraw() = 0;
};

}  // namespace kestrix
