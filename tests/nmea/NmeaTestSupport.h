// Shared by the decoding tests: a fixture that installs a stepped device clock reading
// 2031-05-17 08:09:10.250 UTC.
#pragma once
#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "support/Recorders.h"
#include "support/TestSupport.h"

namespace kestrix::test {

class DeviceClockTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetDeviceClock(&clock); }
    void TearDown() override { platform::SetDeviceClock(nullptr); }
    static uint64_t DeviceTime() { return FileTimeOf(2031, 5, 17, 8, 9, 10, 250); }
    platform::ManualClock clock{1000, DeviceTime()};
};

}  // namespace kestrix::test
