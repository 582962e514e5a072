#include "base/TrackPoint.h"

#include "platform/Time.h"

namespace kestrix {

bool TrackPoint::GetOleDate(double& out) const { return platform::FileTimeToVariantTime(time_, out); }

}  // namespace kestrix
