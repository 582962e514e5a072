// The settings by their registry value names ("Host", "ModeB", ...), as kestrix config, the
// daemon's /api/settings and the settings sheet change them. A change goes through the
// record's own setter and is refused, with a message for a person, when the value is not a
// number the setting takes, when the setter refuses it, or when the next load would read
// something else than the running tracker uses: text that is empty (never saved), holds
// control characters or bytes that are not UTF-8, is longer than kMaxSettingBytes, or a
// Login holding / or \ (the log path is split at them). A LOG is stored as a load reads
// it: its folder and the account's log name. Called on the thread that owns the record.
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

// Why the value given as text would be refused, e.g. "AutoTrkTimeout cannot be \"61\"";
// "" when it would be taken. Values are quoted with EscapeForLog.
std::string SettingRefusal(const TrackerSettings& settings, const std::string& name, const std::string& value);
// Applies the value unless SettingRefusal refuses it; returns the refusal ("" when done;
// the record is unchanged otherwise).
std::string ChangeSetting(TrackerSettings& settings, const std::string& name, const std::string& value);

}  // namespace kestrix
