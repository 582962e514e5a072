#include "geo/TrackPoint.h"

#include "platform/Time.h"

namespace kestrix {

bool TrackPoint::GetOleDate(double& out) const {
    platform::SystemTime st;
    if (!platform::FileTimeToSystemTime(time_, st)) return false;
    return platform::SystemTimeToVariantTime(st, out);
}

}  // namespace kestrix
