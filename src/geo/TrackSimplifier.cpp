#include "geo/TrackSimplifier.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <queue>

namespace kestrix {
namespace {

constexpr double kMetresPerDegree = 111'319.49;
constexpr float kEnd = std::numeric_limits<float>::infinity();

// The inner position of first..last farthest from the chord between them (its distance
// squared in farthest): the scan that all of the simplification's time goes into.
size_t Farthest(const float* x, const float* y, size_t first, size_t last, float& farthest) {
    const float ax = x[first];
    const float ay = y[first];
    const float dx = x[last] - ax;
    const float dy = y[last] - ay;
    const float length2 = dx * dx + dy * dy;
    const float inverse = length2 > 0.0f ? 1.0f / length2 : 0.0f;
    size_t far = first + 1;
    farthest = -1.0f;
    for (size_t i = first + 1; i < last; ++i) {
        const float px = x[i] - ax;
        const float py = y[i] - ay;
        const float along = px * dx + py * dy;
        float d;
        if (along <= 0.0f || length2 == 0.0f) {
            d = px * px + py * py;  // before the chord's start
        } else if (along >= length2) {
            const float qx = px - dx;
            const float qy = py - dy;
            d = qx * qx + qy * qy;  // past its end
        } else {
            const float across = px * dy - py * dx;
            d = across * across * inverse;
        }
        if (d > farthest) {
            farthest = d;
            far = i;
        }
    }
    return far;
}

}  // namespace

void TrackSimplifier::Add(const TrackSample& p, bool startsSegment) {
    if (startsSegment || x_.empty()) {
        segmentStarts_.push_back(x_.size());
        originLat_ = p.lat;
        originLon_ = p.lon;
        eastScale_ = kMetresPerDegree * std::cos(p.lat * 0.017453292519943295);
    }
    // The shorter way round, so a segment across the antimeridian stays in one piece.
    double east = p.lon - originLon_;
    if (east > 180.0) east -= 360.0;
    if (east < -180.0) east += 360.0;
    x_.push_back(static_cast<float>(east * eastScale_));
    y_.push_back(static_cast<float>((p.lat - originLat_) * kMetresPerDegree));
}

// Douglas-Peucker, with one tolerance for every shown segment, the smallest that meets the
// budget. An inner position's rank is its distance from the chord it splits, capped by the
// rank of the split above it: it is kept for exactly the tolerances its whole chain of
// splits is, and the (room + 1)-th highest rank is the tolerance. Parts of segments are
// split highest cap first, and the splitting stops once no part left can hold a rank above
// the tolerance found so far: the answer is the whole recursion's, for about the work of its
// first log2(budget) levels.
void TrackSimplifier::Simplify(size_t maxVertices) {
    const size_t n = x_.size();
    segmentStarts_.push_back(n);  // the end of the last segment
    const size_t segments = segmentStarts_.size() - 1;
    const size_t shown = std::min(segments, maxVertices / 2);
    leftOut_ = segments - shown;
    const size_t room = maxVertices - 2 * shown;

    struct Span {
        size_t first;
        size_t last;
        float cap;
        bool operator<(const Span& o) const { return cap < o.cap; }
    };
    std::priority_queue<Span> spans;
    rank_.assign(n, -1.0f);  // -1: below the tolerance without being ranked
    for (size_t s = leftOut_; s < segments; ++s) {
        const size_t first = segmentStarts_[s];
        const size_t last = segmentStarts_[s + 1] - 1;
        rank_[first] = rank_[last] = kEnd;
        if (last - first >= 2) spans.push({first, last, kEnd});
    }
    // The room + 1 highest ranks so far, lowest on top.
    std::priority_queue<float, std::vector<float>, std::greater<float>> best;
    while (!spans.empty()) {
        const Span s = spans.top();
        if (best.size() > room && best.top() >= s.cap) break;  // nothing left can rank higher
        spans.pop();
        float farthest = 0.0f;
        const size_t far = Farthest(x_.data(), y_.data(), s.first, s.last, farthest);
        const float rank = std::min(farthest, s.cap);
        rank_[far] = rank;
        best.push(rank);
        if (best.size() > room + 1) best.pop();
        if (far - s.first >= 2) spans.push({s.first, far, rank});
        if (s.last - far >= 2) spans.push({far, s.last, rank});
    }
    // Inner positions ranked above the (room + 1)-th highest rank are kept: ties at the
    // tolerance go, so never more than the budget.
    const float threshold = best.size() > room ? best.top() : -1.0f;

    kept_.assign(n, false);
    vertices_ = 0;
    for (size_t s = leftOut_; s < segments; ++s) {
        const size_t begin = segmentStarts_[s];
        const size_t end = segmentStarts_[s + 1];
        if (end - begin == 1) vertices_ += 1;  // drawn twice
        for (size_t i = begin; i < end; ++i) {
            if (rank_[i] > threshold) {
                kept_[i] = true;
                ++vertices_;
            }
        }
    }
    // Only the choice is needed from here on.
    std::vector<float>().swap(x_);
    std::vector<float>().swap(y_);
    std::vector<float>().swap(rank_);
}

}  // namespace kestrix
