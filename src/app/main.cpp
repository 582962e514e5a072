// kestrix: the daemon (the shell with the tracker loaded) and the command-line tools.
#include <string>

#include "app/Commands.h"
#include "app/Usage.h"

int main(int argc, char** argv) {
    using namespace kestrix::app;
    Args args(argv + 1, argv + argc);
    if (args.empty()) return UsageError();
    const std::string command = args[0];
    Args rest(args.begin() + 1, args.end());
    if (command == "run") return RunDaemon(rest);
    if (command == "config") return RunConfigCommand(rest);
    if (command == "log") return RunLogCommand(rest);
    if (command == "nmea") {
        if (!rest.empty() && rest[0] == "replay") return RunNmeaReplay(Args(rest.begin() + 1, rest.end()));
        return RunNmeaCommand(rest);
    }
    return UsageError("unknown command \"" + command + "\"");
}
