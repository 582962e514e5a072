#include "tracklog/GpxWriter.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/DeviceFs.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace kestrix {
namespace {

// One chunk handed to the sink: large enough that a write costs nothing per point, small
// enough that memory stays flat.
constexpr size_t kChunkBytes = 256 * 1024;
// "%.6f" of the largest double: 309 digits, sign, point and six decimals.
constexpr size_t kMaxFixedBytes = 320;
// The longest point: four numbers at their widest and the fixed text around them.
constexpr size_t kMaxPointBytes = 4 * kMaxFixedBytes + 256;

template <size_t N>
char* PutText(char* p, const char (&text)[N]) {
    std::memcpy(p, text, N - 1);
    return p + N - 1;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* PutTwoDigits(char* p, unsigned v) {
    std::memcpy(p, kDigitPairs + 2 * v, 2);
    return p + 2;
}

// printf's "%.6f": the value rounded to six decimals, ties to even, "-" for every
// negative value (also one that rounds to zero, and -0.0).
char* PutFixed6(char* p, double v) {
    const double a = std::fabs(v);
    if (a < 1e9) {
        // s is a * 10^6 rounded to the nearest double. Below 2^52 both whole + 0.5 and
        // s - whole are exact and rounding is monotonic, so s lies on the same side of
        // whole + 0.5 as the exact product: the rounding it suggests is the exact one,
        // unless s lands on the half itself (a true tie, or one hidden by rounding).
        // Those, and large values, go to the exact conversion below.
        const double s = a * 1e6;
        const double whole = std::floor(s);
        const double fraction = s - whole;
        if (fraction != 0.5) {
            const uint64_t micro = static_cast<uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
            if (std::signbit(v)) *p++ = '-';
            p = std::to_chars(p, p + 24, micro / 1000000).ptr;
            *p++ = '.';
            const auto decimals = static_cast<unsigned>(micro % 1000000);
            p = PutTwoDigits(p, decimals / 10000);
            p = PutTwoDigits(p, decimals / 100 % 100);
            return PutTwoDigits(p, decimals % 100);
        }
    }
    return std::to_chars(p, p + kMaxFixedBytes, v, std::chars_format::fixed, 6).ptr;
}

// "%04i-%02i-%02iT%02i:%02i:%02i.%03iZ"; nothing written for a time that is not a
// calendar time.
char* PutIsoTime(char* p, uint64_t fileTime) {
    platform::SystemTime st;
    if (!platform::FileTimeToSystemTime(fileTime, st)) return p;
    if (st.year < 10000) {
        p = PutTwoDigits(p, st.year / 100u);
        p = PutTwoDigits(p, st.year % 100u);
    } else {
        p = std::to_chars(p, p + 8, st.year).ptr;
    }
    *p++ = '-';
    p = PutTwoDigits(p, st.month);
    *p++ = '-';
    p = PutTwoDigits(p, st.day);
    *p++ = 'T';
    p = PutTwoDigits(p, st.hour);
    *p++ = ':';
    p = PutTwoDigits(p, st.minute);
    *p++ = ':';
    p = PutTwoDigits(p, st.second);
    *p++ = '.';
    *p++ = static_cast<char>('0' + st.milliseconds / 100);
    p = PutTwoDigits(p, st.milliseconds % 100u);
    *p++ = 'Z';
    return p;
}

// One track point's lines; needs kMaxPointBytes of room. Returns p itself (nothing
// written) for a record whose coordinates are not finite.
char* PutPoint(char* p, const LogRecord& r) {
    if (!std::isfinite(r.latitude) || !std::isfinite(r.longitude)) return p;
    p = PutText(p, "\t\t\t<trkpt lat=\"");
    p = PutFixed6(p, r.latitude);
    p = PutText(p, "\" lon=\"");
    p = PutFixed6(p, r.longitude);
    p = PutText(p, "\">\r\n");
    // A damaged value would print as "nan"; leaving it out keeps the document readable.
    if (r.altitude != 0.0f && std::isfinite(r.altitude)) {
        p = PutText(p, "\t\t\t\t<ele>");
        p = PutFixed6(p, static_cast<double>(r.altitude));
        p = PutText(p, "</ele>\r\n");
    }
    char* const timeAt = p + (sizeof "\t\t\t\t<time>" - 1);
    char* const timeEnd = PutIsoTime(timeAt, r.time);
    if (timeEnd != timeAt) {
        PutText(p, "\t\t\t\t<time>");
        p = PutText(timeEnd, "</time>\r\n");
    }
    if (r.speed != 0.0f && std::isfinite(r.speed)) {
        p = PutText(p, "\t\t\t\t<speed>");
        p = PutFixed6(p, static_cast<double>(r.speed));
        p = PutText(p, "</speed>\r\n");
    }
    return PutText(p, "\t\t\t</trkpt>\r\n");
}

// Collects the document in one buffer and hands it to the sink a chunk at a time. After
// a failed write nothing more is handed over.
class ChunkedOutput {
public:
    explicit ChunkedOutput(const GpxSink& sink) : sink_(sink), buffer_(new char[kChunkBytes]) {}

    // Room for `bytes` (at most kChunkBytes) at the returned position; Commit the end.
    char* Room(size_t bytes) {
        if (kChunkBytes - used_ < bytes) Flush();
        return buffer_.get() + used_;
    }
    void Commit(char* end) { used_ = static_cast<size_t>(end - buffer_.get()); }

    void Put(std::string_view text) {
        if (text.size() > kChunkBytes - used_) {
            Flush();
            if (text.size() > kChunkBytes) {
                Hand(text.data(), text.size());
                return;
            }
        }
        std::memcpy(buffer_.get() + used_, text.data(), text.size());
        used_ += text.size();
    }

    // True when every byte so far reached the sink.
    bool Flush() {
        if (used_ > 0) Hand(buffer_.get(), used_);
        used_ = 0;
        return ok_;
    }

private:
    void Hand(const char* data, size_t size) {
        if (ok_ && size > 0) ok_ = sink_(data, size);
    }

    const GpxSink& sink_;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    bool ok_ = true;
};

}  // namespace

std::string FormatIsoTime(uint64_t fileTime) {
    char text[32];
    return std::string(text, PutIsoTime(text, fileTime));
}

std::string GpxHeader(const std::string& trackName) {
    std::string s = "<?xml version='1.0' ?>\r\n";
    s += "<gpx xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" version=\"1.1\" creator=\"GMRLogger\" "
         "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd\" "
         "xmlns=\"http://www.topografix.com/GPX/1/1\">\r\n";
    s += "\t<trk>\n";
    s += "\t\t<name>" + platform::EscapeMarkup(trackName) + "</name>\r\n";
    s += "\t\t<trkseg>\r\n";
    return s;
}

std::string GpxPoint(const LogRecord& r) {
    char text[kMaxPointBytes];
    return std::string(text, PutPoint(text, r));
}

std::string GpxFooter() { return "\t\t</trkseg>\r\n\t</trk>\r\n</gpx>"; }

GpxWriteResult WriteGpxDocument(const GpxSink& sink, const std::string& trackName,
                                const std::function<bool(LogRecord&)>& next) {
    GpxWriteResult result;
    ChunkedOutput out(sink);
    out.Put(GpxHeader(trackName));
    LogRecord record;
    while (next(record)) {
        char* const at = out.Room(kMaxPointBytes);
        char* const end = PutPoint(at, record);
        if (end == at) {
            ++result.skipped;
            continue;
        }
        out.Commit(end);
        ++result.points;
    }
    out.Put(GpxFooter());
    result.complete = out.Flush();
    return result;
}

GpxWriteResult WriteGpxDocument(platform::DeviceFile& out, const std::string& trackName,
                                const std::function<bool(LogRecord&)>& next) {
    return WriteGpxDocument([&out](const char* data, size_t size) { return out.Write(data, size) == size; },
                            trackName, next);
}

GpxConversion ConvertLogToGpx(platform::DeviceFile& log, const std::string& trackName, const GpxSink& out,
                              const std::atomic<bool>* stop) {
    LogRecordReader reader(log, stop);
    const GpxWriteResult written =
        WriteGpxDocument(out, trackName, [&reader](LogRecord& r) { return reader.Next(r); });
    GpxConversion c;
    c.points = written.points;
    c.damaged = reader.Skipped() + written.skipped;
    c.trailingBytes = reader.TrailingBytes();
    c.readFailed = reader.Failed();
    c.stopped = reader.Stopped();
    c.complete = written.complete;
    return c;
}

}  // namespace kestrix
