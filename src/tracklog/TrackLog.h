// TrackLog: the binary track log. Every accepted position is appended as one 32-byte
// LogRecord to the file named by the settings' log path (a device path); the file has no
// header and grows across runs until it is converted to GPX (ExportGpx) and removed, or
// uploaded. Each record is handed to the operating system as soon as it is written, so
// a crash of the process loses no accepted position.
// A log whose last record was cut short (the process died in the middle of a write) is
// first filled up to a whole record with 0xFF bytes, so later records stay aligned; the
// filled record reads as damaged (not-a-number coordinates or an impossible time).
// A record that cannot be written (a full disk) waits in memory and is written ahead of
// the next one once the file takes writes again (LogRecordWriter); records still waiting
// at a Close are written at the next Open.
// Reports to the controller through IStatusListener with kind 1: OnStarted when the file
// is opened, OnStopped on every Close, OnMessage("Can not open file...") when it cannot
// be opened, OnProblem while records wait and "" once they are written.
// Threads: Write comes from the thread that delivers positions; Open, Close and ExportGpx
// from the UI thread. One recursive lock serialises them; IsOpen reads without it.
// ExportGpx converts on a worker thread while the calling thread's message loop keeps
// turning (a large log must not stall the page), then asks the user a question (a modal
// message box); while it runs, a second ExportGpx is refused and the log is not reopened
// (the export reopens it when it ends), so nothing is appended to a log that may be
// removed. A loop told to quit stops the conversion: the partial GPX file is removed and
// the log kept.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "base/Listeners.h"
#include "base/ServiceInterfaces.h"
#include "platform/DeviceFs.h"
#include "tracklog/LogRecord.h"

namespace kestrix {

class TrackerSettings;

inline constexpr const char* kCanNotOpenLogText = "Can not open file...";
inline constexpr const char* kRemoveLogQuestion = "Would you like to remove the binary log?";
inline constexpr const char* kRemoveLogCaption = "GMRLogger";

class TrackLog : public ITrackLog {
public:
    // listener may be null; it is not owned.
    explicit TrackLog(IStatusListener* listener);
    ~TrackLog() override;
    TrackLog(const TrackLog&) = delete;
    TrackLog& operator=(const TrackLog&) = delete;

    bool IsOpen() const override;
    // Closes the log (without a notification), takes the settings' log path and opens it
    // for appending. False for null settings or an empty path (no notification) or when
    // the file cannot be opened. The settings are remembered for ExportGpx; they must
    // outlive this object.
    bool Open(TrackerSettings* settings) override;
    // Closes the file if open and always reports OnStopped(1).
    void Close() override;
    // Appends the point if the log is open; always releases the reference.
    void Write(TrackPointRef point) override;
    // Converts the whole log to "<folder>\<name>[_NNN].gpx" beside it, asks whether to
    // remove the log, then reopens the log for appending. False when no log path is known
    // or an export is already running.
    bool ExportGpx() override;

    // Where ExportGpx finds the settings when no Open has given it a log path (the
    // controller installs a lookup of its own settings). Process-wide; nullptr removes it.
    static void SetSettingsSource(std::function<TrackerSettings*()> source);

    // The current log path (empty when none).
    std::string Path() const;
    // The device path of the GPX file written by the last export (empty when none).
    std::string LastExportPath() const;

private:
    bool OpenFile();
    void CloseFile();

    mutable std::recursive_mutex lock_;
    IStatusListener* listener_;
    std::optional<std::string> path_;
    LogRecordWriter writer_;
    std::atomic<bool> open_{false};
    TrackerSettings* settings_ = nullptr;
    std::string lastExportPath_;
    bool exporting_ = false;  // ExportGpx runs
};

// Chooses "<drive><dir><name>.gpx" for a log path, or "<name>_000.gpx", "_001", ... while
// a file of that name already exists. trackName receives the chosen file name without
// ".gpx".
std::string ChooseGpxPath(const std::string& logPath, std::string& trackName);

}  // namespace kestrix
