#include "app/Usage.h"

#include <cstdio>

namespace kestrix::app {

const char* const kUsage =
    "usage:\n"
    "  kestrix run [--data-dir DIR] [--root DIR] [--http ADDR:PORT] [--power-supply DIR]\n"
    "              [--gpsd PORT] [--message-box-timeout SECONDS] [--tiles URL|off]\n"
    "  kestrix config [--data-dir DIR] list\n"
    "  kestrix config [--data-dir DIR] get NAME\n"
    "  kestrix config [--data-dir DIR] set NAME VALUE\n"
    "  kestrix log dump LOG\n"
    "  kestrix log gpx LOG [-o OUT|-]\n"
    "  kestrix log geojson LOG [-o OUT|-] [--points N] [--from ISO-TIME] [--to ISO-TIME]\n"
    "  kestrix nmea decode [FILE|-] [--accepted]\n"
    "  kestrix nmea generate --seconds N [--start ISO-TIME] [--no-gll]\n"
    "  kestrix nmea replay FILE --pty PATH [--rate N] [--loop]\n";

int UsageError(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "kestrix: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace kestrix::app
