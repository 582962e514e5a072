// PointFormats: an account's points as the API and the pages' downloads give them, written
// a point at a time into a sink of chunks, so that a million points go out in the memory of
// one chunk (GeoJSON excepted, see below).
//
//   json     one object a line, as `kestrix-server export` prints them:
//            {"kind":"live","received":"ISO","time":null,"lat":..,"lon":..,"alt":..,"speed":..}
//   csv      "kind,received,time,lat,lon,alt,speed", then a line a point (time empty when
//            the point has none)
//   gpx      GPX 1.1, one <trk> per kind present, named "NAME track" and "NAME live", each
//            point a <trkpt> with <ele> and <time> (a track point's own time, else the
//            receive time)
//   geojson  a FeatureCollection with the summary of the tracker's /api/track (measured
//            over both kinds in the order of their times) and one LineString Feature per
//            kind present, properties.kind, .times and .speeds; it holds the vertices it
//            draws (32 bytes each; with simplify=N, 12 bytes a point and N vertices, and
//            the points are read twice)
//
// Numbers are the shortest text that reads back as the same value; times ISO 8601 UTC with
// milliseconds. Pure apart from the sink; one thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "Store.h"
#include "tracklog/DocumentOutput.h"

namespace kestrix::refserver {

enum class PointFormat { Json, Csv, Gpx, GeoJson };

// "json", "csv", "gpx" or "geojson"; false for anything else.
bool ParsePointFormat(std::string_view text, PointFormat& out);
const char* PointFormatType(PointFormat format);       // the Content-Type
const char* PointFormatExtension(PointFormat format);  // "json", "csv", "gpx", "geojson"

// One line of the json format, with its line end.
void AppendJsonLine(const StoredPoint& p, std::string& out);

// Reads the points of a query once per kind, in the order of ForEachPointIn; false when the
// store fails (its Error says why).
using PointSource = std::function<bool(const PointQuery& query, const std::function<bool(const StoredPoint&)>& visit)>;

// Writes the document of the query's points (see above); maxVertices 0: every point of a
// geojson line. False when the source failed or the sink refused a chunk.
bool WritePoints(PointFormat format, const std::string& userName, const PointQuery& query, size_t maxVertices,
                 const PointSource& source, const DocumentSink& sink);

}  // namespace kestrix::refserver
