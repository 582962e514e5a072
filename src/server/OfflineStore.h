// OfflineStore: the positions that could not reach the server, appended as 32-byte track
// log records to one file on the device, and sent as a whole after the next login.
// The file's device path is kept in the registry value "OfflineTrkName" under
// HKLM\SOFTWARE\Geomira\GmrLogger whenever a file exists, so it survives restarts; a new
// file "GMROT_*.tmp" is made in the folder of the settings' log path (the device root when
// that path has no folder). Resend sends the file in track messages of up to 500 points
// and deletes file and value when every whole record went out; it also sends every other
// "GMROT_*.tmp" beside the log, so a file whose name the registry could not keep is never
// left behind.
// A record that cannot be written (a full disk) waits in memory (LogRecordWriter): it is
// written ahead of the next one once the file takes writes again, or sent from memory by
// the next Resend. The listener (kind 0) is told the problem while records wait.
// Threads: the session's worker thread (loop, login, disconnect) and the controller's
// thread (PostPosition, Stop). One recursive lock serialises every operation; Resend
// holds it while it reads and sends the whole file.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "base/Listeners.h"
#include "base/TrackPoint.h"
#include "tracklog/LogRecord.h"

namespace kestrix {

class ServerMessage;
class TrackMessage;
class TrackerSettings;

inline constexpr const char* kOfflineStoreValue = "OfflineTrkName";
inline constexpr const char* kOfflineStorePrefix = "GMROT_";

class OfflineStore {
public:
    // Sends one message to the server; true when it went out.
    using SendFunction = std::function<bool(ServerMessage&)>;

    // listener (not owned, may be null) is told lasting write problems.
    explicit OfflineStore(IStatusListener* listener = nullptr);
    virtual ~OfflineStore();
    OfflineStore(const OfflineStore&) = delete;
    OfflineStore& operator=(const OfflineStore&) = delete;

    virtual bool IsOpen() const;
    // Opens the file named in the registry, or makes a new one, for appending.
    virtual bool Open(const TrackerSettings* settings);
    // Closes the file and leaves its name in the registry.
    virtual void Close();
    // Appends one record when open; the point is released in every case.
    virtual void Write(TrackPointRef point);
    // Writes every point of the batch, oldest first, then empties the batch.
    bool WriteBatch(TrackMessage& batch);
    // Opening and writing as one step, so that no Close from another thread falls between
    // them and drops the points: Append opens only when closed; OpenWithBatch (re)opens
    // and writes the batch when the open succeeded.
    void Append(const TrackerSettings* settings, TrackPointRef point);
    bool OpenWithBatch(const TrackerSettings* settings, TrackMessage& batch);
    // Sends the whole file with `send` in track messages carrying userId, then every other
    // store file in the folder of the settings' log path (one whose name the registry could
    // not keep), then the records waiting in memory. True when every read and send succeeded (the files and the value
    // are then gone); false keeps what was not sent whole. False when there was nothing to send.
    bool Resend(const SendFunction& send, uint32_t userId, const TrackerSettings* settings = nullptr);

    // The open file's device path (empty when closed).
    std::string Name() const;

private:
    // Sends one file; deletes it when every record went out.
    bool ResendFile(const std::string& name, const SendFunction& send, uint32_t userId);

    mutable std::recursive_mutex mutex_;
    LogRecordWriter writer_;
    std::string name_;
};

}  // namespace kestrix
