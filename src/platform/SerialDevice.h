// A serial line opened by name, for reading NMEA from a GPS receiver.
//
// Names: an absolute host path (/dev/ttyACM0, a pseudo-terminal) is opened as it stands;
// "COMn:" resolves through the port map kept in the registry key kPortMapKey (value
// "COM4:" = "/dev/ttyACM0"), or, when that key does not exist, through the default map
// built from the machine's serial devices (DefaultPortMap); "GPDn:" is a TCP connection
// to gpsd (127.0.0.1, GpsdPort() from GpsMultiplexer.h) that asks for raw NMEA, so the
// receiver is shared with every other gpsd client.
//
// A tty is opened read-only and exclusively (TIOCEXCL) and configured through termios;
// a line setting the device cannot carry (1.5 stop bits, a rate that is not a standard
// one, 5..8 data bits only) is refused by Configure, as a driver refuses it. Reads wait
// at most 1000 ms in all and 50 ms after a byte without another, and return at once when
// the caller's stop event is set, so no reader thread ever blocks beyond its stop.
// Errors are reported through LastError (errno values), never thrown.
//
// Threads: one object is used by one thread at a time (the caller serialises).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrix::platform {

class Event;

inline constexpr const char* kPortMapKey = "SOFTWARE\\Kestrix\\Ports";

// Line parameters in numbers (not the settings' capability flags).
struct LineSettings {
    uint32_t baudRate = 9600;
    int dataBits = 8;   // 5, 6, 7 or 8
    int parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;   // 0 one, 1 one and a half (refused on this system), 2 two
    bool dtr = true;    // raise DTR after configuring
};

enum class SerialKind { Closed, Tty, Gpsd };

// Read time-outs, in milliseconds.
inline constexpr int kReadTotalTimeoutMs = 1000;
inline constexpr int kReadIntervalTimeoutMs = 50;

class SerialDevice {
public:
    SerialDevice() = default;
    ~SerialDevice();  // Close()
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens the named port (closing a previous one first). A gpsd connection waits up to
    // 1000 ms for the connect and returns early when stop is set. False with LastError
    // (ENOENT for an unknown COM name or a missing device).
    bool Open(const std::string& name, Event* stop = nullptr);
    bool IsOpen() const { return fd_ >= 0; }
    SerialKind Kind() const { return kind_; }
    // The host path of an open tty ("" for gpsd).
    const std::string& DevicePath() const { return path_; }

    // Applies the line parameters (raw mode, no flow control, receiver on). A gpsd
    // connection has no line and accepts any valid setting. False (EINVAL) when refused.
    bool Configure(const LineSettings& line);
    // The line as the tty reports it now. A pseudo-terminal keeps the rate and the stop
    // bits but always reports 8 data bits without parity.
    bool QueryLine(LineSettings& out) const;

    // Reads up to n bytes: returns when n arrived, 50 ms after a byte without another,
    // after 1000 ms in all, or at once when stop (may be null) is set. Returns the count
    // (0: nothing arrived), or -1 on an error (LastError). HungUp() then tells whether
    // the device is gone (unplugged, pseudo-terminal master closed, gpsd went away).
    long Read(uint8_t* buffer, size_t n, Event* stop);
    bool HungUp() const { return hungUp_; }

    // Discards pending input and output and closes. Harmless when closed.
    void Close();

private:
    bool OpenTty(const std::string& path);
    bool OpenGpsd(Event* stop);

    int fd_ = -1;
    SerialKind kind_ = SerialKind::Closed;
    bool pseudoTerminal_ = false;
    bool hungUp_ = false;
    std::string path_;
};

// True for the rates a termios line can be set to (50 ... 4000000).
bool IsStandardBaudRate(uint32_t rate);

// Resolves a "COMn:" name (case-insensitive, n decimal) to a host path through the
// registry map or the default map. False (ENOENT) when the name has no entry.
bool ResolveComPort(const std::string& name, std::string& path);
// True for "GPDn:" names.
bool IsGpsdPortName(const std::string& name);

// The default map: the serial devices found in devDir, ttyACM* first, then ttyUSB*, then
// ttyS*, each group in numeric order, named COM1:, COM2:, ... in that order.
std::vector<std::pair<std::string, std::string>> DefaultPortMap(const std::string& devDir = "/dev");

}  // namespace kestrix::platform
