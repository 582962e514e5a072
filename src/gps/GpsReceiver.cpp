#include "gps/GpsReceiver.h"

#include <chrono>
#include <string>

#include "platform/Log.h"
#include "settings/TrackerSettings.h"

namespace kestrix {

GpsReceiver::GpsReceiver(GpsFixListener* listener) : GpsDecoder(listener), listener_(listener) {}

GpsReceiver::~GpsReceiver() { Stop(); }

bool GpsReceiver::IsRunning() const { return thread_.Running(); }

int GpsReceiver::GetSignalLevel() const { return IsRunning() ? monitor_.GetSignalLevel() : 0; }

bool GpsReceiver::Start(TrackerSettings* settings) {
    if (thread_.Running()) Stop();
    if (settings == nullptr) return false;
    settings_ = settings;
    stopEvent_.Reset();
    if (!port_.SetPortName(settings->GetGpsPort())) return false;
    monitor_.StartTimer();  // no message loop on this thread (a command, a test): no loss reports
    return thread_.Start([this] { ReaderThread(); }, "gps-reader");
}

void GpsReceiver::Stop() {
    stopEvent_.Set();
    if (port_.IsOpen()) port_.Close();
    monitor_.StopTimer();
    if (thread_.Running()) {
        if (!thread_.Join(kJoinTimeoutMs)) {
            // Every read and wait of the thread wakes on the stop event, so this means a
            // stalled system; a thread is never killed, so wait for it.
            platform::LogWarning("GPS reader thread did not end within 2000 ms; waiting for it");
            thread_.Join(-1);
        }
    }
    if (listener_ != nullptr) monitor_.ReportFixLost();
}

void GpsReceiver::ReaderThread() {
    if (settings_ == nullptr) return;
    char buffer[kReadBufferSize];
    while (!stopEvent_.Wait(kStopWaitMs)) {
        if (port_.IsOpen()) {
            currentSource_ = &port_;
            int n;
            while ((n = currentSource_->Read(buffer, kReadRequest)) > 0) Feed(buffer, n);
        } else {
            static_cast<GpsSource&>(port_).Open(settings_);
        }
    }
    if (port_.IsOpen()) port_.Close();
}

}  // namespace kestrix
