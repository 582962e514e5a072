#include "nmea/GpsDecoder.h"

namespace kestrix {

GpsDecoder::GpsDecoder(GpsFixListener* listener)
    : monitor_(true),
      rmcHandler_(SentenceHandler::Kind::Rmc, *this),
      gllHandler_(SentenceHandler::Kind::Gll, *this),
      ggaHandler_(SentenceHandler::Kind::Gga, *this),
      gsvHandler_(SentenceHandler::Kind::Gsv, *this) {
    monitor_.SetListener(listener);
    rmcHandler_.AddMonitor(&monitor_);
    gllHandler_.AddMonitor(&monitor_);
    ggaHandler_.AddMonitor(&monitor_);
    gsvHandler_.AddMonitor(&monitor_);
}

GpsDecoder::~GpsDecoder() { monitor_.SetListener(nullptr); }

}  // namespace kestrix
