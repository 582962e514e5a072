#include "GpsTestSupport.h"

#include <cmath>
#include <filesystem>

#include "nmea/GpsDecoder.h"
#include "nmea/SyntheticCapture.h"
#include "platform/GpsMultiplexer.h"

namespace kestrix::test {

bool FixRecord::operator==(const FixRecord& o) const {
    return std::fabs(lat - o.lat) < 1e-9 && std::fabs(lon - o.lon) < 1e-9 && time == o.time;
}

void RecordingListener::OnSignalLevel(int level) {
    std::lock_guard<std::mutex> g(mutex_);
    signalLevel_ = level;
}

void RecordingListener::OnFixLost() {
    std::lock_guard<std::mutex> g(mutex_);
    ++fixLost_;
}

void RecordingListener::OnFix(TrackPointRef point) {
    std::lock_guard<std::mutex> g(mutex_);
    fixes_.push_back({point->GetLatitude(), point->GetLongitude(), point->GetTime()});
}

std::vector<FixRecord> RecordingListener::Fixes() const {
    std::lock_guard<std::mutex> g(mutex_);
    return fixes_;
}

size_t RecordingListener::FixCount() const {
    std::lock_guard<std::mutex> g(mutex_);
    return fixes_.size();
}

int RecordingListener::FixLostCount() const {
    std::lock_guard<std::mutex> g(mutex_);
    return fixLost_;
}

void RawRecorder::OnRawSentence(std::string_view, std::string_view body, std::string_view address) {
    std::lock_guard<std::mutex> g(mutex_);
    sentences_.push_back(std::string(address) + "," + std::string(body));
}

std::vector<std::string> RawRecorder::Sentences() const {
    std::lock_guard<std::mutex> g(mutex_);
    return sentences_;
}

size_t RawRecorder::Count() const {
    std::lock_guard<std::mutex> g(mutex_);
    return sentences_.size();
}

std::vector<std::string> SentencesOf(const std::string& capture) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < capture.size()) {
        size_t end = capture.find('\n', pos);
        if (end == std::string::npos) end = capture.size();
        const std::string line = capture.substr(pos, end - pos);
        pos = end + 1;
        const size_t dollar = line.find('$');
        const size_t star = line.rfind('*');
        if (dollar == std::string::npos || star == std::string::npos || star < dollar) continue;
        out.push_back(line.substr(dollar + 1, star - dollar - 1));
    }
    return out;
}

std::vector<FixRecord> ReferenceFixes(const std::string& capture) {
    RecordingListener listener;
    GpsDecoder decoder(&listener);
    decoder.Feed(capture);
    return listener.Fixes();
}

std::string TestDrive(int seconds) {
    DriveOptions o;
    o.seconds = seconds;
    o.lostSeconds = 0;
    return GenerateDrive(o);
}

bool FakeGpsd::Start(const std::string& captureFile, const std::string& logFile, std::string& reason) {
    if (!std::filesystem::exists("/usr/bin/gpsfake") || !std::filesystem::exists("/usr/sbin/gpsd")) {
        reason = "gpsfake or gpsd is not installed";
        return false;
    }
    port_ = FreeLoopbackPort();
    // -n: gpsd reads the device without waiting for a client; the capture loops, so a
    // client that joins late still sees a long run of it; -c paces the sentences.
    const std::vector<std::string> argv = {"/usr/bin/gpsfake", "-q",  "-n", "-c", "0.005",
                                           "-P",                std::to_string(port_), captureFile};
    if (!process_.Start(argv, logFile)) {
        reason = "gpsfake did not start";
        return false;
    }
    platform::SetGpsdPort(static_cast<uint16_t>(port_));
    if (!WaitFor([] { return platform::GpsdAnswers(200); }, std::chrono::seconds(15))) {
        reason = "gpsd started by gpsfake did not answer: " + ReadFile(logFile);
        process_.Stop();
        return false;
    }
    return true;
}

}  // namespace kestrix::test
