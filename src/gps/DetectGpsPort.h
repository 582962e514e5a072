// Finding the GPS port when none is configured: first the multiplexer's port name in the
// registry (gpsd, recorded there at start-up as "GPD0:"), then the COM ports COM0: to
// COMmaxPort:, each opened, set to 9600 baud 8N1, and read once for up to 7 bytes;
// a port whose output starts with "$GPG" or "$PSRFT" is the receiver. Every port
// opened is closed again.
// Threads: the calling thread, blocked up to about one second per port that opens.
#pragma once
#include <cstddef>
#include <string>

namespace kestrix {

namespace platform {
class SerialDevice;
}

// The controller's call: maxPort 10 and a buffer of 16 UTF-16 units.
inline constexpr int kDetectMaxPort = 10;
inline constexpr size_t kDetectBufferSize = 16;

// buffer receives the name (terminated); size is its capacity in UTF-16 units. The
// multiplexer value is read with size taken as a byte count, as the registry call
// takes it: a value needing more than size/2 units (terminator included) counts as
// absent. False when nothing was found or the found name did not fit.
bool DetectGpsPort(int maxPort, char16_t* buffer, size_t size);
// The same with a 16-unit buffer, giving the name as UTF-8.
bool DetectGpsPortName(int maxPort, std::string& name);
// Line set-up of a port being probed: 9600 baud, 8 data bits, no parity, one stop bit,
// DTR off. False for a closed port or a refused line.
bool ConfigureProbe(platform::SerialDevice& device);

}  // namespace kestrix
