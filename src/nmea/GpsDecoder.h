// GpsDecoder: the GPS receiver without its port and thread. A parser (framer and
// dispatcher) that owns the GPS state (FixMonitor) and the four sentence handlers RMC,
// GLL, GGA, GSV, registered in that order (raw observer ids 1 to 4), each reporting to
// the monitor. Whoever feeds it (the reader thread, or a command reading a file) gets
// fixes and signal levels through the listener, on the feeding thread. The monitor's
// fix-loss timer is started and stopped by the owner (StartTimer/StopTimer on the
// monitor, on the UI thread).
#pragma once
#include "base/Listeners.h"
#include "nmea/FixMonitor.h"
#include "nmea/NmeaParser.h"
#include "nmea/SentenceHandler.h"

namespace kestrix {

class GpsDecoder : public NmeaParser {
public:
    explicit GpsDecoder(GpsFixListener* listener = nullptr);
    ~GpsDecoder() override;

    // The listener is borrowed (the controller); nullptr stops reporting.
    void SetListener(GpsFixListener* listener) { monitor_.SetListener(listener); }
    int GetSignalLevel() const { return monitor_.GetSignalLevel(); }
    int GetSatellitesUsed() const { return monitor_.GetSatellitesUsed(); }
    FixMonitor& Monitor() { return monitor_; }
    const FixMonitor& Monitor() const { return monitor_; }

protected:
    FixMonitor monitor_;
    SentenceHandler rmcHandler_;
    SentenceHandler gllHandler_;
    SentenceHandler ggaHandler_;
    SentenceHandler gsvHandler_;
};

}  // namespace kestrix
