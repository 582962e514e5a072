#include "gps/DetectGpsPort.h"

#include <cstring>
#include <memory>
#include <string>

#include "platform/GpsMultiplexer.h"
#include "platform/Registry.h"
#include "platform/SerialDevice.h"

namespace kestrix {

namespace {

// Port names are ASCII; anything else is not a name this system can open.
bool ToUtf16(const std::string& s, std::u16string& out) {
    out.clear();
    for (unsigned char c : s) {
        if (c >= 0x80) return false;
        out.push_back(static_cast<char16_t>(c));
    }
    return true;
}

bool ReadMultiplexerPort(char16_t* buffer, size_t size) {
    auto key = platform::RegKey::Open(platform::kMultiplexerKey, false);
    if (!key) return false;
    std::string value;
    const bool read = key->QueryString(platform::kMultiplexerValue, value);
    key->Close();
    std::u16string wide;
    if (!read || !ToUtf16(value, wide)) return false;
    // The buffer size is taken as bytes here: the value and its terminator must fit.
    if ((wide.size() + 1) * sizeof(char16_t) > size) return false;
    std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    return true;
}

bool LooksLikeReceiver(const char* head) {
    return std::strncmp(head, "$PSRFT", 6) == 0 || std::strncmp(head, "$GPG", 4) == 0;
}

}  // namespace

bool ConfigureProbe(platform::SerialDevice& device) {
    if (!device.IsOpen()) return false;
    platform::LineSettings line;
    line.baudRate = 9600;
    line.dataBits = 8;
    line.parity = 0;
    line.stopBits = 0;
    line.dtr = false;
    return device.Configure(line);
}

bool DetectGpsPort(int maxPort, char16_t* buffer, size_t size) {
    if (buffer == nullptr) return false;
    if (ReadMultiplexerPort(buffer, size)) return true;
    for (int n = 0; n <= maxPort; ++n) {
        const std::string name = "COM" + std::to_string(n) + ":";
        platform::SerialDevice device;
        if (!device.Open(name)) continue;
        if (!ConfigureProbe(device)) {
            device.Close();
            continue;
        }
        char head[8] = {};
        const long got = device.Read(reinterpret_cast<uint8_t*>(head), 7, nullptr);
        if (got > 0 && LooksLikeReceiver(head)) {
            device.Close();
            std::u16string wide;
            ToUtf16(name, wide);
            if (size <= wide.size()) return false;
            std::memcpy(buffer, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
            return true;
        }
        device.Close();
    }
    return false;
}

bool DetectGpsPortName(int maxPort, std::string& name) {
    char16_t buffer[kDetectBufferSize] = {};
    if (!DetectGpsPort(maxPort, buffer, kDetectBufferSize)) return false;
    name.clear();
    for (size_t i = 0; i < kDetectBufferSize && buffer[i] != 0; ++i) name.push_back(static_cast<char>(buffer[i]));
    return true;
}

}  // namespace kestrix
