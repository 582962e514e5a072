// The settings by their registry value names ("Host", "ModeB", ...), as kestrix config and
// the daemon's /api/settings show and change them. A change goes through the record's own
// setter and is refused, with a message for a person, when the value is not a number the
// setting takes, when the setter refuses it, or when it would not load back from the
// registry (text longer than kMaxSettingChars). Called on the thread that owns the record.
#pragma once
#include <string>
#include <vector>

#include "settings/TrackerSettings.h"

namespace kestrix {

// Every name, in the order kestrix config list prints them. Names are case-sensitive.
const std::vector<std::string>& SettingNames();
bool IsSettingName(const std::string& name);

// The value as kestrix config get prints it ("" for a missing string and an unknown name);
// Password shows the stored digest.
std::string ShowSetting(const TrackerSettings& settings, const std::string& name);

// Applies the value given as text; "" when done, else why it was refused (the record is
// then unchanged), e.g. "AutoTrkTimeout cannot be \"61\"".
std::string ChangeSetting(TrackerSettings& settings, const std::string& name, const std::string& value);

}  // namespace kestrix
