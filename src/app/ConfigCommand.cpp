// kestrix config: reads and writes the settings by their registry value names, through the
// same settings record the daemon loads, so a headless machine can be set up without a
// browser.
#include <cstdio>
#include <string>

#include "app/Commands.h"
#include "app/DataDir.h"
#include "app/Usage.h"
#include "platform/Registry.h"
#include "settings/NamedSettings.h"
#include "settings/TrackerSettings.h"

namespace kestrix::app {

namespace {

int UnknownName(const std::string& name) {
    std::string known;
    for (const auto& n : SettingNames()) known += (known.empty() ? "" : " ") + n;
    std::fprintf(stderr, "kestrix config: unknown setting \"%s\"; the settings are: %s\n", name.c_str(), known.c_str());
    return 2;
}

int Refused(const std::string& message) {
    std::fprintf(stderr, "kestrix config: %s\n", message.c_str());
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
    if (!isList && !IsSettingName(args[1])) return UnknownName(args[1]);

    std::string error;
    if (isSet && !EnsureDirectory(dataDir, error)) {
        std::fprintf(stderr, "kestrix config: %s\n", error.c_str());
        return 1;
    }
    const std::string registryFile = RegistryFileIn(dataDir);
    if (!platform::ConfigureRegistry(registryFile, &error)) {
        std::fprintf(stderr, "kestrix config: %s: %s\n", registryFile.c_str(), error.c_str());
        return 1;
    }

    TrackerSettings settings;
    if (!isSet) {
        settings.LoadWithoutWriting();
        if (isGet) {
            std::printf("%s\n", ShowSetting(settings, args[1]).c_str());
            return 0;
        }
        for (const auto& name : SettingNames()) std::printf("%s=%s\n", name.c_str(), ShowSetting(settings, name).c_str());
        return 0;
    }
    settings.Load();
    if (std::string refused = ChangeSetting(settings, args[1], args[2]); !refused.empty()) return Refused(refused);
    if (int rc = settings.Save(); rc != 0) {
        std::fprintf(stderr, "kestrix config: cannot save the settings to %s (error %d)\n", registryFile.c_str(), rc);
        return 1;
    }
    return 0;
}

}  // namespace kestrix::app
