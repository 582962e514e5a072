// kestrix log dump: prints a track log's records as JSON lines, without the daemon.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/Commands.h"
#include "app/Usage.h"
#include "platform/DeviceFs.h"
#include "platform/Time.h"
#include "tracklog/LogRecord.h"

namespace kestrix::app {

namespace {

// The shortest text that reads back as the same value; JSON has no NaN or infinity, and a
// damaged file may hold them, so those become null.
template <typename T>
std::string JsonNumber(T v) {
    if (!std::isfinite(v)) return "null";
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : "null";
}

std::string RecordJson(const LogRecord& r) {
    std::string time = platform::FormatIsoUtc(r.time, true);
    return "{\"lat\":" + JsonNumber(r.latitude) + ",\"lon\":" + JsonNumber(r.longitude) +
           ",\"alt\":" + JsonNumber(r.altitude) + ",\"speed\":" + JsonNumber(r.speed) + ",\"time\":" +
           (time.empty() ? std::string("null") : "\"" + time + "\"") + "}";
}

int Dump(const std::string& path) {
    std::error_code ec;
    std::filesystem::path host = std::filesystem::absolute(path, ec);
    if (ec || !std::filesystem::is_regular_file(host, ec)) {
        std::fprintf(stderr, "kestrix log: %s: no such file\n", path.c_str());
        return 1;
    }
    // The log is read through the device's file layer: its folder becomes the root.
    platform::SetDeviceRoot(host.parent_path().string());
    platform::DeviceFile file;
    if (!file.Open("\\" + host.filename().string(), "rb")) {
        std::fprintf(stderr, "kestrix log: %s: cannot open\n", path.c_str());
        return 1;
    }
    LogRecordReader reader(file);
    LogRecord record;
    while (reader.Next(record)) std::printf("%s\n", RecordJson(record).c_str());
    if (reader.TrailingBytes() > 0) {
        std::fprintf(stderr, "kestrix log: %s: ignored a partial record of %zu bytes at the end\n", path.c_str(),
                     reader.TrailingBytes());
    }
    return 0;
}

}  // namespace

int RunLogCommand(const Args& args) {
    if (args.size() == 2 && args[0] == "dump") return Dump(args[1]);
    return UsageError("log: expected dump LOG");
}

}  // namespace kestrix::app
