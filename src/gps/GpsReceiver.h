// GpsReceiver: the device's GPS receiver as the controller sees it. It owns the port,
// the reader thread and, through GpsDecoder, the framer, the sentence handlers and the
// GPS state (FixMonitor).
//
// Start (settings) starts the fix monitor's one-second timer on the calling thread and a
// reader thread that, until stopped, waits 500 ms on the stop event, then either drains
// the open port (reads of up to 10 bytes, each handed to Feed in order) or, when the
// port is closed, tries to open it again; so a missing port is retried about twice a
// second. Stop signals the stop event, closes the port, stops the timer, joins the
// thread (every read wakes on the stop event, so this takes well under 2000 ms) and
// always reports the fix as lost.
//
// Threads: Start, Stop, IsRunning, GetSignalLevel are called on the controlling (UI)
// thread. Fixes and signal levels reach the listener on the reader thread; OnFixLost
// on the controlling thread.
#pragma once
#include <cstdint>

#include "base/ServiceInterfaces.h"
#include "gps/SerialPort.h"
#include "nmea/GpsDecoder.h"
#include "platform/Event.h"
#include "platform/Thread.h"

namespace kestrix {

class TrackerSettings;

class GpsReceiver : public GpsDecoder, public IGpsReceiver {
public:
    static constexpr int kStopWaitMs = 500;
    static constexpr int kReadRequest = 10;
    static constexpr int kReadBufferSize = 12;
    static constexpr int kJoinTimeoutMs = 2000;

    // The listener (the controller) is borrowed.
    explicit GpsReceiver(GpsFixListener* listener = nullptr);
    ~GpsReceiver() override;  // Stop()
    GpsReceiver(const GpsReceiver&) = delete;
    GpsReceiver& operator=(const GpsReceiver&) = delete;

    bool IsRunning() const override;
    // False, starting nothing, without settings or with a gpsPort that is unset or too
    // long. A running reader is stopped first (one OnFixLost).
    bool Start(TrackerSettings* settings) override;
    void Stop() override;
    // The signal level while running, otherwise 0.
    int GetSignalLevel() const override;
    int GetSatellitesUsed() const override { return GpsDecoder::GetSatellitesUsed(); }
    NmeaParser* Parser() override { return this; }

    SerialPort& Port() { return port_; }

private:
    void ReaderThread();

    GpsSource* currentSource_ = nullptr;
    GpsFixListener* listener_;
    TrackerSettings* settings_ = nullptr;
    platform::Event stopEvent_{true, false};
    SerialPort port_{&stopEvent_};
    platform::Thread thread_;
};

}  // namespace kestrix
