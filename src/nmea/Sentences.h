// Decoded NMEA 0183 sentences: GGA, RMC, GLL (position and time), GSA (satellites used,
// dilution of precision) and GSV (satellites in view, one object for a whole set).
//
// Each object is reference counted (count 0 after construction; the first holder takes
// the first reference). Parse decodes one body leniently: an empty or missing field reads
// as 0 or NUL and no sentence is refused for its content; whether a sentence is a fix is
// decided by the GPS state. Objects are created, decoded and read on the reader thread;
// once complete their fields do not change, so observers may keep and read them on
// other threads.
//
// Names: GetName is the sentence's name as dispatched, "GP" + type for the five types
// decoded here whatever the talker ("GNRMC" is dispatched as "GPRMC"); GetTalker is the
// two letters the receiver sent ("GN"). Times are UTC. Coordinates are unsigned degrees;
// the hemisphere characters give the sign. hasPosition tells whether the sentence really
// carries a position: both coordinates are ddmm.m / dddmm.m numbers (minutes under 60,
// at most 90 and 180 degrees) with the hemispheres "N" or "S" and "E" or "W"; a
// coordinate that is not one reads 0.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/RefCounted.h"
#include "platform/Time.h"

namespace kestrix {

class NmeaSentence : public RefCounted {
public:
    NmeaSentence() = default;

    virtual std::string GetName() const { return name; }
    const std::string& Name() const { return name; }
    // Two-letter talker as received ("GP", "GN", "GL", ...); empty when not known.
    const std::string& GetTalker() const { return talker; }
    void SetTalker(std::string_view t);

    // Decodes one body. The base only stores the name. Always true here.
    virtual bool Parse(std::string_view sentenceName, std::string_view body);
    // Adds the next body of a multi-part sentence. The base does nothing.
    virtual bool Continue(std::string_view body);
    virtual bool IsComplete() const { return true; }

protected:
    std::string name;
    std::string talker;
};

// GGA: time, position, fix quality, satellites used, HDOP, altitude.
class GgaSentence : public NmeaSentence {
public:
    bool Parse(std::string_view sentenceName, std::string_view body) override;

    std::string utcTime;
    platform::SystemTime timestamp;   // device clock's date with the field's time
    double latitude = 0;
    char latHemisphere = 0;
    double longitude = 0;
    char lonHemisphere = 0;
    bool hasPosition = false;
    int fixQuality = 0;               // 0 invalid, 1 GPS fix, 2 DGPS fix, ...
    int satellitesUsed = 0;
    double hdop = 0;
    double altitude = 0;              // metres above mean sea level
    char altitudeUnit = 0;
    double geoidSeparation = 0;       // metres
    char geoidUnit = 0;
};

// RMC: time, status, position, speed, course and date.
class RmcSentence : public NmeaSentence {
public:
    bool Parse(std::string_view sentenceName, std::string_view body) override;

    std::string utcTime;
    char status = '?';                // 'A' valid, 'V' warning
    double latitude = 0;
    double longitude = 0;
    char latHemisphere = '?';
    char lonHemisphere = '?';
    bool hasPosition = false;
    double speedKnots = 0;
    double course = 0;                // degrees true
    std::string date;                 // ddmmyy
    double magneticVariation = 0;
    char variationDirection = '?';
    char modeIndicator = '?';
    platform::SystemTime timestamp;   // date and time from the sentence when both are valid
};

// GLL: position, time and status.
class GllSentence : public NmeaSentence {
public:
    bool Parse(std::string_view sentenceName, std::string_view body) override;

    double longitude = 0;
    double latitude = 0;
    char lonHemisphere = 0;
    char latHemisphere = 0;
    bool hasPosition = false;
    char status = 0;                  // 'A' valid
    char modeIndicator = 0;
    std::string utcTime;
    platform::SystemTime timestamp;   // device clock's date with the field's time
};

// GSA: satellites used in the fix and dilution of precision.
class GsaSentence : public NmeaSentence {
public:
    bool Parse(std::string_view sentenceName, std::string_view body) override;

    std::vector<int> usedPrns;        // non-empty id slots, in order
    std::string selectionMode;        // "A" automatic, "M" manual
    int fixType = 0;                  // 1 none, 2 2D, 3 3D
    float pdop = 0;
    float hdop = 0;
    float vdop = 0;
    int systemId = 0;                 // GNSS system id field of newer receivers, 0 when absent
};

struct SatelliteInfo {
    int prn = 0;
    int elevation = 0;  // degrees
    int azimuth = 0;    // degrees
    int snr = 0;        // dB-Hz, 0 when not tracked
    // False when the receiver left the elevation or the azimuth empty (it tracks the
    // satellite but has no almanac position for it yet); both then read 0.
    bool hasPosition = true;
};

// GSV: one object for a whole set of messages. Complete when the message number equals
// the total; a message numbered 1 starts the set afresh.
class GsvSentence : public NmeaSentence {
public:
    // More than this many satellites in one set are not kept (bounds memory on bad input).
    static constexpr size_t kMaxSatellites = 128;

    bool Parse(std::string_view sentenceName, std::string_view body) override;
    bool Continue(std::string_view body) override;
    bool IsComplete() const override { return messageNumber == totalMessages; }

    std::vector<SatelliteInfo> satellites;
    int satellitesInView = 0;
    int messageNumber = 0;
    int totalMessages = 0;
};

// Factories: create the object, Parse it, and return it without a reference counted yet
// (nullptr when Parse fails). The caller sets the talker.
NmeaSentence* CreateRmcSentence(std::string_view name, std::string_view body);
NmeaSentence* CreateGllSentence(std::string_view name, std::string_view body);
NmeaSentence* CreateGsaSentence(std::string_view name, std::string_view body);
NmeaSentence* CreateGsvSentence(std::string_view name, std::string_view body);

}  // namespace kestrix
