#include "PointFormats.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "geo/TrackMeasure.h"
#include "geo/TrackSimplifier.h"
#include "platform/Text.h"
#include "tracklog/GeoJsonWriter.h"

namespace kestrix::refserver {

namespace {

// Milliseconds between 1601-01-01 (FILETIME's start) and 1970-01-01.
constexpr int64_t kFileTimeEpochMs = 11644473600000;

template <class T>
void AppendNumber(std::string& out, T value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    out.append(text, ec == std::errc() ? end : text);
}

// Numbers of CSV and GPX: no "null" there; not-a-number is left empty.
template <class T>
void AppendPlain(std::string& out, T value) {
    if (!std::isfinite(value)) return;
    AppendNumber(out, value);
}

TrackSample Sample(const StoredPoint& p) {
    TrackSample s;
    s.lat = p.latitude;
    s.lon = p.longitude;
    s.alt = p.altitude;
    s.speed = p.speed;
    const int64_t ms = p.AtMs() + kFileTimeEpochMs;
    s.time = ms > 0 ? static_cast<uint64_t>(ms) * 10000 : 0;
    return s;
}

bool WriteGeoJson(const PointQuery& query, size_t maxVertices, const PointSource& source, const DocumentSink& sink) {
    struct Line {
        TrackMeasure measure;  // only to learn where its segments start
        TrackSimplifier simplifier;
        std::vector<TrackSample> vertices;
        uint64_t points = 0;
    };
    Line lines[2];  // track, live
    auto lineOf = [&](const StoredPoint& p) -> Line& { return lines[p.kind == PointKind::Track ? 0 : 1]; };
    // The summary measures every point in the order of their times, both kinds together:
    // the live positions and the track points of one trip lie on one road.
    GeoJsonSummary summary;
    bool ok = source(query, [&](const StoredPoint& p) {
        const TrackSample s = Sample(p);
        summary.measure.Add(s);
        Line& line = lineOf(p);
        const bool starts = line.measure.Add(s);
        ++line.points;
        if (maxVertices)
            line.simplifier.Add(s, starts);
        else
            line.vertices.push_back(s);
        return true;
    });
    if (!ok) return false;
    if (maxVertices) {
        uint64_t index[2] = {0, 0};
        for (Line& line : lines)
            if (line.points) line.simplifier.Simplify(maxVertices);
        ok = source(query, [&](const StoredPoint& p) {
            const int k = p.kind == PointKind::Track ? 0 : 1;
            // Points stored since the first pass are left for the next request.
            if (index[k] < lines[k].points && lines[k].simplifier.Kept(index[k])) lines[k].vertices.push_back(Sample(p));
            ++index[k];
            return true;
        });
        if (!ok) return false;
    }
    for (const Line& line : lines) summary.vertices += line.vertices.size();
    GeoJsonWriter writer(sink);
    writer.Begin(summary);
    if (!lines[0].vertices.empty()) writer.Feature(lines[0].vertices, "\"kind\":\"track\"");
    if (!lines[1].vertices.empty()) writer.Feature(lines[1].vertices, "\"kind\":\"live\"");
    return writer.End();
}

}  // namespace

bool ParsePointFormat(std::string_view text, PointFormat& out) {
    static constexpr std::pair<std::string_view, PointFormat> kNames[] = {
        {"json", PointFormat::Json}, {"csv", PointFormat::Csv}, {"gpx", PointFormat::Gpx},
        {"geojson", PointFormat::GeoJson}};
    for (const auto& [name, format] : kNames)
        if (text == name) {
            out = format;
            return true;
        }
    return false;
}

const char* PointFormatType(PointFormat format) {
    switch (format) {
        case PointFormat::Json: return "application/x-ndjson; charset=utf-8";
        case PointFormat::Csv: return "text/csv; charset=utf-8";
        case PointFormat::Gpx: return "application/gpx+xml";
        case PointFormat::GeoJson: return "application/geo+json";
    }
    return "application/octet-stream";
}

const char* PointFormatExtension(PointFormat format) {
    switch (format) {
        case PointFormat::Json: return "json";
        case PointFormat::Csv: return "csv";
        case PointFormat::Gpx: return "gpx";
        case PointFormat::GeoJson: return "geojson";
    }
    return "txt";
}

void AppendJsonLine(const StoredPoint& p, std::string& out) {
    out += "{\"kind\":\"";
    out += PointKindName(p.kind);
    out += "\",\"received\":\"";
    out += FormatIsoMs(p.receivedMs);
    out += "\",\"time\":";
    if (p.HasTime()) {
        out += '"';
        out += FormatIsoMs(p.timeMs);
        out += '"';
    } else {
        out += "null";
    }
    out += ",\"lat\":";
    AppendNumber(out, p.latitude);
    out += ",\"lon\":";
    AppendNumber(out, p.longitude);
    out += ",\"alt\":";
    AppendNumber(out, p.altitude);
    out += ",\"speed\":";
    AppendNumber(out, p.speed);
    out += "}\n";
}

bool WritePoints(PointFormat format, const std::string& userName, const PointQuery& query, size_t maxVertices,
                 const PointSource& source, const DocumentSink& sink) {
    if (format == PointFormat::GeoJson) return WriteGeoJson(query, maxVertices, source, sink);
    ChunkedOutput out(sink);
    std::string line;
    auto put = [&](const std::string& text) { out.Put(text); };
    if (format == PointFormat::Json || format == PointFormat::Csv) {
        if (format == PointFormat::Csv) put("kind,received,time,lat,lon,alt,speed\n");
        const bool ok = source(query, [&](const StoredPoint& p) {
            line.clear();
            if (format == PointFormat::Json) {
                AppendJsonLine(p, line);
            } else {
                line += PointKindName(p.kind);
                line += ',';
                line += FormatIsoMs(p.receivedMs);
                line += ',';
                if (p.HasTime()) line += FormatIsoMs(p.timeMs);
                line += ',';
                AppendPlain(line, p.latitude);
                line += ',';
                AppendPlain(line, p.longitude);
                line += ',';
                AppendPlain(line, p.altitude);
                line += ',';
                AppendPlain(line, p.speed);
                line += '\n';
            }
            put(line);
            return true;
        });
        return out.Flush() && ok;
    }
    put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"kestrix-server\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n");
    for (PointKind kind : {PointKind::Track, PointKind::Live}) {
        PointQuery q = query;
        q.track = query.track && kind == PointKind::Track;
        q.live = query.live && kind == PointKind::Live;
        bool open = false;
        const bool ok = source(q, [&](const StoredPoint& p) {
            if (!open) {
                put("  <trk>\n    <name>" + platform::EscapeMarkup(userName) + " " + PointKindName(kind) +
                    "</name>\n    <trkseg>\n");
                open = true;
            }
            // Coordinates that are not numbers have no place in GPX.
            if (!std::isfinite(p.latitude) || !std::isfinite(p.longitude)) return true;
            line = "      <trkpt lat=\"";
            AppendPlain(line, p.latitude);
            line += "\" lon=\"";
            AppendPlain(line, p.longitude);
            line += "\">";
            if (std::isfinite(p.altitude)) {
                line += "<ele>";
                AppendPlain(line, p.altitude);
                line += "</ele>";
            }
            line += "<time>" + FormatIsoMs(p.AtMs()) + "</time></trkpt>\n";
            put(line);
            return true;
        });
        if (!ok) {
            out.Flush();
            return false;
        }
        if (open) put("    </trkseg>\n  </trk>\n");
    }
    put("</gpx>\n");
    return out.Flush();
}

}  // namespace kestrix::refserver
