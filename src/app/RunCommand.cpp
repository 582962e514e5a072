// kestrix run: the shell with the tracker loaded (the plug-in's item, its notification,
// dialogs and message boxes), serving its page over HTTP until SIGINT or SIGTERM.
#include <charconv>
#include <cstdio>
#include <string>
#include <utility>

#include "app/Commands.h"
#include "app/DataDir.h"
#include "app/Usage.h"
#include "core/ControllerServices.h"
#include "core/TrackerController.h"
#include "platform/DeviceFs.h"
#include "platform/Dialog.h"
#include "platform/GpsMultiplexer.h"
#include "platform/Log.h"
#include "platform/MessageLoop.h"
#include "platform/Power.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "shell/DaemonRecord.h"
#include "shell/HttpServer.h"
#include "shell/ShellHostImpl.h"
#include "shell/SignalWatcher.h"
#include "shell/TodayScreen.h"
#include "today/PluginEntry.h"

namespace kestrix::app {

namespace {

// The module handle the plug-in's resources are looked up with.
constexpr uintptr_t kModuleInstance = 1;

struct RunOptions {
    std::string dataDir;
    std::string root;
    std::string powerSupply;
    std::string address = "127.0.0.1";
    uint16_t port = shell::kDefaultHttpPort;
    int64_t messageBoxTimeoutMs = shell::kDefaultMessageBoxTimeoutMs;
    uint16_t gpsdPort = platform::kDefaultGpsdPort;
    shell::MapTiles tiles = shell::DefaultMapTiles();
};

bool ParseNumber(const std::string& text, unsigned lo, unsigned hi, unsigned& out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out >= lo && out <= hi;
}

// Returns 0 when the options parse, else the usage error's status.
int ParseRunOptions(const Args& args, RunOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a != "--data-dir" && a != "--root" && a != "--http" && a != "--power-supply" && a != "--gpsd" &&
            a != "--message-box-timeout" && a != "--tiles") {
            return UsageError("run: unknown option \"" + a + "\"");
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) return UsageError("run: " + a + " needs a value");
        const std::string& v = args[++i];
        if (a == "--data-dir") {
            o.dataDir = v;
        } else if (a == "--root") {
            o.root = v;
        } else if (a == "--power-supply") {
            o.powerSupply = v;
        } else if (a == "--http") {
            std::string error;
            if (!shell::ParseListenAddress(v, o.address, o.port, error)) return UsageError("run: --http: " + error);
        } else if (a == "--tiles") {
            std::string error;
            if (!shell::ParseMapTiles(v, o.tiles, error)) return UsageError("run: --tiles: " + error);
        } else if (a == "--gpsd") {
            unsigned port = 0;
            if (!ParseNumber(v, 1, 65535, port)) return UsageError("run: --gpsd takes a port number (1 to 65535)");
            o.gpsdPort = static_cast<uint16_t>(port);
        } else {
            unsigned seconds = 0;
            if (!ParseNumber(v, 1, 86400, seconds)) {
                return UsageError("run: --message-box-timeout takes 1 to 86400 seconds");
            }
            o.messageBoxTimeoutMs = int64_t{seconds} * 1000;
        }
    }
    if (o.dataDir.empty()) o.dataDir = DefaultDataDir();
    return 0;
}

}  // namespace

int RunDaemon(const Args& args) {
    RunOptions o;
    if (int status = ParseRunOptions(args, o)) return status;
    // From here on SIGINT and SIGTERM wait for the watcher instead of ending the process.
    shell::SignalWatcher signals;

    std::string error;
    if (!EnsureDirectory(o.dataDir, error) || (!o.root.empty() && !EnsureDirectory(o.root, error))) {
        std::fprintf(stderr, "kestrix run: %s\n", error.c_str());
        return 1;
    }
    // One daemon a data folder: a second would write its own copy of the settings and log.
    const std::string recordFile = shell::DaemonRecordFileIn(o.dataDir);
    shell::DaemonRecord other;
    switch (shell::ReadDaemonRecord(recordFile, other, error)) {
    case shell::DaemonRecordState::Live:
        if (error.empty()) {
            error = "another kestrix run (pid " + std::to_string(other.pid) + ", http://" + other.address + ":" +
                    std::to_string(other.port) + "/) uses " + o.dataDir;
        }
        std::fprintf(stderr, "kestrix run: %s\n", error.c_str());
        return 1;
    case shell::DaemonRecordState::Stale:
        platform::LogInfo("replacing " + recordFile + ", left by a kestrix run that is gone");
        break;
    case shell::DaemonRecordState::None: break;
    }
    const std::string registryFile = RegistryFileIn(o.dataDir);
    if (!platform::ConfigureRegistry(registryFile, &error)) {
        std::fprintf(stderr, "kestrix run: %s\n", error.c_str());  // the error names the file
        return 1;
    }
    platform::SetDeviceRoot(o.root.empty() ? o.dataDir : o.root);
    if (!o.powerSupply.empty()) platform::SetPowerSupplyRoot(o.powerSupply);
    // A local gpsd is the receiver's multiplexer: recorded before port detection looks for it.
    platform::SetGpsdPort(o.gpsdPort);
    if (platform::UpdateGpsMultiplexerRegistry()) {
        platform::LogInfo("gpsd answers on 127.0.0.1:" + std::to_string(o.gpsdPort) + ": its port is GPD0:");
    }

    platform::MessageLoop loop;
    shell::ShellHostImpl host(loop, o.messageBoxTimeoutMs);
    // Dialogs and sheets nobody answers are cancelled after the same time as message boxes.
    platform::SetUnattendedTimeout(o.messageBoxTimeoutMs);
    platform::SetShellHost(&host);

    // The page must be up before the controller starts: start-up may ask a question.
    shell::HttpServer http(loop, host, shell::MakeRandomToken());
    http.SetMapTiles(o.tiles);
    if (!http.Start(o.address, o.port, error)) {
        std::fprintf(stderr, "kestrix run: %s\n", error.c_str());
        platform::SetShellHost(nullptr);
        return 1;
    }
    if (!shell::IsLoopbackAddress(o.address)) {
        platform::LogWarning("the page is served on " + o.address + ", reachable from other machines");
    }
    // Kept until the settings are saved for the last time, so kestrix config never writes
    // the file while this process may still write its own copy.
    shell::DaemonRecordOwner record;
    if (!record.Write(recordFile, o.address == "0.0.0.0" ? "127.0.0.1" : o.address, http.Port(), http.Token(),
                      error)) {
        std::fprintf(stderr, "kestrix run: cannot record how kestrix config reaches this daemon: %s\n", error.c_str());
        http.Stop();
        platform::SetShellHost(nullptr);
        return 1;
    }
    std::printf("Kestrix is running: http://%s:%u/\n", o.address.c_str(), static_cast<unsigned>(http.Port()));
    std::fflush(stdout);

    if (!signals.Start([&loop] {
            platform::LogInfo("received SIGINT or SIGTERM: shutting down");
            loop.PostTask([&loop] { loop.Quit(0); });
        })) {
        platform::LogWarning("cannot watch for SIGINT and SIGTERM; stop kestrix with SIGKILL");
    }

    // The plug-in is linked in: loaded here as a library is when it is attached to the
    // process (its process-wide objects, in their order), unloaded at the end.
    today::PluginLoad();
    // Every fix moves the page's marker (the event stream tells of it at most once a second).
    ControllerServices services = GetControllerServices();
    services.positionChanged = [&host] { host.PositionChanged(); };
    SetControllerServices(std::move(services));
    int status = 0;
    {
        // The home screen asks the plug-in for its item window, which brings the controller.
        shell::TodayScreen screen(loop);
        http.SetTodayScreen(&screen);
        if (!screen.LoadItem(kModuleInstance)) {
            platform::LogError("the tracker could not start (the plug-in gave the home screen no item window)");
            status = 1;
        } else if (!loop.QuitRequested()) {
            loop.Run();
        }
        // Requests first, so nothing reaches the controller while it goes away.
        http.Stop();
        signals.Stop();
        http.SetTodayScreen(nullptr);
    }  // the item window goes with the home screen, and the controller with the item window
    today::PluginUnload();
    record.Remove();
    platform::SetShellHost(nullptr);
    // The reason is in the log already; the exit status tells whoever stopped the daemon.
    if (TrackerController::ShutdownSaveError() != 0) status = 1;
    return status;
}

}  // namespace kestrix::app
