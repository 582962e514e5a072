// Development stand-in until the replay tool lands; replaced by the GPS input work.
#include <cstdio>
#include "app/Commands.h"
namespace kestrix::app {
int RunNmeaReplay(const Args&) { std::fprintf(stderr, "kestrix nmea replay: not built yet\n"); return 1; }
}
