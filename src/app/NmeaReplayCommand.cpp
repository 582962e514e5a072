// kestrix nmea replay FILE --pty PATH [--rate N] [--loop]: plays a capture into a
// pseudo-terminal linked at PATH, one burst a second as the receiver sent it, so Kestrix
// (or any other program) can open PATH as it would open a receiver's serial port.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "gps/CaptureBursts.h"
#include "platform/Event.h"
#include "platform/PseudoTerminal.h"
#include "platform/TerminationSignal.h"

namespace kestrix::app {

namespace {

constexpr const char* kUsage = "usage: kestrix nmea replay FILE|- --pty PATH [--rate N] [--loop]\n";

constexpr int kWriteTimeoutMs = 200;

struct Options {
    std::string file;
    std::string link;
    double rate = 1.0;
    bool loop = false;
};

bool Parse(const Args& args, Options& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--pty" && i + 1 < args.size()) {
            o.link = args[++i];
        } else if (a == "--rate" && i + 1 < args.size()) {
            std::istringstream in(args[++i]);
            if (!(in >> o.rate) || !in.eof() || !(o.rate > 0.0) || o.rate > 1000.0) {
                std::fprintf(stderr, "kestrix nmea replay: --rate takes a number above 0 and at most 1000\n");
                return false;
            }
        } else if (a == "--loop") {
            o.loop = true;
        } else if (o.file.empty() && (a == "-" || a.empty() || a[0] != '-')) {
            o.file = a;
        } else {
            std::fprintf(stderr, "kestrix nmea replay: unexpected argument \"%s\"\n", a.c_str());
            return false;
        }
    }
    return !o.file.empty() && !o.link.empty();
}

bool ReadCapture(const std::string& file, std::string& out) {
    if (file == "-") {
        out.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Waits up to ms milliseconds; false when a termination signal arrived.
bool Pause(platform::TerminationSignal& signal, int64_t ms) {
    if (ms > 0) platform::WaitAny({platform::Waitable::Readable(signal.Fd())}, static_cast<int>(ms));
    return !signal.Received();
}

}  // namespace

int RunNmeaReplay(const Args& args) {
    Options o;
    if (!Parse(args, o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string capture;
    if (!ReadCapture(o.file, capture)) {
        std::fprintf(stderr, "kestrix nmea replay: cannot read %s\n", o.file.c_str());
        return 1;
    }
    const std::vector<std::string> bursts = SplitCaptureIntoBursts(capture);
    if (bursts.empty()) {
        std::fprintf(stderr, "kestrix nmea replay: %s holds no data\n", o.file.c_str());
        return 1;
    }

    platform::TerminationSignal signal;
    platform::PseudoTerminal pty;
    if (!pty.Create()) {
        std::fprintf(stderr, "kestrix nmea replay: cannot create a pseudo-terminal\n");
        return 1;
    }
    if (!pty.LinkAt(o.link)) {
        std::fprintf(stderr, "kestrix nmea replay: cannot link %s to %s (a file that is not a link is left alone)\n",
                     o.link.c_str(), pty.SlavePath().c_str());
        return 1;
    }
    std::fprintf(stderr, "kestrix nmea replay: %s -> %s, %zu bursts, %g a second%s\n", o.link.c_str(),
                 pty.SlavePath().c_str(), bursts.size(), o.rate, o.loop ? ", looping" : "");

    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::duration<double, std::milli>(1000.0 / o.rate);
    auto next = Clock::now();
    uint64_t sent = 0;
    bool running = true;
    do {
        for (const std::string& burst : bursts) {
            // With nobody reading, the line fills up and the rest of the burst is lost,
            // as a receiver's output is when no one listens.
            if (pty.Write(burst, kWriteTimeoutMs)) ++sent;
            // Paced against the start, so slow writes do not stretch the replay.
            next += std::chrono::duration_cast<Clock::duration>(interval);
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
            if (!Pause(signal, wait)) {
                running = false;
                break;
            }
        }
    } while (running && o.loop);

    // Give a reader the last burst before the line goes away (closing the master hangs
    // up the slave and drops what it holds). A write reaches the slave's queue a moment
    // after it returns (the kernel pushes it on from a work queue, later on a loaded
    // machine), so an empty queue counts only once it has stayed empty for a while.
    for (int i = 0, quiet = 0; running && i < 100 && quiet < 3; ++i) {
        quiet = pty.Pending() > 0 ? 0 : quiet + 1;
        if (!Pause(signal, 100)) running = false;
    }
    pty.Unlink();
    std::fprintf(stderr, "kestrix nmea replay: %llu bursts sent%s\n", static_cast<unsigned long long>(sent),
                 signal.Received() ? ", stopped by signal" : "");
    return 0;
}

}  // namespace kestrix::app
