// Writes a track as a GeoJSON FeatureCollection (RFC 7946) for a map: a top-level
// "summary" member, then one LineString Feature per segment with coordinates
// [lon, lat, alt] (angles with six decimals, altitude in metres) and, per vertex,
// properties.times (ISO 8601 UTC with milliseconds) and properties.speeds (km/h):
//   {"type":"FeatureCollection","summary":{"records":3,"vertices":3,"segments":1,
//    "segmentsLeftOut":0,"distance_m":41234.5,"duration_s":120,"start":"...","end":"...",
//    "maxSpeedKmh":36,"skipped":0,"log":"\\anna.log"},"features":[{"type":"Feature",
//    "properties":{"times":[...],"speeds":[...]},"geometry":{"type":"LineString",
//    "coordinates":[[11.523240,48.121370,512.5],...]}}]}
// A one-position segment is drawn as a line of two equal positions (a LineString needs
// two). Altitudes and speeds that are not finite numbers are written as 0 (not known).
//
// ConvertLogToGeoJson answers for the track log: the records in a time range, measured
// (TrackMeasure) and simplified to a vertex budget (TrackSimplifier). It reads the log
// twice, measuring and ranking first and writing second, so it holds a few bytes a record
// whatever the log's size; records appended meanwhile are left for the next request.
// Pure apart from the files it is given; one thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "geo/TrackMeasure.h"
#include "tracklog/DocumentOutput.h"

namespace kestrix {

namespace platform {
class DeviceFile;
}

constexpr size_t kDefaultTrackVertices = 5000;
constexpr size_t kMaxTrackVertices = 50000;

struct GeoJsonSummary {
    TrackMeasure measure;  // records, segments, distance, times and top speed
    uint64_t vertices = 0;
    uint64_t segmentsLeftOut = 0;
    uint64_t skipped = 0;            // damaged records passed over
    std::optional<std::string> log;  // the log's device path, when there is one
};

class GeoJsonWriter {
public:
    explicit GeoJsonWriter(const DocumentSink& sink);
    void Begin(const GeoJsonSummary& summary);
    // One segment's vertices, in order (none: nothing written). extraProperties: further
    // members of properties as JSON text ("\"kind\":\"live\""), or empty.
    void Feature(const std::vector<TrackSample>& vertices, std::string_view extraProperties = {});
    // True when every byte reached the sink.
    bool End();

private:
    ChunkedOutput out_;
    bool first_ = true;
};

struct TrackQuery {
    std::optional<uint64_t> from;  // FILETIME, inclusive
    std::optional<uint64_t> to;    // FILETIME, exclusive
    size_t maxVertices = kDefaultTrackVertices;  // 2 or more
    std::optional<std::string> log;
};

struct GeoJsonConversion {
    uint64_t records = 0;
    uint64_t vertices = 0;
    uint64_t damaged = 0;
    bool readFailed = false;  // the log could not be read to its end (LastError tells why)
    bool complete = true;     // every byte reached the sink
};

// The document for the log (read from its start; nullptr: there is none, and the
// collection is empty).
GeoJsonConversion ConvertLogToGeoJson(platform::DeviceFile* log, const TrackQuery& query, const DocumentSink& out);

struct LogDays {
    std::vector<TrackDay> days;  // oldest first
    uint64_t damaged = 0;
    bool readFailed = false;
};
LogDays ReadLogDays(platform::DeviceFile& log);

// "2026-12-07" for a day of TrackDay.
std::string FormatDay(uint64_t day);

}  // namespace kestrix
