#include "nmea/Sentences.h"

#include <algorithm>

#include "nmea/FieldReader.h"

namespace kestrix {

namespace {

// The device clock's date with the sentence's time of day; the device clock's whole time
// when the field is not a time.
platform::SystemTime DeviceDateWithTime(std::string_view utcTime) {
    platform::SystemTime t = platform::GetSystemTime();
    ParseTimeOfDay(utcTime, t);
    return t;
}

// Reads a body of integer fields in one pass per field, with the field reader's rules:
// an empty field is 0, a field after a final "," or past the end is none, and a field
// that is not plain digits is read as ParseInteger reads it.
class IntegerFields {
public:
    explicit IntegerFields(std::string_view body) : p_(body.data()), end_(body.data() + body.size()) {}
    bool HasField() const { return !done_ && p_ < end_; }
    // The field Next read last had no characters (or there was none).
    bool LastWasEmpty() const { return lastEmpty_; }
    int Next() {
        lastEmpty_ = true;
        if (!HasField()) return 0;
        const char* begin = p_;
        int value = 0;
        bool plain = true;
        for (; p_ < end_ && *p_ != ','; ++p_) {
            const unsigned d = static_cast<unsigned>(*p_ - '0');
            if (d > 9 || p_ - begin >= 9) plain = false;
            else value = value * 10 + static_cast<int>(d);
        }
        const std::string_view field(begin, static_cast<size_t>(p_ - begin));
        lastEmpty_ = field.empty();
        if (p_ < end_) {
            ++p_;  // past the ","
        } else {
            done_ = true;  // the last field had no "," after it
        }
        return plain ? value : ParseInteger(field);
    }

private:
    const char* p_;
    const char* end_;
    bool done_ = false;
    bool lastEmpty_ = true;
};

// Reads latitude, N/S, longitude, E/W; true when they are a position (see hasPosition).
bool ReadPosition(FieldReader& r, double& latitude, char& latHemisphere, double& longitude, char& lonHemisphere) {
    const bool latitudeOk = ParseCoordinate(r.Field(), latitude) && latitude <= 90.0;
    r.Next();
    const std::string_view ns = r.Field();
    latHemisphere = r.Char();
    const bool longitudeOk = ParseCoordinate(r.Field(), longitude) && longitude <= 180.0;
    r.Next();
    const std::string_view ew = r.Field();
    lonHemisphere = r.Char();
    return latitudeOk && longitudeOk && (ns == "N" || ns == "S") && (ew == "E" || ew == "W");
}

template <class T>
NmeaSentence* Create(std::string_view name, std::string_view body) {
    T* s = new T();
    if (!s->Parse(name, body)) {
        delete s;
        return nullptr;
    }
    return s;
}

}  // namespace

// Out of line: inlined into a sentence on the caller's stack, GCC 12 at -O2 takes the small
// string's buffer for uninitialised (-Wmaybe-uninitialized, a false positive, GCC bug 105562).
void NmeaSentence::SetTalker(std::string_view t) { talker.assign(t); }

bool NmeaSentence::Parse(std::string_view sentenceName, std::string_view) {
    name.assign(sentenceName);
    return true;
}

bool NmeaSentence::Continue(std::string_view) { return true; }

bool GgaSentence::Parse(std::string_view sentenceName, std::string_view body) {
    FieldReader r(body);
    utcTime = r.Text();
    hasPosition = ReadPosition(r, latitude, latHemisphere, longitude, lonHemisphere);
    fixQuality = r.Integer();
    satellitesUsed = r.Integer();
    hdop = r.Double();
    altitude = r.Double();
    altitudeUnit = r.Char();
    geoidSeparation = r.Double();
    geoidUnit = r.Char();
    timestamp = DeviceDateWithTime(utcTime);
    name.assign(sentenceName);
    return true;
}

bool RmcSentence::Parse(std::string_view sentenceName, std::string_view body) {
    FieldReader r(body);
    utcTime = r.Text();
    status = r.Char();
    hasPosition = ReadPosition(r, latitude, latHemisphere, longitude, lonHemisphere);
    speedKnots = r.Double();
    course = r.Double();
    date = r.Text();
    magneticVariation = r.Double();
    variationDirection = r.Char();
    modeIndicator = r.Char();
    // A valid time with a calendar date is taken whole from the sentence; a valid time
    // without one keeps the device clock's date, like GGA and GLL; no valid time leaves
    // the device clock's time.
    platform::SystemTime t{};
    if (ParseTimeOfDay(utcTime, t)) {
        if (!ParseDate(date, t)) {
            platform::SystemTime device = platform::GetSystemTime();
            t.year = device.year;
            t.month = device.month;
            t.day = device.day;
            t.dayOfWeek = device.dayOfWeek;
        }
        timestamp = t;
    } else {
        timestamp = platform::GetSystemTime();
    }
    name.assign(sentenceName);
    return true;
}

bool GllSentence::Parse(std::string_view sentenceName, std::string_view body) {
    FieldReader r(body);
    hasPosition = ReadPosition(r, latitude, latHemisphere, longitude, lonHemisphere);
    utcTime = r.Text();
    status = r.Char();
    modeIndicator = r.Char();
    timestamp = DeviceDateWithTime(utcTime);
    name.assign(sentenceName);
    return true;
}

bool GsaSentence::Parse(std::string_view sentenceName, std::string_view body) {
    FieldReader r(body);
    selectionMode = r.Text();
    fixType = r.Integer();
    usedPrns.clear();
    for (int slot = 0; slot < 12; ++slot) {
        if (!r.IsEmpty()) usedPrns.push_back(ParseInteger(r.Field()));
        r.Next();
    }
    pdop = r.Float();
    hdop = r.Float();
    vdop = r.Float();
    systemId = r.Integer();
    name.assign(sentenceName);
    return true;
}

bool GsvSentence::Parse(std::string_view sentenceName, std::string_view body) {
    Continue(body);
    name.assign(sentenceName);
    return true;
}

bool GsvSentence::Continue(std::string_view body) {
    IntegerFields r(body);
    totalMessages = r.Next();
    messageNumber = r.Next();
    satellitesInView = r.Next();
    const size_t limit = std::min(kMaxSatellites, static_cast<size_t>(std::max(satellitesInView, 0)));
    // A first message starts the set afresh: the satellites of a set whose last message
    // was lost are not mixed into the next one.
    if (messageNumber == 1) {
        satellites.clear();
        satellites.reserve(limit);
    }
    // At most four groups a message: newer receivers append a signal id after them.
    for (int group = 0; group < 4 && r.HasField() && satellites.size() < limit; ++group) {
        SatelliteInfo info;
        info.prn = r.Next();
        info.elevation = r.Next();
        const bool noElevation = r.LastWasEmpty();
        info.azimuth = r.Next();
        info.hasPosition = !noElevation && !r.LastWasEmpty();
        info.snr = r.Next();
        satellites.push_back(info);
    }
    return true;
}

NmeaSentence* CreateRmcSentence(std::string_view name, std::string_view body) { return Create<RmcSentence>(name, body); }
NmeaSentence* CreateGllSentence(std::string_view name, std::string_view body) { return Create<GllSentence>(name, body); }
NmeaSentence* CreateGsaSentence(std::string_view name, std::string_view body) { return Create<GsaSentence>(name, body); }
NmeaSentence* CreateGsvSentence(std::string_view name, std::string_view body) { return Create<GsvSentence>(name, body); }

}  // namespace kestrix
