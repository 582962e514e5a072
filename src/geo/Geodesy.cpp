#include "geo/Geodesy.h"

#include <cmath>
#include <limits>

#include "base/TrackPoint.h"

namespace kestrix {
namespace {

// sin(k degrees), k = 0..90: single-precision sines written with ten decimals (entry 1 is
// 0.0174524076, a little above the exact sine). The fix filter's thresholds were tuned
// with distances from exactly these entries, so they stay as they are.
constexpr double kSineTable[91] = {
    0.0000000000, 0.0174524076, 0.0348994955, 0.0523359552, 0.0697564706, 0.0871557444,
    0.1045284644, 0.1218693405, 0.1391731054, 0.1564344615, 0.1736481786, 0.1908089966,
    0.2079116851, 0.2249510586, 0.2419219017, 0.2588190436, 0.2756373584, 0.2923716903,
    0.3090170026, 0.3255681694, 0.3420201540, 0.3583679497, 0.3746065795, 0.3907311261,
    0.4067366421, 0.4226182699, 0.4383711517, 0.4539904892, 0.4694715738, 0.4848096073,
    0.5000000000, 0.5150380731, 0.5299192667, 0.5446390510, 0.5591928959, 0.5735764503,
    0.5877852440, 0.6018150449, 0.6156615019, 0.6293203831, 0.6427876353, 0.6560590267,
    0.6691306233, 0.6819983721, 0.6946583986, 0.7071067691, 0.7193397880, 0.7313537002,
    0.7431448102, 0.7547096014, 0.7660444379, 0.7771459818, 0.7880107760, 0.7986354828,
    0.8090170026, 0.8191520572, 0.8290375471, 0.8386705518, 0.8480480909, 0.8571673036,
    0.8660253882, 0.8746197224, 0.8829475641, 0.8910065293, 0.8987940550, 0.9063078165,
    0.9135454297, 0.9205048680, 0.9271838665, 0.9335803986, 0.9396926165, 0.9455185533,
    0.9510565400, 0.9563047290, 0.9612616897, 0.9659258127, 0.9702957273, 0.9743700624,
    0.9781476259, 0.9816271663, 0.9848077297, 0.9876883626, 0.9902680516, 0.9925461411,
    0.9945219159, 0.9961947203, 0.9975640774, 0.9986295104, 0.9993908405, 0.9998477101,
    1.0000000000,
};

constexpr double kFlatLimitRad = 0.174532925;

}  // namespace

void SinCosDeg(double x, double& sine, double& cosine) {
    if (!std::isfinite(x)) {
        sine = cosine = std::numeric_limits<double>::quiet_NaN();
        return;
    }
    double d = x * kRadToDeg;
    float rounded;
    double s;
    if (x >= 0) {
        rounded = static_cast<float>(d + 0.5);
        s = 1.0;
    } else {
        rounded = static_cast<float>(-(d - 0.5));
        s = -1.0;
    }
    // Reducing through fmod keeps angles beyond the int range defined; inside it the
    // result equals truncating to int and taking the remainder by 360.
    double whole = std::trunc(static_cast<double>(rounded));
    if (!std::isfinite(whole)) {  // a huge angle that overflowed single precision
        sine = cosine = std::numeric_limits<double>::quiet_NaN();
        return;
    }
    int a = static_cast<int>(std::fmod(whole, 360.0));

    int k;
    double sineSign;
    double cosineSign;
    if (a <= 90) {
        k = a;
        sineSign = 1.0;
        cosineSign = 1.0;
    } else if (a <= 180) {
        k = 180 - a;
        sineSign = 1.0;
        cosineSign = -1.0;
    } else if (a < 270) {
        k = a - 180;
        sineSign = -1.0;
        cosineSign = -1.0;
    } else if (a == 270) {
        k = 90;
        sineSign = -1.0;
        cosineSign = 1.0;
    } else {
        k = 360 - a;
        sineSign = -1.0;
        cosineSign = 1.0;
    }
    sine = kSineTable[k] * s * sineSign;
    cosine = kSineTable[90 - k] * cosineSign;
}

float Distance(double lat1, double lon1, double lat2, double lon2) {
    double dLon = std::fabs(lon2 - lon1);
    double dLat = std::fabs(lat1 - lat2);
    double sin1;
    double cos1;
    SinCosDeg(lat1, sin1, cos1);
    double c;
    if (dLon < kFlatLimitRad && dLat < kFlatLimitRad) {
        double east = cos1 * dLon;
        c = std::sqrt(dLat * dLat + east * east);
    } else {
        double sin2;
        double cos2;
        double sinD;
        double cosD;
        SinCosDeg(lat2, sin2, cos2);
        SinCosDeg(dLon, sinD, cosD);
        double cosC = cos2 * cos1 * cosD + sin2 * sin1;
        // The table's rounding can push the cosine a hair past 1 (same latitude, a whole
        // turn of longitude); acos would then give NaN instead of 0.
        if (cosC > 1.0) cosC = 1.0;
        if (cosC < -1.0) cosC = -1.0;
        c = std::acos(cosC);
    }
    return static_cast<float>(c * kEarthRadiusM);
}

float SpeedKmh(uint64_t t1, uint64_t t2, double metres) {
    double ticks = static_cast<double>(static_cast<int64_t>(t2 - t1));
    if (ticks == 0.0) return 0.0f;
    double seconds = ticks * 1e-7;
    if (seconds == 0.0) return 0.0f;
    float v = static_cast<float>(metres / seconds);
    return static_cast<float>(static_cast<double>(v) * 3.6);
}

}  // namespace kestrix
