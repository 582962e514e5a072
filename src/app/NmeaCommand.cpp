// kestrix nmea decode [FILE|-] [--accepted]: runs a capture through the decoding path
// (framer, dispatch, the four handlers, the GPS state) and prints every fix the GPS state
// reports as one JSON line; with --accepted only the fixes the controller's filter keeps.
// A summary goes to standard error.
// kestrix nmea generate --seconds N [--start YYYY-MM-DDTHH:MM:SS] [--no-gll]: prints a
// synthetic drive.
//
// Dates: GGA and GLL carry only a time of day; the receiver's state takes the date from
// the device clock. Here the "device clock" is the capture's own: the date (and time) of
// the last RMC seen in the stream, or the computer's clock until an RMC arrives. A GGA
// or GLL just after midnight is moved to the next day when it would otherwise lie more
// than twelve hours before that RMC.
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/Commands.h"
#include "core/FixFilter.h"
#include "nmea/FieldReader.h"
#include "nmea/GpsDecoder.h"
#include "nmea/SyntheticCapture.h"
#include "platform/Clock.h"
#include "platform/Time.h"

namespace kestrix::app {

namespace {

constexpr uint64_t kTicksPerDay = 86400ull * platform::kFileTimeTicksPerSecond;
constexpr uint64_t kHalfDay = kTicksPerDay / 2;

int Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "kestrix nmea: %s\n"
                 "usage: kestrix nmea decode [FILE|-] [--accepted]\n"
                 "       kestrix nmea generate --seconds N [--start YYYY-MM-DDTHH:MM:SS] [--no-gll]\n"
                 "       kestrix nmea replay FILE --pty PATH [--rate N] [--loop]\n",
                 problem.c_str());
    return 2;
}

// The capture's clock: the last RMC's date and time once one was seen.
class StreamClock final : public platform::Clock {
public:
    uint64_t MonotonicMs() override { return system_.MonotonicMs(); }
    uint64_t UtcFileTime() override { return haveRmc_ ? rmcTime_ : system_.UtcFileTime(); }
    void SetRmcTime(uint64_t t) {
        rmcTime_ = t;
        haveRmc_ = true;
    }
    bool HaveRmc() const { return haveRmc_; }
    uint64_t RmcTime() const { return rmcTime_; }

private:
    platform::SystemClock system_;
    uint64_t rmcTime_ = 0;
    bool haveRmc_ = false;
};

// Installs a clock for the scope of the command.
class ClockScope {
public:
    explicit ClockScope(platform::Clock* c) { platform::SetDeviceClock(c); }
    ~ClockScope() { platform::SetDeviceClock(nullptr); }
};

// Buffered standard output: written in large blocks, never flushed per line.
class Output {
public:
    explicit Output(std::FILE* f) : file_(f) { buffer_.reserve(kBlock + 512); }
    ~Output() { Flush(); }
    std::string& Buffer() { return buffer_; }
    void MaybeFlush() {
        if (buffer_.size() >= kBlock) Flush();
    }
    void Flush() {
        if (!buffer_.empty()) std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
        buffer_.clear();
    }

private:
    static constexpr size_t kBlock = 1 << 16;
    std::FILE* file_;
    std::string buffer_;
};

void AppendDigits(std::string& out, unsigned value, int width) {
    char tmp[12];
    for (int i = width - 1; i >= 0; --i) {
        tmp[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(tmp, static_cast<size_t>(width));
}

template <class T>
void AppendNumber(std::string& out, T value) {
    char tmp[64];
    auto res = std::to_chars(tmp, tmp + sizeof tmp, value);
    out.append(tmp, res.ptr);
}

class DecodeCommand final : public GpsDecoder, private GpsFixListener {
public:
    DecodeCommand(bool accepted, Output& out) : accepted_(accepted), out_(out) { SetListener(this); }
    ~DecodeCommand() override { SetListener(nullptr); }

    StreamClock& Clock() { return clock_; }
    uint64_t Fixes() const { return fixes_; }
    uint64_t Printed() const { return printed_; }

protected:
    void OnSentence() override {
        address_ = SentenceAddress();
        GpsDecoder::OnSentence();
        // The RMC's date and time become the capture's clock for the sentences after it.
        if (DispatchName(address_) == "GPRMC") {
            FieldReader r(SentenceBody());
            platform::SystemTime t{};
            const std::string_view time = r.Field();
            for (int i = 0; i < 8; ++i) r.Next();
            uint64_t fileTime = 0;
            if (ParseTimeOfDay(time, t) && ParseDate(r.Field(), t) && platform::SystemTimeToFileTime(t, fileTime))
                clock_.SetRmcTime(fileTime);
        }
    }

private:
    void OnSignalLevel(int) override {}
    void OnFixLost() override {}
    void OnFix(TrackPointRef point) override {
        ++fixes_;
        if (!point) return;
        if (clock_.HaveRmc() && DispatchName(address_) != "GPRMC") {
            // Past midnight before the next RMC: the date of the last one is a day behind.
            const uint64_t t = point->GetTime();
            const uint64_t ref = clock_.RmcTime();
            uint64_t adjusted = t;
            if (t + kHalfDay < ref) adjusted = t + kTicksPerDay;
            else if (t > ref + kHalfDay && t >= kTicksPerDay) adjusted = t - kTicksPerDay;
            if (adjusted != t)
                point = TrackPoint::Make(point->GetLatitude(), point->GetLongitude(), point->GetAltitude(),
                                         point->GetSpeed(), adjusted);
        }
        if (accepted_) {
            const auto nowTick = static_cast<uint32_t>(point->GetTime() / platform::kFileTimeTicksPerMs);
            if (filter_.Offer(*point, nowTick) == FixFilter::Result::Dropped) return;
        }
        Print(*point);
    }

    void Print(const TrackPoint& p) {
        std::string& out = out_.Buffer();
        out += "{\"time\":\"";
        AppendTime(out, p.GetTime());
        out += "\",\"lat\":";
        AppendNumber(out, p.GetLatitude());
        out += ",\"lon\":";
        AppendNumber(out, p.GetLongitude());
        out += ",\"alt\":";
        AppendNumber(out, p.GetAltitude());
        out += ",\"speed_kmh\":";
        AppendNumber(out, p.GetSpeed());
        out += ",\"sentence\":\"";
        for (char c : address_) {
            // The address passed the framer: no quote or backslash can close the string early.
            if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) {
                out += '?';
            } else {
                out += c;
            }
        }
        out += "\"}\n";
        ++printed_;
        out_.MaybeFlush();
    }

    // "YYYY-MM-DDThh:mm:ss.mmmZ"; the date text is computed once a day.
    void AppendTime(std::string& out, uint64_t fileTime) {
        const uint64_t day = fileTime / kTicksPerDay;
        if (day != cachedDay_ || cachedDate_.empty()) {
            cachedDay_ = day;
            cachedDate_ = platform::FormatIsoUtc(day * kTicksPerDay, false).substr(0, 11);
        }
        out += cachedDate_;
        const uint64_t rest = fileTime % kTicksPerDay;
        const auto ms = static_cast<unsigned>(rest / platform::kFileTimeTicksPerMs);
        AppendDigits(out, ms / 3600000, 2);
        out += ':';
        AppendDigits(out, ms / 60000 % 60, 2);
        out += ':';
        AppendDigits(out, ms / 1000 % 60, 2);
        out += '.';
        AppendDigits(out, ms % 1000, 3);
        out += 'Z';
    }

    bool accepted_;
    Output& out_;
    StreamClock clock_;
    FixFilter filter_;
    std::string address_;
    uint64_t fixes_ = 0;
    uint64_t printed_ = 0;
    uint64_t cachedDay_ = 0;
    std::string cachedDate_;
};

int RunDecode(const Args& args) {
    std::string path;
    bool accepted = false;
    for (const std::string& a : args) {
        if (a == "--accepted") {
            accepted = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return Usage("unknown option \"" + a + "\"");
        } else if (path.empty()) {
            path = a;
        } else {
            return Usage("more than one input file");
        }
    }
    std::FILE* in = stdin;
    if (!path.empty() && path != "-") {
        in = std::fopen(path.c_str(), "rb");
        if (in == nullptr) {
            std::fprintf(stderr, "kestrix nmea decode: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
            return 1;
        }
    }
    Output out(stdout);
    auto command = std::make_unique<DecodeCommand>(accepted, out);
    ClockScope clockScope(&command->Clock());
    std::string buffer(1 << 16, '\0');
    bool failed = false;
    for (;;) {
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
        if (n > 0) command->Feed(buffer.data(), static_cast<int>(n));
        if (n < buffer.size()) {
            failed = std::ferror(in) != 0;
            break;
        }
    }
    if (in != stdin) std::fclose(in);
    out.Flush();
    std::fflush(stdout);
    std::fprintf(stderr, "sentences framed: %llu, checksum failures: %llu, fixes: %llu",
                 static_cast<unsigned long long>(command->SentencesFramed()),
                 static_cast<unsigned long long>(command->ChecksumFailures()),
                 static_cast<unsigned long long>(command->Fixes()));
    if (accepted) std::fprintf(stderr, ", accepted: %llu", static_cast<unsigned long long>(command->Printed()));
    std::fprintf(stderr, "\n");
    if (failed) {
        std::fprintf(stderr, "kestrix nmea decode: read error on %s\n", path.empty() ? "standard input" : path.c_str());
        return 1;
    }
    return 0;
}

bool ParseStart(const std::string& text, platform::SystemTime& t) {
    unsigned y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6) return false;
    platform::SystemTime c{};
    c.year = static_cast<uint16_t>(y);
    c.month = static_cast<uint16_t>(mo);
    c.day = static_cast<uint16_t>(d);
    c.hour = static_cast<uint16_t>(h);
    c.minute = static_cast<uint16_t>(mi);
    c.second = static_cast<uint16_t>(s);
    uint64_t check;
    if (!platform::SystemTimeToFileTime(c, check)) return false;
    t = c;
    return true;
}

int RunGenerate(const Args& args) {
    DriveOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--seconds" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            int n = 0;
            auto res = std::from_chars(v.data(), v.data() + v.size(), n);
            if (res.ec != std::errc() || res.ptr != v.data() + v.size() || n <= 0 || n > 10 * 86400)
                return Usage("--seconds needs a number from 1 to 864000");
            options.seconds = n;
        } else if (a == "--start" && i + 1 < args.size()) {
            if (!ParseStart(args[++i], options.start)) return Usage("--start needs YYYY-MM-DDTHH:MM:SS (UTC)");
        } else if (a == "--no-gll") {
            options.withGll = false;
        } else {
            return Usage("unknown argument \"" + a + "\"");
        }
    }
    const std::string capture = GenerateDrive(options);
    if (std::fwrite(capture.data(), 1, capture.size(), stdout) != capture.size()) {
        std::fprintf(stderr, "kestrix nmea generate: write error: %s\n", std::strerror(errno));
        return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int RunNmeaCommand(const Args& args) {
    if (args.empty()) return Usage("missing sub-command");
    const Args rest(args.begin() + 1, args.end());
    if (args[0] == "decode") return RunDecode(rest);
    if (args[0] == "generate") return RunGenerate(rest);
    if (args[0] == "replay") return RunNmeaReplay(rest);
    return Usage("unknown sub-command \"" + args[0] + "\"");
}

}  // namespace kestrix::app
