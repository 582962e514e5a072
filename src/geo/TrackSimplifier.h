// TrackSimplifier: chooses which positions of a track to draw so that the whole track holds
// at most a given number of vertices and keeps its shape: Douglas-Peucker over every
// segment with one tolerance for the whole track, the smallest that meets the vertex budget
// (never every k-th position). A segment always keeps its first and last position; a corner
// far off the line between its neighbours outlives straight stretches.
//
// Streaming use, so a long track never has to be held whole: a first pass hands every
// position to Add (with whether it starts a segment, as TrackMeasure says), Simplify then
// chooses, and a second pass over the same positions asks Kept for each by its index.
// It holds 12 bytes a position (a local projection and the tolerance) until Simplify,
// and one bit a position after it.
// Pure; one thread at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "geo/TrackMeasure.h"

namespace kestrix {

class TrackSimplifier {
public:
    void Add(const TrackSample& p, bool startsSegment);

    // Chooses at most maxVertices vertices (2 or more). A segment of one position is drawn
    // as a line of two equal positions and counts twice. When the ends of the segments
    // alone need more, the oldest segments are left out whole.
    void Simplify(size_t maxVertices);

    // After Simplify: whether the position with this index (0 for the first given to Add)
    // is drawn.
    bool Kept(uint64_t index) const { return index < kept_.size() && kept_[index]; }
    // The vertices drawn, one-position segments counted twice.
    uint64_t Vertices() const { return vertices_; }
    uint64_t SegmentsLeftOut() const { return leftOut_; }

private:
    // Metres east and north of the segment's first position (a local flat projection: it
    // only ranks positions within one segment).
    std::vector<float> x_;
    std::vector<float> y_;
    // The squared tolerance below which a position is kept; infinite for segment ends, -1
    // for a position never ranked (below the tolerance chosen).
    std::vector<float> rank_;
    std::vector<size_t> segmentStarts_;
    double originLat_ = 0.0;
    double originLon_ = 0.0;
    double eastScale_ = 0.0;
    std::vector<bool> kept_;
    uint64_t vertices_ = 0;
    uint64_t leftOut_ = 0;
};

}  // namespace kestrix
