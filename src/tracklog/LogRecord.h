// LogRecord: one position as stored in the binary track log and read back by the log
// dump, the offline store and the track upload. 32 bytes, little-endian, no padding:
//   0  f64 latitude (degrees, south negative)   8  f64 longitude (degrees, west negative)
//   16 f32 altitude (metres, 0 = not known)     20 f32 speed (km/h, 0 = not known)
//   24 u64 time (FILETIME, UTC; low 32 bits at 24, high 32 bits at 28)
// The files have no header; a final partial record (a write cut short) is ignored.
// Encoding and decoding are pure; a LogRecordReader belongs to one thread at a time.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "base/TrackPoint.h"

namespace kestrix {

namespace platform {
class DeviceFile;
}

constexpr size_t kLogRecordSize = 32;

struct LogRecord {
    double latitude = 0.0;
    double longitude = 0.0;
    float altitude = 0.0f;
    float speed = 0.0f;
    uint64_t time = 0;
};

void EncodeLogRecord(const LogRecord& record, uint8_t out[kLogRecordSize]);
LogRecord DecodeLogRecord(const uint8_t in[kLogRecordSize]);

LogRecord ToLogRecord(const TrackPoint& point);
// A new point holding one reference (the caller's).
TrackPointRef ToTrackPoint(const LogRecord& record);

// Reads whole records from an open file, from its current position, in blocks (the file's
// position runs ahead of the records returned). Next returns false at the end of the
// file, on a read error, when fewer than 32 bytes remain (those bytes are counted in
// TrailingBytes), or once the stop flag (read before each block, from any thread) is set.
class LogRecordReader {
public:
    explicit LogRecordReader(platform::DeviceFile& file, const std::atomic<bool>* stop = nullptr);
    ~LogRecordReader();
    LogRecordReader(const LogRecordReader&) = delete;
    LogRecordReader& operator=(const LogRecordReader&) = delete;

    bool Next(LogRecord& record);
    // Bytes of a final partial record seen by the last Next that returned false.
    size_t TrailingBytes() const { return trailing_; }
    // Whole records returned so far.
    uint64_t Count() const { return count_; }
    // Whole records passed over because they hold no position (a record filled after a
    // cut-off write, damaged bytes, a pre-allocated stretch of zeros): see IsPlausibleRecord.
    // A returned record's altitude or speed that no receiver reports is cleared to 0 (not known).
    uint64_t Skipped() const { return skipped_; }
    // A read error ended the records before the end of the file.
    bool Failed() const { return failed_; }
    // The stop flag ended the records before the end of the file.
    bool Stopped() const { return stopped_; }

private:
    bool Refill();

    platform::DeviceFile& file_;
    const std::atomic<bool>* stop_;
    std::unique_ptr<uint8_t[]> block_;
    size_t begin_ = 0;  // first unread byte of block_
    size_t end_ = 0;    // end of the bytes read into block_
    bool atEnd_ = false;
    bool failed_ = false;
    bool stopped_ = false;
    size_t trailing_ = 0;
    uint64_t count_ = 0;
    uint64_t skipped_ = 0;
};

// Appends records to one file on the device, each handed to the system at once (one write
// a record, so a crash never splits one). A record that cannot be written (a full disk, a
// storage card pulled out) waits in memory, in order, and goes out ahead of the next one
// as soon as the file takes writes again: every Append and Close tries again, reopening
// the file, whose cut last record (a write stopped half way) is first filled up to a whole
// damaged record with 0xFF bytes so later records stay aligned. At most kMaxWaiting
// records wait; beyond that the oldest are lost. A failure and its end are logged and told
// to the owner's problem function. Owned by one thread at a time (its owner's lock).
class LogRecordWriter {
public:
    // A day of positions at one a second.
    static constexpr size_t kMaxWaiting = 86400;
    // Told the text of a lasting write failure for the status page, and "" once it is over.
    // Called with the owner's lock held: it must not wait for another thread.
    using ProblemFunction = std::function<void(const std::string&)>;

    // what names the file in logs and texts ("track log", "offline store").
    LogRecordWriter(std::string what, ProblemFunction problem);
    ~LogRecordWriter();  // closes the file; what still waits is lost (and logged)
    LogRecordWriter(const LogRecordWriter&) = delete;
    LogRecordWriter& operator=(const LogRecordWriter&) = delete;

    // Opens the file for appending (creating it) and writes what waits. False, with
    // LastError, when the file cannot be opened; records keep waiting.
    bool Open(const std::string& devicePath);
    bool IsOpen() const { return open_; }
    // Writes what waits if it can, then closes the file. What still cannot be written
    // keeps waiting for the next Open.
    void Close();
    // Appends the record after those waiting; false when it waits too. Only while open.
    bool Append(const LogRecord& record);
    const std::deque<LogRecord>& Waiting() const { return waiting_; }
    // The waiting records went elsewhere (where says where): they no longer wait.
    void ForgetWaiting(const std::string& where);
    // The system error of the last failed open.
    int Error() const { return error_; }

private:
    bool WriteWaiting();
    // Logs and reports the change from writing to waiting and back.
    void Report(bool wasWaiting);

    std::unique_ptr<platform::DeviceFile> file_;  // closed after a failed write, reopened to try again
    std::string path_;
    bool open_ = false;
    bool whole_ = false;  // the open stream's file holds whole records only
    std::deque<LogRecord> waiting_;
    uint64_t dropped_ = 0;  // lost since the failure began
    int error_ = 0;
    std::string what_;
    ProblemFunction problem_;
};

// A record that can stand for a position: finite coordinates within their ranges, a time
// that is a calendar date up to the year 9999 (what a track message can carry), and not
// all zeros.
bool IsPlausibleRecord(const LogRecord& record);
// Sets to 0 (not known) an altitude that is not finite or beyond 100 km either way, and a
// speed that is not finite, negative or over 100,000 km/h.
void ClearImplausibleFields(LogRecord& record);

}  // namespace kestrix
