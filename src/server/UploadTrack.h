// UploadTrack: sends the whole binary track log to the tracking server at once ("Trk2Srv",
// command 40007). Runs synchronously on the controller's thread: stops the services so
// the log is closed, connects its own TcpSocket, logs in, sends the log in track messages
// of up to 500 points, deletes the log when every record went out, reports the outcome in
// a message box (caption "Kestrix") and restarts the services. A login answered with
// user id 0 (when the request carried one) counts as refused.
#pragma once
#include <cstdint>

#include "base/Listeners.h"

namespace kestrix {

class TrackerSettings;

// What the upload needs of the controller.
class IUploadHost {
public:
    virtual ~IUploadHost() = default;
    virtual TrackerSettings& GetSettings() = 0;
    virtual uint32_t GetState() = 0;
    // The services to start again afterwards: by default the Tracker and Logger state
    // bits. A host whose tracker may be running without its bit (still connecting) says so.
    virtual uint32_t RunningServices() { return GetState() & (kModeTracker | kModeLogger); }
    virtual void StartServices(uint32_t bits) = 0;
    virtual void StopServices(uint32_t bits, bool byUser) = 0;
    virtual void UpdateStatus() = 0;
};

// True when the whole log went out (and was deleted).
bool UploadTrack(IUploadHost& host);

}  // namespace kestrix
