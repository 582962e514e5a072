#include "tracklog/LogRecord.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "platform/DeviceFs.h"

namespace kestrix {
namespace {

// Byte by byte so the layout does not depend on the host's byte order or struct padding.
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}
uint64_t GetU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
    return v;
}

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
    return std::isfinite(r.latitude) && std::isfinite(r.longitude) && std::fabs(r.latitude) <= 90.0 &&
           std::fabs(r.longitude) <= 180.0;
}

bool LogRecordReader::Next(LogRecord& record) {
    for (;;) {
        uint8_t buf[kLogRecordSize];
        size_t got = 0;
        // A stream may return fewer bytes than asked before its end; keep reading until a
        // whole record is in or nothing more comes.
        while (got < kLogRecordSize) {
            size_t n = file_.Read(buf + got, kLogRecordSize - got);
            if (n == 0) break;
            got += n;
        }
        if (got < kLogRecordSize) {
            trailing_ = got;
            return false;
        }
        trailing_ = 0;
        LogRecord decoded = DecodeLogRecord(buf);
        // Every reader (dump, GPX, upload, offline resend) passes over a record that holds
        // no position rather than turn NaN or out-of-range values into points.
        if (!IsPlausibleRecord(decoded)) {
            ++skipped_;
            continue;
        }
        record = decoded;
        ++count_;
        return true;
    }
}

}  // namespace kestrix
