#include "gps/SerialPort.h"

#include <algorithm>

#include "platform/Event.h"
#include "platform/LastError.h"
#include "platform/Registry.h"
#include "settings/TrackerSettings.h"

namespace kestrix {

namespace {

// UTF-16 units needed for UTF-8 text: one per character, two beyond the basic plane.
size_t Utf16Length(const std::string& s) {
    size_t units = 0;
    for (unsigned char c : s) {
        if ((c & 0xC0) != 0x80) ++units;
        if (c >= 0xF0) ++units;
    }
    return units;
}

}  // namespace

SerialPort::SerialPort(platform::Event* stopEvent) : stopEvent_(stopEvent) {}

SerialPort::~SerialPort() { Close(); }

bool SerialPort::SetPortName(const std::optional<std::string>& name) {
    if (!name || Utf16Length(*name) + 1 > kMaxPortName) return false;
    std::lock_guard<std::mutex> g(nameLock_);
    portName_ = *name;
    return true;
}

std::string SerialPort::PortName() const {
    std::lock_guard<std::mutex> g(nameLock_);
    return portName_;
}

int SerialPort::DataBitsFromFlag(uint32_t flag) {
    switch (flag) {
        case 1: return 5;
        case 2: return 6;
        case 4: return 7;
        case 8: return 8;
        default: return 0;
    }
}

bool SerialPort::LineFromSettings(const TrackerSettings& settings, platform::LineSettings& line) {
    line.baudRate = settings.GetBaudRate();
    line.dataBits = DataBitsFromFlag(settings.GetDataBits());
    line.parity = static_cast<int>(settings.GetParity() & 0xFF);
    line.stopBits = static_cast<int>(settings.GetStopBits() & 0xFF);
    line.dtr = true;
    return line.dataBits != 0 && line.parity <= 4 && (line.stopBits == 0 || line.stopBits == 2) &&
           platform::IsStandardBaudRate(line.baudRate);
}

bool SerialPort::Open(TrackerSettings* settings) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    ++openAttempts_;
    const std::string name = PortName();
    if (settings == nullptr || name.empty()) return false;
    Close();
    if (!device_.Open(name, stopEvent_)) return false;
    if (!Configure(settings)) Close();
    return device_.IsOpen();
}

bool SerialPort::Configure(TrackerSettings* settings) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (settings == nullptr || !device_.IsOpen()) return false;
    platform::LineSettings line;
    if (!LineFromSettings(*settings, line)) {
        platform::SetLastError(22);  // EINVAL: the line cannot carry this setting
        return false;
    }
    return device_.Configure(line);
}

int SerialPort::Read(char* buffer, int n) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (!device_.IsOpen() || buffer == nullptr || n <= 0) return 0;
    const long got = device_.Read(reinterpret_cast<uint8_t*>(buffer), static_cast<size_t>(n), stopEvent_);
    if (got < 0) {
        if (device_.HungUp()) device_.Close();
        return 0;
    }
    return static_cast<int>(got);
}

void SerialPort::Close() {
    std::lock_guard<std::recursive_mutex> g(lock_);
    device_.Close();
}

bool SerialPort::IsOpen() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return device_.IsOpen();
}

bool SerialPort::QueryLine(platform::LineSettings& out) const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return device_.QueryLine(out);
}

std::vector<std::string> ComPortDevicePaths() {
    std::vector<std::string> paths;
    auto add = [&paths](const std::string& path) {
        if (!path.empty() && std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
    };
    if (auto key = platform::RegKey::Open(platform::kPortMapKey, false)) {
        const auto values = key->Values();
        key.reset();
        for (const auto& [name, value] : values) {
            std::string path;
            if (value.type == platform::RegType::Sz && platform::ResolveComPort(name, path)) add(path);
        }
    } else {
        for (const auto& [name, path] : platform::DefaultPortMap()) add(path);
    }
    return paths;
}

}  // namespace kestrix
