// Development stand-in until the decoder lands; replaced by the NMEA work.
#include <cstdio>
#include "app/Commands.h"
namespace kestrix::app {
int RunNmeaCommand(const Args&) { std::fprintf(stderr, "kestrix nmea: not built yet\n"); return 1; }
}
