// SerialPort: the GPS receiver's port, named by the gpsPort setting ("COM4:", "GPD0:",
// /dev/ttyACM0, see platform/SerialDevice.h) and configured from the line settings.
//
// The settings hold the data bits as a DATABITS_* flag (1, 2, 4, 8, 16, 32); the line
// takes 5, 6, 7 or 8 bits for the flags 1, 2, 4, 8 and refuses 16 and 32. Parity is
// 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits 0 one, 2 two (1, one and a half, is
// refused). A refused setting makes Configure fail, and Open then closes the port.
//
// Threads: the reader thread opens and reads; the controlling thread may Close at any
// time. Every operation but SetPortName holds the port's lock for its whole duration.
// A read also wakes when the stop event given at construction is set, so Close waits
// for a running read only briefly. Errors never throw: a failed read returns 0. A read
// that finds the device gone (unplugged, gpsd ended) closes the port so the reader
// opens it afresh.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gps/GpsSource.h"
#include "platform/SerialDevice.h"

namespace kestrix {

namespace platform {
class Event;
}

class SerialPort : public GpsSource {
public:
    // The name field's capacity in UTF-16 units, terminator included.
    static constexpr size_t kMaxPortName = 260;

    explicit SerialPort(platform::Event* stopEvent = nullptr);
    ~SerialPort() override;  // closes the port
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // False, changing nothing, for no name or one that does not fit kMaxPortName.
    bool SetPortName(const std::optional<std::string>& name);
    std::string PortName() const;

    bool Open(TrackerSettings* settings) override;
    // Applies the line settings to the open port; false when refused or closed.
    bool Configure(TrackerSettings* settings);
    int Read(char* buffer, int n) override;
    void Close() override;
    bool IsOpen() const;

    // The line as the device reports it (a tty only).
    bool QueryLine(platform::LineSettings& out) const;
    // How many times Open was called (diagnostics: a missing port is retried).
    uint64_t OpenAttempts() const { return openAttempts_.load(); }

    // 5..8 for the flags 1, 2, 4, 8; 0 for any other value.
    static int DataBitsFromFlag(uint32_t flag);
    // The line of the settings; false when a value cannot be carried.
    static bool LineFromSettings(const TrackerSettings& settings, platform::LineSettings& line);

private:
    mutable std::recursive_mutex lock_;
    platform::SerialDevice device_;
    mutable std::mutex nameLock_;
    std::string portName_;
    platform::Event* stopEvent_;
    std::atomic<uint64_t> openAttempts_{0};
};

// The host paths that COM port names resolve to on this machine (the registry's port map
// when it exists, else the default map of the serial devices), each once, in map order.
std::vector<std::string> ComPortDevicePaths();

}  // namespace kestrix
