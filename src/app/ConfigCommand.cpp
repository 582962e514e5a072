// kestrix config: reads and writes the settings by their registry value names, through the
// same settings record the daemon loads, so a headless machine can be set up without a
// browser.
#include <charconv>
#include <cstdio>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/DataDir.h"
#include "app/Usage.h"
#include "platform/Registry.h"
#include "settings/TrackerSettings.h"

namespace kestrix::app {

namespace {

template <typename T>
std::optional<T> ParseUnsigned(const std::string& text) {
    T value{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

enum class SetResult { Ok, NotANumber, Refused };

struct SettingName {
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

std::function<std::string(const TrackerSettings&)> Number(uint32_t (TrackerSettings::*getter)() const) {
    return [getter](const TrackerSettings& s) { return std::to_string((s.*getter)()); };
}

std::function<SetResult(TrackerSettings&, const std::string&)> SetNumber(bool (TrackerSettings::*setter)(uint32_t)) {
    return [setter](TrackerSettings& s, const std::string& v) {
        auto n = ParseUnsigned<uint32_t>(v);
        if (!n) return SetResult::NotANumber;
        return (s.*setter)(*n) ? SetResult::Ok : SetResult::Refused;
    };
}

std::function<SetResult(TrackerSettings&, const std::string&)> SetMode(uint32_t powerSource) {
    return [powerSource](TrackerSettings& s, const std::string& v) {
        auto n = ParseUnsigned<uint32_t>(v);
        if (!n) return SetResult::NotANumber;
        return s.SetMode(powerSource, *n) ? SetResult::Ok : SetResult::Refused;
    };
}

const std::vector<SettingName>& Names() {
    static const std::vector<SettingName> names = {
        {"COM", Text(&TrackerSettings::GetGpsPort), SetText(&TrackerSettings::SetGpsPort)},
        {"BaudRate", Number(&TrackerSettings::GetBaudRate), SetNumber(&TrackerSettings::SetBaudRate)},
        {"DataBits", Number(&TrackerSettings::GetDataBits), SetNumber(&TrackerSettings::SetDataBits)},
        {"Parity", Number(&TrackerSettings::GetParity), SetNumber(&TrackerSettings::SetParity)},
        {"StopBits", Number(&TrackerSettings::GetStopBits), SetNumber(&TrackerSettings::SetStopBits)},
        {"Host", Text(&TrackerSettings::GetHost), SetText(&TrackerSettings::SetHost)},
        {"Port", [](const TrackerSettings& s) { return std::to_string(s.GetPort()); },
         [](TrackerSettings& s, const std::string& v) {
             auto n = ParseUnsigned<uint16_t>(v);
             if (!n) return SetResult::NotANumber;
             return s.SetPort(*n) ? SetResult::Ok : SetResult::Refused;
         }},
        {"ModeB", [](const TrackerSettings& s) { return std::to_string(s.GetMode(0)); }, SetMode(0)},
        {"ModeP", [](const TrackerSettings& s) { return std::to_string(s.GetMode(1)); }, SetMode(1)},
        {"Login", Text(&TrackerSettings::GetLogin), SetText(&TrackerSettings::SetLogin)},
        {"Password", Text(&TrackerSettings::GetPasswordHash), SetText(&TrackerSettings::SetPassword)},
        {"user_id", Number(&TrackerSettings::GetUserId), SetNumber(&TrackerSettings::SetUserId)},
        {"LOG", Text(&TrackerSettings::GetLogPath), SetText(&TrackerSettings::SetLogPath)},
        {"LastTrkPt", [](const TrackerSettings& s) { return std::to_string(s.GetLastTrackPoint()); },
         [](TrackerSettings& s, const std::string& v) {
             auto n = ParseUnsigned<uint64_t>(v);
             if (!n) return SetResult::NotANumber;
             return s.SetLastTrackPoint(&*n) ? SetResult::Ok : SetResult::Refused;
         }},
        {"AutoTrkMode", Number(&TrackerSettings::GetAutoTrackMode), SetNumber(&TrackerSettings::SetAutoTrackMode)},
        {"AutoTrkTimeout", Number(&TrackerSettings::GetAutoTrackTimeout),
         SetNumber(&TrackerSettings::SetAutoTrackTimeout)},
        {"AutoTrkPointCount", Number(&TrackerSettings::GetAutoTrackPointCount),
         SetNumber(&TrackerSettings::SetAutoTrackPointCount)},
    };
    return names;
}

const SettingName* Find(const std::string& name) {
    for (const auto& n : Names()) {
        if (name == n.name) return &n;
    }
    return nullptr;
}

int UnknownName(const std::string& name) {
    std::string known;
    for (const auto& n : Names()) known += std::string(known.empty() ? "" : " ") + n.name;
    std::fprintf(stderr, "kestrix config: unknown setting \"%s\"; the settings are: %s\n", name.c_str(), known.c_str());
    return 2;
}

}  // namespace

int RunConfigCommand(const Args& argsIn) {
    Args args = argsIn;
    std::string dataDir;
    if (args.size() >= 2 && args[0] == "--data-dir") {
        dataDir = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (dataDir.empty()) dataDir = DefaultDataDir();
    if (args.empty()) return UsageError("config: list, get or set?");
    const std::string& verb = args[0];
    const bool isList = verb == "list" && args.size() == 1;
    const bool isGet = verb == "get" && args.size() == 2;
    const bool isSet = verb == "set" && args.size() == 3;
    if (!isList && !isGet && !isSet) return UsageError("config: expected list, get NAME or set NAME VALUE");

    const SettingName* setting = nullptr;
    if (!isList) {
        setting = Find(args[1]);
        if (!setting) return UnknownName(args[1]);
    }

    std::string error;
    if (isSet && !EnsureDirectory(dataDir, error)) {
        std::fprintf(stderr, "kestrix config: %s\n", error.c_str());
        return 1;
    }
    const std::string registryFile = RegistryFileIn(dataDir);
    if (!platform::ConfigureRegistry(registryFile, &error)) {
        std::fprintf(stderr, "kestrix config: %s\n", error.c_str());  // the error names the file
        return 1;
    }

    TrackerSettings settings;
    settings.Load();
    if (isList) {
        for (const auto& n : Names()) std::printf("%s=%s\n", n.name, n.get(settings).c_str());
        return 0;
    }
    if (isGet) {
        std::printf("%s\n", setting->get(settings).c_str());
        return 0;
    }
    switch (setting->set(settings, args[2])) {
    case SetResult::NotANumber:
        std::fprintf(stderr, "kestrix config: %s takes a whole number, not \"%s\"\n", setting->name, args[2].c_str());
        return 2;
    case SetResult::Refused:
        std::fprintf(stderr, "kestrix config: %s cannot be \"%s\"\n", setting->name, args[2].c_str());
        return 2;
    case SetResult::Ok:
        break;
    }
    if (int rc = settings.Save(); rc != 0) {
        std::fprintf(stderr, "kestrix config: cannot save the settings to %s (error %d)\n", registryFile.c_str(), rc);
        return 1;
    }
    return 0;
}

}  // namespace kestrix::app
