#include "tracklog/GeoJsonWriter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "geo/TrackSimplifier.h"
#include "platform/DeviceFs.h"
#include "platform/LastError.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

// The longest vertex in any of the three arrays.
constexpr size_t kMaxVertexBytes = 3 * kMaxFixedBytes + 64;

char* PutText(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

// The shortest text that reads back as the same value; 0 for a value that is not finite.
template <typename T>
char* PutNumber(char* p, T v) {
    if (!std::isfinite(v)) return PutText(p, "0");
    return std::to_chars(p, p + kMaxFixedBytes, v).ptr;
}

char* PutTime(char* p, uint64_t fileTime) {
    char* const at = p + 1;
    char* const end = PutIsoTime(at, fileTime);
    if (end == at) return PutText(p, "null");
    *p = '"';
    *end = '"';
    return end + 1;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            static const char* const hex = "0123456789abcdef";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

TrackSample ToSample(const LogRecord& r) { return {r.latitude, r.longitude, r.altitude, r.speed, r.time}; }

bool InRange(const TrackQuery& q, uint64_t time) {
    return (!q.from || time >= *q.from) && (!q.to || time < *q.to);
}

}  // namespace

GeoJsonWriter::GeoJsonWriter(const DocumentSink& sink) : out_(sink) {}

void GeoJsonWriter::Begin(const GeoJsonSummary& s) {
    const TrackMeasure& m = s.measure;
    char* p = out_.Room(1024);
    p = PutText(p, "{\"type\":\"FeatureCollection\",\"summary\":{\"records\":");
    p = PutNumber(p, m.Records());
    p = PutText(p, ",\"vertices\":");
    p = PutNumber(p, s.vertices);
    p = PutText(p, ",\"segments\":");
    p = PutNumber(p, m.Segments());
    p = PutText(p, ",\"segmentsLeftOut\":");
    p = PutNumber(p, s.segmentsLeftOut);
    p = PutText(p, ",\"distance_m\":");
    p = std::to_chars(p, p + kMaxFixedBytes, std::round(m.DistanceM() * 10.0) / 10.0, std::chars_format::fixed, 1).ptr;
    p = PutText(p, ",\"duration_s\":");
    p = PutNumber(p, m.DurationS());
    p = PutText(p, ",\"start\":");
    p = m.Records() ? PutTime(p, m.Start()) : PutText(p, "null");
    p = PutText(p, ",\"end\":");
    p = m.Records() ? PutTime(p, m.End()) : PutText(p, "null");
    p = PutText(p, ",\"maxSpeedKmh\":");
    p = PutNumber(p, m.MaxSpeedKmh());
    p = PutText(p, ",\"skipped\":");
    p = PutNumber(p, s.skipped);
    out_.Commit(p);
    if (s.log) out_.Put(",\"log\":" + JsonString(*s.log));
    out_.Put("},\"features\":[");
}

void GeoJsonWriter::Feature(const std::vector<TrackSample>& vertices, std::string_view extraProperties) {
    if (vertices.empty()) return;
    // One position is drawn as a line to itself.
    const size_t count = vertices.size() == 1 ? 2 : vertices.size();
    const auto at = [&](size_t i) -> const TrackSample& { return vertices[std::min(i, vertices.size() - 1)]; };
    out_.Put(first_ ? "{\"type\":\"Feature\",\"properties\":{" : ",{\"type\":\"Feature\",\"properties\":{");
    first_ = false;
    if (!extraProperties.empty()) {
        out_.Put(extraProperties);
        out_.Put(",");
    }
    out_.Put("\"times\":[");
    for (size_t i = 0; i < count; ++i) {
        char* p = out_.Room(kMaxVertexBytes);
        if (i > 0) *p++ = ',';
        out_.Commit(PutTime(p, at(i).time));
    }
    out_.Put("],\"speeds\":[");
    for (size_t i = 0; i < count; ++i) {
        char* p = out_.Room(kMaxVertexBytes);
        if (i > 0) *p++ = ',';
        out_.Commit(PutNumber(p, at(i).speed));
    }
    out_.Put("]},\"geometry\":{\"type\":\"LineString\",\"coordinates\":[");
    for (size_t i = 0; i < count; ++i) {
        char* p = out_.Room(kMaxVertexBytes);
        if (i > 0) *p++ = ',';
        *p++ = '[';
        p = PutFixed6(p, at(i).lon);
        *p++ = ',';
        p = PutFixed6(p, at(i).lat);
        *p++ = ',';
        p = PutNumber(p, at(i).alt);
        *p++ = ']';
        out_.Commit(p);
    }
    out_.Put("]}}");
}

bool GeoJsonWriter::End() {
    out_.Put("]}");
    return out_.Flush();
}

GeoJsonConversion ConvertLogToGeoJson(platform::DeviceFile* log, const TrackQuery& query, const DocumentSink& out) {
    GeoJsonConversion result;
    GeoJsonSummary summary;
    summary.log = query.log;
    TrackSimplifier simplifier;
    LogRecord record;
    if (log) {
        LogRecordReader reader(*log);
        while (reader.Next(record)) {
            if (!InRange(query, record.time)) continue;
            const TrackSample s = ToSample(record);
            simplifier.Add(s, summary.measure.Add(s));
        }
        summary.skipped = reader.Skipped();
        result.readFailed = reader.Failed();
    }
    if (result.readFailed) return result;
    simplifier.Simplify(query.maxVertices);
    summary.vertices = simplifier.Vertices();
    summary.segmentsLeftOut = simplifier.SegmentsLeftOut();
    result.records = summary.measure.Records();
    result.vertices = summary.vertices;
    result.damaged = summary.skipped;

    GeoJsonWriter writer(out);
    writer.Begin(summary);
    if (result.records > 0) {
        // The same records again, up to the last one measured: what the logger appends
        // meanwhile waits for the next request.
        if (!log->Rewind()) {
            result.readFailed = true;
            return result;
        }
        LogRecordReader reader(*log);
        std::vector<TrackSample> feature;
        TrackSample last;
        uint64_t index = 0;
        while (index < result.records && reader.Next(record)) {
            if (!InRange(query, record.time)) continue;
            const TrackSample s = ToSample(record);
            if (index > 0 && IsSegmentGap(last.time, s.time)) {
                writer.Feature(feature);
                feature.clear();
            }
            if (simplifier.Kept(index)) feature.push_back(s);
            last = s;
            ++index;
        }
        if (index < result.records) {
            result.readFailed = true;
            if (!reader.Failed()) platform::SetLastError(EIO);  // the file shrank under us
            return result;
        }
        writer.Feature(feature);
    }
    result.complete = writer.End();
    return result;
}

LogDays ReadLogDays(platform::DeviceFile& log) {
    LogDays result;
    TrackDays days;
    LogRecordReader reader(log);
    LogRecord record;
    while (reader.Next(record)) days.Add(ToSample(record));
    result.days = days.Days();
    result.damaged = reader.Skipped();
    result.readFailed = reader.Failed();
    return result;
}

std::string FormatDay(uint64_t day) {
    char text[32];
    const char* end = PutIsoTime(text, day * kTicksPerDay);
    return std::string(text, std::min<size_t>(10, static_cast<size_t>(end - text)));
}

}  // namespace kestrix
