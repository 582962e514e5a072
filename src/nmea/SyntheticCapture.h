// A generator of realistic synthetic NMEA 0183 captures: a drive at 1 Hz with, every
// second, GGA, RMC, optionally GLL, GSA and a three-message GSV set, all with valid
// checksums and CR LF endings, a moving position and a few seconds of lost fix. Used by
// the demo receiver, the tests and the benchmarks. Pure function; deterministic for
// given options.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Time.h"

namespace kestrix {

struct DriveOptions {
    int seconds = 600;
    // UTC time of the first second.
    platform::SystemTime start{2009, 3, 0, 7, 14, 5, 9, 0};
    double startLatitude = 48.1173;    // degrees, north positive
    double startLongitude = 11.516667; // degrees, east positive
    double speedKmh = 50.0;
    double headingDeg = 45.0;
    bool withGll = true;
    // The fix is lost for lostSeconds seconds starting lostAfter seconds into the drive
    // (GGA quality 0, RMC and GLL status V); lostSeconds 0 keeps the fix throughout.
    int lostAfter = 60;
    int lostSeconds = 5;
};

// The XOR of the characters between "$" and "*" (text given without them).
uint8_t NmeaChecksum(std::string_view addressAndBody);
// "$" + text + "*" + two upper-case hex digits + CR LF.
std::string MakeSentence(std::string_view addressAndBody);

std::string GenerateDrive(const DriveOptions& options);

}  // namespace kestrix
