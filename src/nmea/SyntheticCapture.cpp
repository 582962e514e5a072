#include "nmea/SyntheticCapture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestrix {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMetresPerDegree = 111320.0;

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

// ddmm.mmmmm / dddmm.mmmmm with five decimals of minutes, rounded once in integers so
// the minutes never print as 60.
void FormatCoordinate(char* out, size_t size, double degrees, bool longitude) {
    const long long total = std::llround(std::fabs(degrees) * 60.0 * 100000.0);
    const long long whole = total / 6000000;
    const long long rest = total % 6000000;
    std::snprintf(out, size, longitude ? "%03lld%02lld.%05lld" : "%02lld%02lld.%05lld", whole, rest / 100000,
                  rest % 100000);
}

struct Satellite {
    int prn;
    int elevation;
    int azimuth;
    int snr;
};

}  // namespace

uint8_t NmeaChecksum(std::string_view addressAndBody) {
    uint8_t sum = 0;
    for (char c : addressAndBody) sum ^= static_cast<uint8_t>(c);
    return sum;
}

std::string MakeSentence(std::string_view addressAndBody) {
    static const char kDigits[] = "0123456789ABCDEF";
    const uint8_t sum = NmeaChecksum(addressAndBody);
    std::string out;
    out.reserve(addressAndBody.size() + 6);
    out += '$';
    out.append(addressAndBody);
    out += '*';
    out += kDigits[sum >> 4];
    out += kDigits[sum & 15];
    out += "\r\n";
    return out;
}

std::string GenerateDrive(const DriveOptions& o) {
    std::string out;
    if (o.seconds <= 0) return out;
    out.reserve(static_cast<size_t>(o.seconds) * 480);

    const int64_t startDay = DaysFromCivil(o.start.year, o.start.month, o.start.day);
    const int64_t startSecond = o.start.hour * 3600 + o.start.minute * 60 + o.start.second;

    double lat = o.startLatitude;
    double lon = o.startLongitude;
    double heading = o.headingDeg;
    const double metresPerSecond = o.speedKmh / 3.6;

    Satellite sats[11] = {{2, 65, 40, 44},  {5, 30, 120, 38}, {7, 12, 200, 30}, {9, 45, 300, 41},
                          {12, 80, 10, 47}, {15, 20, 250, 33}, {17, 5, 90, 22},  {19, 55, 160, 42},
                          {24, 35, 330, 39}, {26, 15, 20, 28}, {29, 50, 230, 43}};
    const int usedPrns[] = {2, 5, 9, 12, 19, 24, 29, 15};

    char line[160];
    char latText[32];
    char lonText[32];
    for (int i = 0; i < o.seconds; ++i) {
        const int64_t second = startSecond + i;
        int y, m, d;
        CivilFromDays(startDay + second / 86400, y, m, d);
        const int daySecond = static_cast<int>(second % 86400);
        const int hh = daySecond / 3600;
        const int mm = daySecond / 60 % 60;
        const int ss = daySecond % 60;
        char timeText[16];
        std::snprintf(timeText, sizeof timeText, "%02d%02d%02d.00", hh, mm, ss);
        // Room for whatever numbers the calendar arithmetic could yield, not only real dates.
        char dateText[24];
        std::snprintf(dateText, sizeof dateText, "%02d%02d%02d", d, m, y % 100);

        const bool lost = o.lostSeconds > 0 && i >= o.lostAfter && i < o.lostAfter + o.lostSeconds;
        // A gentle curve: the heading turns a little every second.
        heading = std::fmod(heading + 0.5 * std::sin(i / 90.0), 360.0);
        const double rad = heading * kPi / 180.0;
        lat += metresPerSecond * std::cos(rad) / kMetresPerDegree;
        lon += metresPerSecond * std::sin(rad) / (kMetresPerDegree * std::cos(lat * kPi / 180.0));
        const double altitude = 520.0 + 15.0 * std::sin(i / 300.0);
        const double knots = o.speedKmh / 1.852;
        FormatCoordinate(latText, sizeof latText, lat, false);
        FormatCoordinate(lonText, sizeof lonText, lon, true);
        const char ns = lat < 0 ? 'S' : 'N';
        const char ew = lon < 0 ? 'W' : 'E';

        if (lost) {
            std::snprintf(line, sizeof line, "GPGGA,%s,,,,,0,00,99.99,,,,,,", timeText);
            out += MakeSentence(line);
            std::snprintf(line, sizeof line, "GPRMC,%s,V,,,,,,,%s,,,N", timeText, dateText);
            out += MakeSentence(line);
            if (o.withGll) {
                std::snprintf(line, sizeof line, "GPGLL,,,,,%s,V,N", timeText);
                out += MakeSentence(line);
            }
            out += MakeSentence("GPGSA,A,1,,,,,,,,,,,,,99.99,99.99,99.99");
        } else {
            std::snprintf(line, sizeof line, "GPGGA,%s,%s,%c,%s,%c,1,08,0.9,%.1f,M,47.0,M,,", timeText, latText, ns,
                          lonText, ew, altitude);
            out += MakeSentence(line);
            std::snprintf(line, sizeof line, "GPRMC,%s,A,%s,%c,%s,%c,%.1f,%.1f,%s,,,A", timeText, latText, ns, lonText,
                          ew, knots, heading, dateText);
            out += MakeSentence(line);
            if (o.withGll) {
                std::snprintf(line, sizeof line, "GPGLL,%s,%c,%s,%c,%s,A,A", latText, ns, lonText, ew, timeText);
                out += MakeSentence(line);
            }
            std::snprintf(line, sizeof line, "GPGSA,A,3,%02d,%02d,%02d,%02d,%02d,%02d,%02d,%02d,,,,,1.6,0.9,1.3",
                          usedPrns[0], usedPrns[1], usedPrns[2], usedPrns[3], usedPrns[4], usedPrns[5], usedPrns[6],
                          usedPrns[7]);
            out += MakeSentence(line);
        }
        // Satellites drift slowly across the sky; signals fade while the fix is lost.
        for (int s = 0; s < 11; ++s) {
            Satellite& sat = sats[s];
            if (i % 60 == 0) sat.azimuth = (sat.azimuth + 1) % 360;
            const int wobble = static_cast<int>(3.0 * std::sin((i + s * 7) / 20.0));
            sat.snr = lost ? 0 : std::max(0, 20 + (sat.elevation * 27) / 90 + wobble);
        }
        for (int msg = 0; msg < 3; ++msg) {
            int n = std::snprintf(line, sizeof line, "GPGSV,3,%d,11", msg + 1);
            for (int s = msg * 4; s < msg * 4 + 4 && s < 11; ++s) {
                const Satellite& sat = sats[s];
                if (sat.snr > 0) {
                    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), ",%02d,%02d,%03d,%02d", sat.prn,
                                       sat.elevation, sat.azimuth, sat.snr);
                } else {
                    n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), ",%02d,%02d,%03d,", sat.prn,
                                       sat.elevation, sat.azimuth);
                }
            }
            out += MakeSentence(std::string_view(line, static_cast<size_t>(n)));
        }
    }
    return out;
}

}  // namespace kestrix
