// The sub-commands of the kestrix program. Each takes the arguments after its own name
// and returns the process exit status (0 success, 1 failure, 2 usage error).
#pragma once
#include <string>
#include <vector>

namespace kestrix::app {

using Args = std::vector<std::string>;

int RunDaemon(const Args& args);          // kestrix run ...            (RunCommand.cpp)
int RunConfigCommand(const Args& args);   // kestrix config ...         (ConfigCommand.cpp)
int RunLogCommand(const Args& args);      // kestrix log dump|gpx ...   (LogCommand.cpp)
int RunNmeaCommand(const Args& args);     // kestrix nmea decode|replay (NmeaCommand.cpp)
int RunNmeaReplay(const Args& args);      // kestrix nmea replay ...    (NmeaReplayCommand.cpp)

}  // namespace kestrix::app
