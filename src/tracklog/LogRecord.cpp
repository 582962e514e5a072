#include "tracklog/LogRecord.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

#include "base/LittleEndian.h"
#include "platform/DeviceFs.h"
#include "platform/LastError.h"
#include "platform/Log.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace kestrix {
namespace {

// Beyond these no receiver reports a position (the wire carries altitudes up to 20,000 km).
constexpr float kMaxAltitudeM = 100000.0f;
constexpr float kMaxSpeedKmh = 100000.0f;

}  // namespace

void EncodeLogRecord(const LogRecord& record, uint8_t out[kLogRecordSize]) {
    PutU64(out + 0, std::bit_cast<uint64_t>(record.latitude));
    PutU64(out + 8, std::bit_cast<uint64_t>(record.longitude));
    PutU32(out + 16, std::bit_cast<uint32_t>(record.altitude));
    PutU32(out + 20, std::bit_cast<uint32_t>(record.speed));
    PutU64(out + 24, record.time);
}

LogRecord DecodeLogRecord(const uint8_t in[kLogRecordSize]) {
    LogRecord r;
    r.latitude = std::bit_cast<double>(GetU64(in + 0));
    r.longitude = std::bit_cast<double>(GetU64(in + 8));
    r.altitude = std::bit_cast<float>(GetU32(in + 16));
    r.speed = std::bit_cast<float>(GetU32(in + 20));
    r.time = GetU64(in + 24);
    return r;
}

LogRecord ToLogRecord(const TrackPoint& point) {
    LogRecord r;
    r.latitude = point.GetLatitude();
    r.longitude = point.GetLongitude();
    r.altitude = point.GetAltitude();
    r.speed = point.GetSpeed();
    r.time = point.GetTime();
    return r;
}

TrackPointRef ToTrackPoint(const LogRecord& record) {
    return TrackPoint::Make(record.latitude, record.longitude, record.altitude, record.speed, record.time);
}

bool IsPlausibleRecord(const LogRecord& r) {
    // A pre-allocated or sparse stretch of a file reads as zeros: 0, 0 on 1601-01-01.
    if (r.latitude == 0.0 && r.longitude == 0.0 && r.altitude == 0.0f && r.speed == 0.0f && r.time == 0) return false;
    double oleDate = 0.0;
    return std::isfinite(r.latitude) && std::isfinite(r.longitude) && std::fabs(r.latitude) <= 90.0 &&
           std::fabs(r.longitude) <= 180.0 && platform::FileTimeToVariantTime(r.time, oleDate);
}

void ClearImplausibleFields(LogRecord& r) {
    if (!(std::fabs(r.altitude) <= kMaxAltitudeM)) r.altitude = 0.0f;
    if (!(r.speed >= 0.0f && r.speed <= kMaxSpeedKmh)) r.speed = 0.0f;
}

namespace {
// 2,048 records a read.
constexpr size_t kBlockBytes = 2048 * kLogRecordSize;
}  // namespace

LogRecordReader::LogRecordReader(platform::DeviceFile& file, const std::atomic<bool>* stop)
    : file_(file), stop_(stop), block_(new uint8_t[kBlockBytes]) {}

LogRecordReader::~LogRecordReader() = default;

bool LogRecordReader::Refill() {
    std::memmove(block_.get(), block_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    // A stream may return fewer bytes than asked before its end; keep reading until a
    // whole record is in or nothing more comes.
    while (!atEnd_ && end_ < kLogRecordSize) {
        if (stop_ != nullptr && stop_->load(std::memory_order_relaxed)) {
            atEnd_ = stopped_ = true;
            end_ = 0;
            break;
        }
        const size_t n = file_.Read(block_.get() + end_, kBlockBytes - end_);
        if (n == 0) {
            atEnd_ = true;
            failed_ = file_.Failed();
        }
        end_ += n;
    }
    return end_ >= kLogRecordSize;
}

bool LogRecordReader::Next(LogRecord& record) {
    for (;;) {
        if (end_ - begin_ < kLogRecordSize && !Refill()) {
            trailing_ = end_ - begin_;
            return false;
        }
        trailing_ = 0;
        const LogRecord decoded = DecodeLogRecord(block_.get() + begin_);
        begin_ += kLogRecordSize;
        // Every reader (dump, GPX, upload, offline resend) passes over a record that holds
        // no position rather than turn NaN or out-of-range values into points, and keeps
        // the position of one whose altitude or speed alone is damaged.
        if (!IsPlausibleRecord(decoded)) {
            ++skipped_;
            continue;
        }
        record = decoded;
        ClearImplausibleFields(record);
        ++count_;
        return true;
    }
}

LogRecordWriter::LogRecordWriter(std::string what, ProblemFunction problem)
    : file_(new platform::DeviceFile), what_(std::move(what)), problem_(std::move(problem)) {}

LogRecordWriter::~LogRecordWriter() {
    Close();
    if (!waiting_.empty()) {
        platform::LogError(platform::Format("%s %s: %zu positions could not be written and are lost", what_.c_str(),
                                            path_.c_str(), waiting_.size()));
    }
}

bool LogRecordWriter::Open(const std::string& devicePath) {
    Close();
    path_ = devicePath;
    if (!file_->Open(path_, "ab")) {
        error_ = platform::GetLastError();
        return false;
    }
    open_ = true;
    whole_ = false;
    const bool wasWaiting = !waiting_.empty();
    WriteWaiting();
    Report(wasWaiting);
    return true;
}

void LogRecordWriter::Close() {
    if (open_ && !waiting_.empty()) {
        WriteWaiting();
        Report(true);
    }
    file_->Close();
    open_ = false;
}

bool LogRecordWriter::Append(const LogRecord& record) {
    if (!open_) return false;
    const bool wasWaiting = !waiting_.empty();
    waiting_.push_back(record);
    if (waiting_.size() > kMaxWaiting) {
        waiting_.pop_front();
        if (dropped_++ == 0) {
            platform::LogError(platform::Format("%s %s: more than %zu positions wait; the oldest are being lost",
                                                what_.c_str(), path_.c_str(), kMaxWaiting));
        }
    }
    const bool written = WriteWaiting();
    Report(wasWaiting);
    return written;
}

void LogRecordWriter::ForgetWaiting(const std::string& where) {
    if (waiting_.empty()) return;
    platform::LogInfo(platform::Format("%s %s: the %zu positions that waited went %s", what_.c_str(), path_.c_str(),
                                       waiting_.size(), where.c_str()));
    waiting_.clear();
    dropped_ = 0;
    if (problem_) problem_("");
}

void LogRecordWriter::Report(bool wasWaiting) {
    const bool waiting = !waiting_.empty();
    if (waiting == wasWaiting) return;
    if (waiting) {
        const std::string reason = platform::ErrorText(error_);
        platform::LogWarning(what_ + " " + path_ + ": cannot write: " + reason + "; positions wait in memory");
        if (problem_)
            problem_("Can not write the " + what_ + ": " + reason + ". Positions wait in memory until it can.");
        return;
    }
    platform::LogInfo(what_ + " " + path_ + ": written again, with the positions that waited" +
                      (dropped_ != 0
                           ? platform::Format(" (%llu older ones were lost)", static_cast<unsigned long long>(dropped_))
                           : std::string()));
    dropped_ = 0;
    if (problem_) problem_("");
}

bool LogRecordWriter::WriteWaiting() {
    auto fail = [this] {
        error_ = platform::GetLastError();
        // Closed, so that the next attempt starts from what really reached the file.
        file_->Close();
        return false;
    };
    if (!file_->IsOpen()) {
        if (!file_->Open(path_, "ab")) return fail();
        whole_ = false;
    }
    if (!whole_) {
        // Appending after a cut record would shift every later record by its length and
        // make the rest of the file unreadable; one filled record is lost instead.
        const auto size = file_->Size();
        if (!size) return fail();
        if (const auto cut = static_cast<size_t>(*size % static_cast<int64_t>(kLogRecordSize)); cut != 0) {
            uint8_t filler[kLogRecordSize];
            std::memset(filler, 0xFF, sizeof filler);
            if (file_->Write(filler, kLogRecordSize - cut) != kLogRecordSize - cut || !file_->Flush()) return fail();
            platform::LogWarning(path_ + " ended in a partial record; filled it up");
        }
        whole_ = true;
    }
    while (!waiting_.empty()) {
        uint8_t bytes[kLogRecordSize];
        EncodeLogRecord(waiting_.front(), bytes);
        if (file_->Write(bytes, sizeof bytes) != sizeof bytes || !file_->Flush()) return fail();
        waiting_.pop_front();
    }
    return true;
}

}  // namespace kestrix
