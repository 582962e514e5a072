// A GpsFixListener that keeps what it hears, for the decoding tests.
#pragma once
#include <vector>

#include "geo/Listeners.h"

namespace kestrix::test {

class FixRecorder : public GpsFixListener {
public:
    void OnSignalLevel(int level) override { levels.push_back(level); }
    void OnFixLost() override { ++lost; }
    void OnFix(TrackPointRef point) override { fixes.push_back(std::move(point)); }

    std::vector<TrackPointRef> fixes;
    std::vector<int> levels;
    int lost = 0;
};

}  // namespace kestrix::test
