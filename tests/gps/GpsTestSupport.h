// Helpers shared by the GPS input tests: a listener and a raw observer that record what
// they get, the reference fixes of a capture, and a gpsd fed by gpsfake.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ChildProcess.h"
#include "geo/Listeners.h"
#include "nmea/NmeaParser.h"
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
    void OnSignalLevel(int level) override;
    void OnFixLost() override;
    void OnFix(TrackPointRef point) override;
    std::vector<FixRecord> Fixes() const;
    size_t FixCount() const;
    int FixLostCount() const;

private:
    mutable std::mutex mutex_;
    std::vector<FixRecord> fixes_;
    int fixLost_ = 0;
    int signalLevel_ = 0;
};

class RawRecorder : public RawSentenceObserver {
public:
    RawRecorder() : RawSentenceObserver(true) {}
    void OnRawSentence(std::string_view name, std::string_view body, std::string_view address) override;
    std::vector<std::string> Sentences() const;
    size_t Count() const;

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

// gpsd fed by gpsfake with a capture, looping, on a free loopback port.
class FakeGpsd {
public:
    // False (with the reason) when gpsfake or gpsd cannot be started here.
    bool Start(const std::string& captureFile, const std::string& logFile, std::string& reason);
    int Port() const { return port_; }
    void Stop() { process_.Stop(); }

private:
    ChildProcess process_;
    int port_ = -1;
};

}  // namespace kestrix::test
