#include "tracklog/GpxWriter.h"

#include <cmath>

#include "platform/DeviceFs.h"
#include "platform/Text.h"
#include "platform/Time.h"

namespace kestrix {
namespace {

bool Put(platform::DeviceFile& out, const std::string& text) {
    return text.empty() || out.Write(text.data(), text.size()) == text.size();
}

}  // namespace

std::string FormatIsoTime(uint64_t fileTime) {
    platform::SystemTime st;
    if (!platform::FileTimeToSystemTime(fileTime, st)) return std::string();
    return platform::Format("%04i-%02i-%02iT%02i:%02i:%02i.%03iZ", st.year, st.month, st.day, st.hour, st.minute,
                            st.second, st.milliseconds);
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
    if (!std::isfinite(r.latitude) || !std::isfinite(r.longitude)) return std::string();
    std::string s = platform::Format("\t\t\t<trkpt lat=\"%04.6f\" lon=\"%04.6f\">\r\n", r.latitude, r.longitude);
    // A damaged value would print as "nan"; leaving it out keeps the document readable.
    if (r.altitude != 0.0f && std::isfinite(r.altitude)) {
        s += platform::Format("\t\t\t\t<ele>%f</ele>\r\n", static_cast<double>(r.altitude));
    }
    std::string time = FormatIsoTime(r.time);
    if (!time.empty()) s += "\t\t\t\t<time>" + time + "</time>\r\n";
    if (r.speed != 0.0f && std::isfinite(r.speed)) {
        s += platform::Format("\t\t\t\t<speed>%f</speed>\r\n", static_cast<double>(r.speed));
    }
    s += "\t\t\t</trkpt>\r\n";
    return s;
}

std::string GpxFooter() { return "\t\t</trkseg>\r\n\t</trk>\r\n</gpx>"; }

GpxWriteResult WriteGpxDocument(platform::DeviceFile& out, const std::string& trackName,
                                const std::function<bool(LogRecord&)>& next) {
    GpxWriteResult result;
    bool ok = Put(out, GpxHeader(trackName));
    LogRecord record;
    while (next(record)) {
        std::string point = GpxPoint(record);
        if (point.empty()) {
            ++result.skipped;
            continue;
        }
        ok = Put(out, point) && ok;
        ++result.points;
    }
    ok = Put(out, GpxFooter()) && ok;
    result.complete = ok;
    return result;
}

}  // namespace kestrix
