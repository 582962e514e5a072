// The GPS multiplexer of this system is gpsd: a local daemon that owns the receiver and
// shares its NMEA with every client. At start-up the shell calls
// UpdateGpsMultiplexerRegistry, which records the multiplexer's port name ("GPD0:") in the
// emulated registry when a gpsd answers, and removes it when none does, so that port
// detection finds gpsd first.
// Threads: any thread; the port setter is meant for tests, before any connection is made.
#pragma once
#include <cstdint>

namespace kestrix::platform {

class Event;

inline constexpr const char* kMultiplexerKey = "System\\CurrentControlSet\\GPS Intermediate Driver\\Multiplexer";
inline constexpr const char* kMultiplexerValue = "DriverInterface";
inline constexpr const char* kMultiplexerPortName = "GPD0:";
inline constexpr uint16_t kDefaultGpsdPort = 2947;

// The TCP port of gpsd on 127.0.0.1 (kDefaultGpsdPort unless changed).
uint16_t GpsdPort();
void SetGpsdPort(uint16_t port);

// Connects to gpsd with a time-out and returns the connected socket (blocking mode),
// or -1 with LastError. Returns early (ECANCELED) when stop is set.
int ConnectToGpsd(int timeoutMs, Event* stop = nullptr);

// True when a gpsd on 127.0.0.1:GpsdPort() accepts a connection and greets with its
// version within timeoutMs.
bool GpsdAnswers(int timeoutMs = 500);

// Writes DriverInterface = "GPD0:" under kMultiplexerKey when gpsd answers, removes the
// value when it does not. Returns true when gpsd answered and the value was saved.
bool UpdateGpsMultiplexerRegistry(int timeoutMs = 500);

}  // namespace kestrix::platform
