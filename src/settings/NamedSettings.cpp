#include "settings/NamedSettings.h"

#include <charconv>
#include <functional>
#include <optional>

#include "platform/Text.h"

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
    bool text = false;  // stored as a string: the rules of TextRefusal apply
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

// The log is named after the account at every load, so a path given here is stored as that
// load will read it: its folder and the account's log name.
SetResult SetLogFolder(TrackerSettings& s, const std::string& path) {
    return s.SetLogPath(s.LogPathAsLoaded(path)) ? SetResult::Ok : SetResult::Refused;
}

const std::vector<NamedSetting>& Table() {
    static const std::vector<NamedSetting> table = {
        {"COM", Text(&TrackerSettings::GetGpsPort), SetText(&TrackerSettings::SetGpsPort), true},
        {"BaudRate", Dword(&TrackerSettings::GetBaudRate), SetDword(&TrackerSettings::SetBaudRate)},
        {"DataBits", Dword(&TrackerSettings::GetDataBits), SetDword(&TrackerSettings::SetDataBits)},
        {"Parity", Dword(&TrackerSettings::GetParity), SetDword(&TrackerSettings::SetParity)},
        {"StopBits", Dword(&TrackerSettings::GetStopBits), SetDword(&TrackerSettings::SetStopBits)},
        {"Host", Text(&TrackerSettings::GetHost), SetText(&TrackerSettings::SetHost), true},
        {"Port", [](const TrackerSettings& s) { return std::to_string(s.GetPort()); },
         SetNumber<uint16_t>([](TrackerSettings& s, uint16_t n) { return s.SetPort(n); })},
        {"Tls", Dword(&TrackerSettings::GetTls), SetDword(&TrackerSettings::SetTls)},
        {"TlsCa", Text(&TrackerSettings::GetTlsCa), SetText(&TrackerSettings::SetTlsCa), true},
        {"ModeB", [](const TrackerSettings& s) { return std::to_string(s.GetMode(0)); },
         SetNumber<uint32_t>([](TrackerSettings& s, uint32_t n) { return s.SetMode(0, n); })},
        {"ModeP", [](const TrackerSettings& s) { return std::to_string(s.GetMode(1)); },
         SetNumber<uint32_t>([](TrackerSettings& s, uint32_t n) { return s.SetMode(1, n); })},
        {"Login", Text(&TrackerSettings::GetLogin), SetText(&TrackerSettings::SetLogin), true},
        {"Password", Text(&TrackerSettings::GetPasswordHash), SetText(&TrackerSettings::SetPassword), true},
        {"user_id", Dword(&TrackerSettings::GetUserId), SetDword(&TrackerSettings::SetUserId)},
        {"LOG", Text(&TrackerSettings::GetLogPath), SetLogFolder, true},
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

// A value quoted for a message: whatever it holds, the message stays one printable line.
std::string Quoted(const std::string& value) { return '"' + platform::EscapeForLog(value) + '"'; }

// What the running tracker would use and what the next load reads must be the same text.
std::string TextRefusal(const std::string& name, const std::string& value) {
    // The registry file has no way to write these: they would load back as something else.
    if (size_t at = platform::FindUnprintable(value); at != std::string::npos) {
        return name + " cannot hold control characters or bytes that are not UTF-8 (" +
               platform::Format("0x%02x at byte %zu", static_cast<unsigned char>(value[at]), at) + ")";
    }
    // An empty value is never saved: the stored one would come back at the next start.
    // TlsCa is the exception: emptied, it is removed, and the system's certificates count.
    if (value.empty() && name != "TlsCa") return name + " cannot be empty";
    // The next load would split the log path's folder at them.
    if (name == "Login" && value.find_first_of("/\\") != std::string::npos) {
        return "Login cannot hold / or \\: the track log is named after it";
    }
    return {};
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

std::string SettingRefusal(const TrackerSettings& settings, const std::string& name, const std::string& value) {
    const NamedSetting* setting = Find(name);
    if (!setting) return "unknown setting " + Quoted(name);
    if (setting->text) {
        if (std::string refused = TextRefusal(name, value); !refused.empty()) return refused;
    }
    // Tried on a copy, so the record is never touched here.
    TrackerSettings trial(settings);
    switch (setting->set(trial, value)) {
    case SetResult::NotANumber: return name + " takes a whole number, not " + Quoted(value);
    case SetResult::Refused: return name + " cannot be " + Quoted(value);
    case SetResult::Ok: break;
    }
    if (auto tooLong = trial.FirstValueTooLong()) {
        const std::string limit = " longer than " + std::to_string(kMaxSettingBytes) + " bytes";
        if (tooLong->name == name && tooLong->text == value) return name + " cannot be" + limit;
        return name + " " + Quoted(value) + " makes " + tooLong->name + " " + Quoted(tooLong->text) + limit;
    }
    return {};
}

std::string ChangeSetting(TrackerSettings& settings, const std::string& name, const std::string& value) {
    if (std::string refused = SettingRefusal(settings, name, value); !refused.empty()) return refused;
    Find(name)->set(settings, value);
    return {};
}

}  // namespace kestrix
