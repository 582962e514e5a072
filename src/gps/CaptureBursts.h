// Splitting a recorded NMEA capture into the bursts a receiver sent, one per second, so
// the capture can be played back at receiver pace. A new burst starts at a GGA, RMC or
// GLL sentence (any talker) whose hhmmss time differs from the current burst's time;
// every other line (GSA, GSV, proprietary sentences, garbage) stays with the burst it
// follows. Bytes are kept exactly as recorded, line endings included.
// Pure functions; any thread.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

// The hhmmss of a GGA, RMC or GLL sentence line, or "" for any other line or a time
// field that does not start with six digits.
std::string_view SentenceSecond(std::string_view line);

// The capture's bursts, in order; their concatenation is the capture.
std::vector<std::string> SplitCaptureIntoBursts(std::string_view capture);

}  // namespace kestrix
