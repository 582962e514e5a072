#include "settings/NamedSettings.h"

#include <charconv>
#include <functional>
#include <optional>

namespace kestrix {

namespace {

template <typename T>
std::optional<T> ParseUnsigned(const std::string& text) {
    T value{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

enum class SetResult { Ok, NotANumber, Refused };

struct NamedSetting {
    const char* name;
    std::function<std::string(const TrackerSettings&)> get;
    std::function<SetResult(TrackerSettings&, const std::string&)> set;
};

std::function<std::string(const TrackerSettings&)> Text(std::optional<std::string> (TrackerSettings::*getter)() const) {
    return [getter](const TrackerSettings& s) { return (s.*getter)().value_or(""); };
}

std::function<SetResult(TrackerSettings&, const std::string&)> SetText(
    bool (TrackerSettings::*setter)(const std::optional<std::string>&)) {
    return [setter](TrackerSettings& s, const std::string& v) {
        return (s.*setter)(v) ? SetResult::Ok : SetResult::Refused;
    };
}

template <typename T, typename Setter>
std::function<SetResult(TrackerSettings&, const std::string&)> SetNumber(Setter setter) {
    return [setter](TrackerSettings& s, const std::string& v) {
        auto n = ParseUnsigned<T>(v);
        if (!n) return SetResult::NotANumber;
        return setter(s, *n) ? SetResult::Ok : SetResult::Refused;
    };
}

std::function<SetResult(TrackerSettings&, const std::string&)> SetDword(bool (TrackerSettings::*setter)(uint32_t)) {
    return SetNumber<uint32_t>([setter](TrackerSettings& s, uint32_t n) { return (s.*setter)(n); });
}

std::function<std::string(const TrackerSettings&)> Dword(uint32_t (TrackerSettings::*getter)() const) {
    return [getter](const TrackerSettings& s) { return std::to_string((s.*getter)()); };
}

const std::vector<NamedSetting>& Table() {
    static const std::vector<NamedSetting> table = {
        {"COM", Text(&TrackerSettings::GetGpsPort), SetText(&TrackerSettings::SetGpsPort)},
        {"BaudRate", Dword(&TrackerSettings::GetBaudRate), SetDword(&TrackerSettings::SetBaudRate)},
        {"DataBits", Dword(&TrackerSettings::GetDataBits), SetDword(&TrackerSettings::SetDataBits)},
        {"Parity", Dword(&TrackerSettings::GetParity), SetDword(&TrackerSettings::SetParity)},
        {"StopBits", Dword(&TrackerSettings::GetStopBits), SetDword(&TrackerSettings::SetStopBits)},
        {"Host", Text(&TrackerSettings::GetHost), SetText(&TrackerSettings::SetHost)},
        {"Port", [](const TrackerSettings& s) { return std::to_string(s.GetPort()); },
         SetNumber<uint16_t>([](TrackerSettings& s, uint16_t n) { return s.SetPort(n); })},
        {"ModeB", [](const TrackerSettings& s) { return std::to_string(s.GetMode(0)); },
         SetNumber<uint32_t>([](TrackerSettings& s, uint32_t n) { return s.SetMode(0, n); })},
        {"ModeP", [](const TrackerSettings& s) { return std::to_string(s.GetMode(1)); },
         SetNumber<uint32_t>([](TrackerSettings& s, uint32_t n) { return s.SetMode(1, n); })},
        {"Login", Text(&TrackerSettings::GetLogin), SetText(&TrackerSettings::SetLogin)},
        {"Password", Text(&TrackerSettings::GetPasswordHash), SetText(&TrackerSettings::SetPassword)},
        {"user_id", Dword(&TrackerSettings::GetUserId), SetDword(&TrackerSettings::SetUserId)},
        {"LOG", Text(&TrackerSettings::GetLogPath), SetText(&TrackerSettings::SetLogPath)},
        {"LastTrkPt", [](const TrackerSettings& s) { return std::to_string(s.GetLastTrackPoint()); },
         SetNumber<uint64_t>([](TrackerSettings& s, uint64_t n) { return s.SetLastTrackPoint(&n); })},
        {"AutoTrkMode", Dword(&TrackerSettings::GetAutoTrackMode), SetDword(&TrackerSettings::SetAutoTrackMode)},
        {"AutoTrkTimeout", Dword(&TrackerSettings::GetAutoTrackTimeout),
         SetDword(&TrackerSettings::SetAutoTrackTimeout)},
        {"AutoTrkPointCount", Dword(&TrackerSettings::GetAutoTrackPointCount),
         SetDword(&TrackerSettings::SetAutoTrackPointCount)},
    };
    return table;
}

const NamedSetting* Find(const std::string& name) {
    for (const auto& n : Table()) {
        if (name == n.name) return &n;
    }
    return nullptr;
}

}  // namespace

const std::vector<std::string>& SettingNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const auto& n : Table()) out.emplace_back(n.name);
        return out;
    }();
    return names;
}

bool IsSettingName(const std::string& name) { return Find(name) != nullptr; }

std::string ShowSetting(const TrackerSettings& settings, const std::string& name) {
    const NamedSetting* setting = Find(name);
    return setting ? setting->get(settings) : std::string();
}

std::string ChangeSetting(TrackerSettings& settings, const std::string& name, const std::string& value) {
    const NamedSetting* setting = Find(name);
    if (!setting) return "unknown setting \"" + name + "\"";
    // Tried on a copy first, so a refused value leaves the record as it was.
    TrackerSettings trial(settings);
    switch (setting->set(trial, value)) {
    case SetResult::NotANumber: return name + " takes a whole number, not \"" + value + "\"";
    case SetResult::Refused: return name + " cannot be \"" + value + "\"";
    case SetResult::Ok: break;
    }
    if (auto tooLong = trial.FirstValueTooLong()) {
        const std::string limit = " longer than " + std::to_string(kMaxSettingChars) + " characters";
        if (tooLong->name == name && tooLong->text == value) return name + " cannot be" + limit;
        return name + " \"" + value + "\" makes " + tooLong->name + " \"" + tooLong->text + "\"" + limit;
    }
    setting->set(settings, value);
    return {};
}

}  // namespace kestrix
