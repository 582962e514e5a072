// Shared by the decoding tests: a fix listener that keeps what it hears, and a fixture
// that installs a stepped device clock reading 2031-05-17 08:09:10.250 UTC.
#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "base/Listeners.h"
#include "platform/Clock.h"
#include "support/TestSupport.h"

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

class DeviceClockTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetDeviceClock(&clock); }
    void TearDown() override { platform::SetDeviceClock(nullptr); }
    static uint64_t DeviceTime() { return FileTimeOf(2031, 5, 17, 8, 9, 10, 250); }
    platform::ManualClock clock{1000, DeviceTime()};
};

}  // namespace kestrix::test
