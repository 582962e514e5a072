// kestrix log dump: prints a track log's records as JSON lines, without the daemon; how
// many damaged records it left out goes to standard error.
// kestrix log gpx: converts a track log to GPX with the export's own writer, without the
// daemon; it never asks anything and never removes the log.
// kestrix log geojson: the track as the daemon's /api/track answers it, for scripts.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "app/Commands.h"
#include "app/Usage.h"
#include "platform/DeviceFs.h"
#include "platform/LastError.h"
#include "platform/Time.h"
#include "settings/SplitPath.h"
#include "tracklog/GeoJsonWriter.h"
#include "tracklog/GpxWriter.h"
#include "tracklog/LogRecord.h"
#include "tracklog/TrackLog.h"

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
    // Read wherever a link to it leads.
    std::filesystem::path host = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    if (ec || !std::filesystem::is_regular_file(host, ec)) {
        std::fprintf(stderr, "kestrix log: %s: no such file\n", path.c_str());
        return 1;
    }
    // The log is read through the device's file layer: its folder becomes the root.
    platform::SetDeviceRoot(host.parent_path().string());
    platform::DeviceFile file;
    if (!file.Open('\\' + host.filename().string(), "rb")) {
        std::fprintf(stderr, "kestrix log: %s: cannot open\n", path.c_str());
        return 1;
    }
    LogRecordReader reader(file);
    LogRecord record;
    while (reader.Next(record)) std::printf("%s\n", RecordJson(record).c_str());
    if (reader.Skipped() != 0) {
        std::fprintf(stderr, "kestrix log: %s: left out %llu damaged records\n", path.c_str(),
                     static_cast<unsigned long long>(reader.Skipped()));
    }
    if (reader.TrailingBytes() > 0) {
        std::fprintf(stderr, "kestrix log: %s: ignored a partial record of %zu bytes at the end\n", path.c_str(),
                     reader.TrailingBytes());
    }
    return 0;
}

// The log opened through the device's file layer, its folder becoming the root (so the
// export's naming beside it applies as it stands). Prints the reason and returns false
// when it cannot be opened.
bool OpenLog(const std::string& path, platform::DeviceFile& log, std::string& deviceName) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path host = fs::absolute(path, ec).lexically_normal();
    int error = ec ? ec.value() : 0;
    if (!error && fs::is_directory(host, ec)) error = EISDIR;
    if (!error) {
        // The log named is read wherever a link to it leads; the folder named stays the
        // root of what is written beside it.
        fs::path real = fs::weakly_canonical(host, ec);
        if (ec) real = host;
        platform::SetDeviceRoot(real.parent_path().string());
        if (!log.Open('\\' + real.filename().string(), "rb")) error = platform::GetLastError();
        platform::SetDeviceRoot(host.parent_path().string());
        deviceName = '\\' + host.filename().string();
    }
    if (error) {
        std::fprintf(stderr, "kestrix log: %s: %s\n", path.c_str(), std::strerror(error));
        return false;
    }
    return true;
}

std::string NameWithoutExtension(const std::string& path) {
    std::string name;
    SplitPath(path, nullptr, nullptr, &name, nullptr);
    return name;
}

// Where a conversion went, for messages.
std::string Target(const std::string& outPath, bool toStdout) {
    return toStdout ? std::string("standard output") : outPath;
}

// Streams a conversion of the open log to outPath (standard output when toStdout) and closes
// the log. convert gets the sink to write to. On a read or write failure the reason goes to
// stderr and nothing comes back; a document cut short must not pass for the whole track, so a
// plain file is removed then (never a device or a link the person pointed -o at).
template <class Result, class Convert>
std::optional<Result> WriteConverted(platform::DeviceFile& log, const std::string& logPath,
                                     const std::string& outPath, bool toStdout, Convert convert) {
    std::FILE* out = toStdout ? stdout : std::fopen(outPath.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "kestrix log: %s: %s\n", outPath.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    int writeError = 0;
    const Result result = convert([&](const char* data, size_t size) {
        if (std::fwrite(data, 1, size, out) == size) return true;
        writeError = errno != 0 ? errno : EIO;
        return false;
    });
    const int readError = result.readFailed ? platform::GetLastError() : 0;
    log.Close();
    if (toStdout ? std::fflush(out) != 0 : std::fclose(out) != 0) {
        if (writeError == 0) writeError = errno != 0 ? errno : EIO;
    }
    if (writeError == 0 && result.complete && !result.readFailed) return result;
    std::error_code ec;
    if (!toStdout && std::filesystem::symlink_status(outPath, ec).type() == std::filesystem::file_type::regular) {
        std::remove(outPath.c_str());
    }
    if (result.readFailed) {
        std::fprintf(stderr, "kestrix log: %s: %s\n", logPath.c_str(), std::strerror(readError != 0 ? readError : EIO));
    } else {
        std::fprintf(stderr, "kestrix log: %s: %s\n", Target(outPath, toStdout).c_str(),
                     std::strerror(writeError != 0 ? writeError : EIO));
    }
    return std::nullopt;
}

int Gpx(const Args& args) {
    std::string logPath;
    std::string outPath;
    bool outGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o") {
            if (i + 1 == args.size()) return UsageError("log gpx: -o needs a file (or - for standard output)");
            outPath = args[++i];
            outGiven = true;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return UsageError("log gpx: unknown option \"" + args[i] + "\"");
        } else if (logPath.empty()) {
            logPath = args[i];
        } else {
            return UsageError("log gpx: expected one LOG");
        }
    }
    if (logPath.empty()) return UsageError("log gpx: expected LOG");
    if (outGiven && outPath.empty()) return UsageError("log gpx: -o needs a file (or - for standard output)");

    platform::DeviceFile log;
    std::string deviceName;
    if (!OpenLog(logPath, log, deviceName)) return 1;

    const bool toStdout = outGiven && outPath == "-";
    std::string trackName;
    if (toStdout) {
        trackName = NameWithoutExtension(logPath);
    } else if (outGiven) {
        std::error_code ec;
        // Writing over the log would destroy the only copy.
        if (std::filesystem::equivalent(logPath, outPath, ec)) {
            return UsageError("log gpx: " + outPath + " is the log itself");
        }
        trackName = NameWithoutExtension(outPath);
    } else {
        // Beside the log, named as "Convert to GPX" names it (a free "_NNN" when taken).
        const std::string devicePath = ChooseGpxPath(deviceName, trackName);
        if (!platform::ToHostPath(devicePath, outPath)) {  // the warning above says why
            std::fprintf(stderr, "kestrix log: %s: cannot write %s beside it\n", logPath.c_str(), devicePath.c_str());
            return 1;
        }
    }

    const auto result = WriteConverted<GpxConversion>(log, logPath, outPath, toStdout, [&](auto sink) {
        return ConvertLogToGpx(log, trackName, sink);
    });
    if (!result) return 1;
    const std::string target = Target(outPath, toStdout);
    std::fprintf(stderr, "kestrix log: wrote %llu points to %s\n", static_cast<unsigned long long>(result->points),
                 target.c_str());
    if (result->damaged != 0) {
        std::fprintf(stderr, "kestrix log: %s: left out %llu damaged records\n", logPath.c_str(),
                     static_cast<unsigned long long>(result->damaged));
    }
    if (result->trailingBytes != 0) {
        std::fprintf(stderr, "kestrix log: %s: ignored a partial record of %zu bytes at the end\n", logPath.c_str(),
                     result->trailingBytes);
    }
    return 0;
}

int GeoJson(const Args& args) {
    std::string logPath;
    std::string outPath = "-";
    TrackQuery query;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-o" || a == "--points" || a == "--from" || a == "--to") {
            if (i + 1 == args.size() || args[i + 1].empty()) return UsageError("log geojson: " + a + " needs a value");
            const std::string& v = args[++i];
            uint64_t time = 0;
            if (a == "-o") {
                outPath = v;
            } else if (a == "--points") {
                unsigned long n = 0;
                auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
                if (ec != std::errc() || end != v.data() + v.size() || n < 2 || n > kMaxTrackVertices) {
                    return UsageError("log geojson: --points takes a whole number from 2 to " +
                                      std::to_string(kMaxTrackVertices));
                }
                query.maxVertices = n;
            } else if (!platform::ParseIsoUtc(v, time)) {
                return UsageError("log geojson: " + a + " takes a UTC time such as 2026-12-07 or 2026-12-07T14:05:00Z");
            } else {
                (a == "--from" ? query.from : query.to) = time;
            }
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("log geojson: unknown option \"" + a + "\"");
        } else if (logPath.empty()) {
            logPath = a;
        } else {
            return UsageError("log geojson: expected one LOG");
        }
    }
    if (logPath.empty()) return UsageError("log geojson: expected LOG");
    const bool toStdout = outPath == "-";
    std::error_code ec;
    if (!toStdout && std::filesystem::equivalent(logPath, outPath, ec)) {
        return UsageError("log geojson: " + outPath + " is the log itself");
    }
    platform::DeviceFile log;
    std::string deviceName;
    if (!OpenLog(logPath, log, deviceName)) return 1;
    query.log = logPath;

    const auto result = WriteConverted<GeoJsonConversion>(log, logPath, outPath, toStdout, [&](auto sink) {
        return ConvertLogToGeoJson(&log, query, sink);
    });
    if (!result) return 1;
    std::fprintf(stderr, "kestrix log: wrote %llu records as %llu vertices to %s\n",
                 static_cast<unsigned long long>(result->records), static_cast<unsigned long long>(result->vertices),
                 Target(outPath, toStdout).c_str());
    if (result->damaged != 0) {
        std::fprintf(stderr, "kestrix log: %s: left out %llu damaged records\n", logPath.c_str(),
                     static_cast<unsigned long long>(result->damaged));
    }
    return 0;
}

}  // namespace

int RunLogCommand(const Args& args) {
    if (args.size() == 2 && args[0] == "dump") return Dump(args[1]);
    if (!args.empty() && args[0] == "gpx") return Gpx(Args(args.begin() + 1, args.end()));
    if (!args.empty() && args[0] == "geojson") return GeoJson(Args(args.begin() + 1, args.end()));
    return UsageError("log: expected dump LOG, gpx LOG [-o OUT] or geojson LOG [-o OUT]");
}

}  // namespace kestrix::app
