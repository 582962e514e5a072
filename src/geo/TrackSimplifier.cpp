#include "geo/TrackSimplifier.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrix {
namespace {

constexpr double kMetresPerDegree = 111'319.49;
constexpr float kEnd = std::numeric_limits<float>::infinity();

// Squared distance from p to the segment a-b.
float DistanceToSegment2(float px, float py, float ax, float ay, float bx, float by) {
    const double dx = bx - ax;
    const double dy = by - ay;
    double t = 0.0;
    const double length2 = dx * dx + dy * dy;
    if (length2 > 0.0) t = std::clamp(((px - ax) * dx + (py - ay) * dy) / length2, 0.0, 1.0);
    const double ex = px - (ax + t * dx);
    const double ey = py - (ay + t * dy);
    return static_cast<float>(ex * ex + ey * ey);
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

// Douglas-Peucker without recursion (a segment may hold a million positions): each inner
// position's rank is its distance from the chord it split, capped by the rank of the split
// above it, so that it is kept for exactly the tolerances its whole chain of splits is.
void TrackSimplifier::RankSegment(size_t begin, size_t end) {
    rank_[begin] = rank_[end - 1] = kEnd;
    struct Span {
        size_t first;
        size_t last;
        float cap;
    };
    std::vector<Span> stack{{begin, end - 1, kEnd}};
    while (!stack.empty()) {
        const Span s = stack.back();
        stack.pop_back();
        if (s.last - s.first < 2) continue;
        size_t far = s.first + 1;
        float farthest = -1.0f;
        for (size_t i = s.first + 1; i < s.last; ++i) {
            const float d = DistanceToSegment2(x_[i], y_[i], x_[s.first], y_[s.first], x_[s.last], y_[s.last]);
            if (d > farthest) {
                farthest = d;
                far = i;
            }
        }
        const float rank = std::min(farthest, s.cap);
        rank_[far] = rank;
        // The shorter part is taken next, so the stack never holds more than about log2(n)
        // parts whatever the shape.
        const Span before{s.first, far, rank};
        const Span after{far, s.last, rank};
        const bool beforeShorter = far - s.first < s.last - far;
        stack.push_back(beforeShorter ? after : before);
        stack.push_back(beforeShorter ? before : after);
    }
}

void TrackSimplifier::Simplify(size_t maxVertices) {
    const size_t n = x_.size();
    segmentStarts_.push_back(n);  // the end of the last segment
    const size_t segments = segmentStarts_.size() - 1;
    const size_t shown = std::min(segments, maxVertices / 2);
    leftOut_ = segments - shown;
    const size_t firstShown = segmentStarts_[leftOut_];

    rank_.assign(n, 0.0f);
    for (size_t s = leftOut_; s < segments; ++s) RankSegment(segmentStarts_[s], segmentStarts_[s + 1]);

    // The smallest tolerance that meets the budget: inner positions ranked above the
    // (budget + 1)-th highest rank are kept (ties at the threshold go, so never more).
    const size_t room = maxVertices - 2 * shown;
    std::vector<float> ranks;
    ranks.reserve(n - firstShown);
    for (size_t i = firstShown; i < n; ++i) {
        if (rank_[i] != kEnd) ranks.push_back(rank_[i]);
    }
    float threshold = -1.0f;
    if (ranks.size() > room) {
        std::nth_element(ranks.begin(), ranks.begin() + static_cast<std::ptrdiff_t>(room), ranks.end(),
                         std::greater<float>());
        threshold = ranks[room];
    }
    std::vector<float>().swap(ranks);

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
