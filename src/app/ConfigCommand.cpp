// kestrix config: reads and writes the settings by their registry value names, so a
// headless machine can be set up without a browser. While a daemon runs on the data folder
// it is asked (its values, and its own settings change, save and service restart), since
// it would write its copy back over the file at its next save; otherwise the file is read
// and written through the same settings record the daemon loads.
#include <cstdio>
#include <string>

#include "app/Commands.h"
#include "app/DataDir.h"
#include "app/Usage.h"
#include "platform/Registry.h"
#include "settings/NamedSettings.h"
#include "settings/TrackerSettings.h"
#include "shell/DaemonClient.h"
#include "shell/DaemonRecord.h"

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

int ThroughDaemon(const shell::DaemonRecord& daemon, const Args& args) {
    const std::string& verb = args[0];
    shell::DaemonReply reply =
        verb == "set" ? shell::ChangeDaemonSetting(daemon, args[1], args[2]) : shell::ReadDaemonSettings(daemon);
    switch (reply.kind) {
    case shell::DaemonReply::Kind::Done: break;
    case shell::DaemonReply::Kind::Refused: return Refused(reply.message);
    case shell::DaemonReply::Kind::Failed:
        std::fprintf(stderr, "kestrix config: the running daemon (pid %ld): %s\n", daemon.pid, reply.message.c_str());
        return 1;
    case shell::DaemonReply::Kind::NoAnswer:
        std::fprintf(stderr,
                     "kestrix config: a daemon (pid %ld) runs on this data folder but does not answer: %s; "
                     "nothing was changed\n",
                     daemon.pid, reply.message.c_str());
        return 1;
    }
    for (const auto& [name, value] : reply.settings) {
        if (verb == "list") std::printf("%s=%s\n", name.c_str(), value.c_str());
        if (verb == "get" && name == args[1]) std::printf("%s\n", value.c_str());
    }
    return 0;
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
    shell::DaemonRecord daemon;
    const std::string recordFile = shell::DaemonRecordFileIn(dataDir);
    if (shell::ReadDaemonRecord(recordFile, daemon, error) == shell::DaemonRecordState::Live) {
        if (!error.empty()) {
            std::fprintf(stderr, "kestrix config: %s; nothing was changed\n", error.c_str());
            return 1;
        }
        return ThroughDaemon(daemon, args);
    }

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
