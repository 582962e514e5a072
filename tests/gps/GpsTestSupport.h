// Helpers shared by the GPS input tests: a listener and a raw observer that record what
// they get, the reference fixes of a capture, child processes, and a gpsd fed by gpsfake.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/Listeners.h"
#include "nmea/NmeaParser.h"
#include "platform/PseudoTerminal.h"
#include "platform/Registry.h"
#include "platform/SerialDevice.h"
#include "settings/TrackerSettings.h"
#include "support/TestSupport.h"

namespace kestrix::test {

struct FixRecord {
    double lat;
    double lon;
    uint64_t time;
    bool operator==(const FixRecord& o) const;
};

class RecordingListener : public GpsFixListener {
public:
    void OnSignalLevel(int) override {}
    void OnFixLost() override;
    void OnFix(TrackPointRef point) override;
    std::vector<FixRecord> Fixes() const;
    size_t FixCount() const { return Fixes().size(); }
    int FixLostCount() const;

private:
    mutable std::mutex mutex_;
    std::vector<FixRecord> fixes_;
    int fixLost_ = 0;
};

// Keeps "ADDRESS,body" of every raw sentence.
class RawRecorder : public RawSentenceObserver {
public:
    RawRecorder() : RawSentenceObserver(true) {}
    void OnRawSentence(std::string_view name, std::string_view body, std::string_view address) override;
    std::vector<std::string> Sentences() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> sentences_;
};

// "ADDRESS,body" of every well-formed line of a capture, in order.
std::vector<std::string> SentencesOf(const std::string& capture);
// The fixes a decoder makes of the capture fed in one piece.
std::vector<FixRecord> ReferenceFixes(const std::string& capture);
// A drive of the given length with a fix throughout.
std::string TestDrive(int seconds);

// A program started in its own process group (so that everything it starts, such as the
// gpsd under gpsfake, ends with it), stopped with SIGTERM and reaped with a bound, then
// SIGKILL.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // Stop()
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (searched in PATH) with output to logFile ("" keeps the test's).
    bool Start(const std::vector<std::string>& argv, const std::string& logFile = "");
    bool Running();
    // SIGTERM to the group, up to boundMs for it to end, then SIGKILL. Returns the exit
    // status (or 128 + signal), -1 when nothing ran.
    int Stop(int boundMs = 5000);
    // Waits up to boundMs for the program to end by itself; -1 when it did not.
    int Wait(int boundMs);

private:
    int Reap(bool block);
    int pid_ = -1;
    int status_ = -1;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();
// Runs a command line through the shell and returns its standard output.
std::string RunAndCapture(const std::string& command, int* exitStatus = nullptr);

// gpsd fed by gpsfake with a capture, looping, on a free loopback port.
class FakeGpsd {
public:
    // False (with the reason) when gpsfake or gpsd cannot be started here.
    bool Start(const std::string& captureFile, const std::string& logFile, std::string& reason);
    void Stop() { process_.Stop(); }

private:
    ChildProcess process_;
    int port_ = -1;
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
