// Helpers shared by the GPS input tests: fixes as comparable text, the reference fixes of
// a capture, a gpsd fed by gpsfake, and a fixture with a pseudo-terminal as the port.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/PseudoTerminal.h"
#include "platform/Registry.h"
#include "platform/SerialDevice.h"
#include "settings/TrackerSettings.h"
#include "support/Process.h"
#include "support/Recorders.h"
#include "support/TestSupport.h"

namespace kestrix::test {

// "lat,lon@time" of each fix, to nine decimals of a degree.
std::vector<std::string> Described(const std::vector<TrackPointRef>& fixes);
// The fixes a decoder makes of the capture fed in one piece, described.
std::vector<std::string> ReferenceFixes(const std::string& capture);
// A drive of the given length with a fix throughout.
std::string TestDrive(int seconds);

// gpsd fed by gpsfake with a capture, looping, on a free loopback port that the
// multiplexer port then uses; at the end the multiplexer gets the default port back.
class FakeGpsd {
public:
    // False (with the reason) when gpsfake or gpsd cannot be started here.
    bool Start(const std::string& captureFile, const std::string& logFile, std::string& reason);
    void Stop() { process_.Stop(); }
    ~FakeGpsd();

private:
    Process process_;
};

// A registry in a temporary folder and a pseudo-terminal the settings name as the port.
class PtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform::ConfigureRegistry(dir_.File("registry.reg")));
        ASSERT_TRUE(pty_.Create());
        settings_.SetGpsPort(pty_.SlavePath());
    }
    // The port map holds only this entry, so no device of the machine is probed.
    static void MapPort(const std::string& com, const std::string& path) {
        auto key = platform::RegKey::Open(platform::kPortMapKey, true);
        ASSERT_TRUE(key);
        key->SetString(com, path);
        ASSERT_EQ(key->Close(), platform::kErrorSuccess);
    }

    TempDir dir_;
    platform::PseudoTerminal pty_;
    TrackerSettings settings_;
};

}  // namespace kestrix::test
