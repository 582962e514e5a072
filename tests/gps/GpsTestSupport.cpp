#include "GpsTestSupport.h"

#include <cstdio>
#include <filesystem>

#include "nmea/GpsDecoder.h"
#include "nmea/SyntheticCapture.h"
#include "platform/GpsMultiplexer.h"

namespace kestrix::test {

std::vector<std::string> Described(const std::vector<TrackPointRef>& fixes) {
    std::vector<std::string> out;
    char buf[80];
    for (const auto& f : fixes) {
        std::snprintf(buf, sizeof buf, "%.9f,%.9f@%llu", f->GetLatitude(), f->GetLongitude(),
                      static_cast<unsigned long long>(f->GetTime()));
        out.push_back(buf);
    }
    return out;
}

std::vector<std::string> ReferenceFixes(const std::string& capture) {
    FixRecorder listener;
    GpsDecoder decoder(&listener);
    decoder.Feed(capture);
    return Described(listener.Fixes());
}

std::string TestDrive(int seconds) {
    DriveOptions o;
    o.seconds = seconds;
    o.lostSeconds = 0;
    return GenerateDrive(o);
}

bool FakeGpsd::Start(const std::string& captureFile, const std::string& logFile, std::string& reason) {
    if (!std::filesystem::exists("/usr/bin/gpsfake") || !std::filesystem::exists("/usr/sbin/gpsd")) {
        reason = "gpsfake or gpsd is not installed (Debian packages gpsd-clients and gpsd)";
        return false;
    }
    const int port = FreeLoopbackPort();
    // -n: gpsd reads the device without waiting for a client; the capture loops, so a
    // client that joins late still sees a long run of it; -c paces the sentences.
    if (!process_.Start({"/usr/bin/gpsfake", "-q", "-n", "-c", "0.005", "-P", std::to_string(port), captureFile},
                        logFile)) {
        reason = "gpsfake did not start";
        return false;
    }
    platform::SetGpsdPort(static_cast<uint16_t>(port));
    if (!WaitFor([] { return platform::GpsdAnswers(200); }, std::chrono::seconds(15))) {
        reason = "gpsd started by gpsfake did not answer: " + ReadFile(logFile);
        Stop();
        return false;
    }
    return true;
}

FakeGpsd::~FakeGpsd() {
    Stop();
    platform::SetGpsdPort(platform::kDefaultGpsdPort);
}

}  // namespace kestrix::test
