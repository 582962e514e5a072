// What a person asks of a logged trip, measured over a plain sequence of positions in the
// order they were recorded: how many, how far, how long, how fast, and the same per UTC day.
// The track falls into segments: a gap of more than ten minutes between two positions (or
// a clock that went back as far) starts a new one, and no distance is counted across it.
// Distances are geodesics on the WGS84 ellipsoid (GeographicLib), to the millimetre; the
// fix filter keeps its own whole-degree approximation.
// Units: degrees, metres, km/h, FILETIME ticks (UTC). Pure; one thread at a time.
#pragma once
#include <cstdint>
#include <map>
#include <vector>

namespace kestrix {

// One recorded position: the fields every store of positions has (the track log's
// records, the tracking server's points).
struct TrackSample {
    double lat = 0.0;     // degrees, south negative
    double lon = 0.0;     // degrees, west negative
    float alt = 0.0f;     // metres, 0 = not known
    float speed = 0.0f;   // km/h, 0 = not known
    uint64_t time = 0;    // FILETIME, UTC
};

constexpr uint64_t kTicksPerSecond = 10'000'000;
constexpr uint64_t kSegmentGapTicks = 10 * 60 * kTicksPerSecond;
constexpr uint64_t kTicksPerDay = 86'400 * kTicksPerSecond;

// Whether a position recorded at `after` starts a new segment behind one at `before`.
bool IsSegmentGap(uint64_t before, uint64_t after);

// Metres along the geodesic between two positions (degrees) on the WGS84 ellipsoid.
double GeodesicDistanceM(double lat1, double lon1, double lat2, double lon2);

class TrackMeasure {
public:
    // The next position; true when it starts a segment (the first one always does).
    bool Add(const TrackSample& p);

    uint64_t Records() const { return records_; }
    uint64_t Segments() const { return segments_; }
    // Summed segment by segment, between consecutive positions.
    double DistanceM() const { return distanceM_; }
    // The earliest and latest time (0 with no position).
    uint64_t Start() const { return start_; }
    uint64_t End() const { return end_; }
    double DurationS() const { return static_cast<double>(end_ - start_) / kTicksPerSecond; }
    // The highest finite speed recorded (0 with none).
    float MaxSpeedKmh() const { return maxSpeed_; }

private:
    uint64_t records_ = 0;
    uint64_t segments_ = 0;
    double distanceM_ = 0.0;
    uint64_t start_ = 0;
    uint64_t end_ = 0;
    float maxSpeed_ = 0.0f;
    TrackSample last_;
};

struct TrackDay {
    uint64_t day = 0;  // whole days since 1601-01-01 (FILETIME / kTicksPerDay)
    uint64_t records = 0;
    double distanceM = 0.0;  // a step between two positions counts on the later one's day
};

// The UTC days a sequence of positions covers, oldest first.
class TrackDays {
public:
    void Add(const TrackSample& p);
    std::vector<TrackDay> Days() const;

private:
    std::map<uint64_t, TrackDay> days_;
    bool any_ = false;
    TrackSample last_;
};

}  // namespace kestrix
