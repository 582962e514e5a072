#include "tracklog/GpxWriter.h"

#include <cmath>
#include <cstring>

#include "platform/DeviceFs.h"
#include "platform/Text.h"
#include "tracklog/DocumentOutput.h"

namespace kestrix {
namespace {

// The longest point: four numbers at their widest and the fixed text around them.
constexpr size_t kMaxPointBytes = 4 * kMaxFixedBytes + 256;

template <size_t N>
char* PutText(char* p, const char (&text)[N]) {
    std::memcpy(p, text, N - 1);
    return p + N - 1;
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
