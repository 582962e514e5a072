// Decoding throughput on a generated 24-hour capture at 1 Hz (GGA, RMC, GSA and a
// three-message GSV set each second, about 36 MB):
//   ChecksumScanOnly - find "$", XOR to "*", compare the two hex digits: not a framer;
//   BareFramePass   - the least a framer must do (per-byte states, limits, buffers, checksum);
//   DecodePath      - framer, dispatch, the four handlers, the GPS state and the
//                     controller's fix filter, fed the whole buffer;
//   DecodePath10    - the same fed 10 bytes at a time, as the reader thread does.
// Printed at the end: DecodePath / BareFramePass (target at least 1/3) and
// DecodePath10 / DecodePath (target: within a few percent of 1).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "core/FixFilter.h"
#include "nmea/GpsDecoder.h"
#include "nmea/SyntheticCapture.h"

namespace {

using namespace kestrix;

const std::string& Capture() {
    static const std::string capture = [] {
        DriveOptions o;
        o.seconds = 86400;
        o.withGll = false;
        o.lostAfter = 3600;
        o.lostSeconds = 30;
        return GenerateDrive(o);
    }();
    return capture;
}

uint8_t HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    return 0;
}

// The least a framer must do: a per-byte state machine that keeps the address and the
// body within their limits, drops a sentence cut by CR or LF, and compares the checksum.
size_t BarePass(const std::string& s) {
    enum State { Hunt, Address, Body, High, Low } state = Hunt;
    char address[8] = {};
    char body[84] = {};
    unsigned addressLength = 0;
    unsigned bodyLength = 0;
    uint8_t sum = 0;
    uint8_t received = 0;
    size_t good = 0;
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (state) {
        case Hunt:
            if (c == '$') {
                state = Address;
                sum = 0;
                addressLength = bodyLength = 0;
            }
            break;
        case Address:
            sum ^= c;
            if (c == ',' || c == '*') state = Body;
            else if (addressLength == 7) state = Hunt;
            else address[addressLength++] = static_cast<char>(c);
            break;
        case Body:
            if (c == '\r' || c == '\n') state = Hunt;
            else if (c == '*') state = bodyLength > 82 ? Hunt : High;
            else {
                sum ^= c;
                if (bodyLength < 83) body[bodyLength++] = static_cast<char>(c);
            }
            break;
        case High:
            received = static_cast<uint8_t>(HexValue(c) << 4);
            state = Low;
            break;
        case Low:
            received |= HexValue(c);
            if (received == sum) {
                ++good;
                // The sentence is there for whoever needs it.
                benchmark::DoNotOptimize(address);
                benchmark::DoNotOptimize(body);
            }
            state = Hunt;
            break;
        }
    }
    return good;
}

// Not a framer: only the XOR from "$" to "*", for comparison.
size_t ChecksumScan(const std::string& s) {
    size_t good = 0;
    const char* p = s.data();
    const char* end = p + s.size();
    while (p < end) {
        if (*p++ != '$') continue;
        uint8_t sum = 0;
        while (p < end && *p != '*') sum ^= static_cast<uint8_t>(*p++);
        if (end - p < 3) break;
        const uint8_t received = static_cast<uint8_t>(HexValue(static_cast<unsigned char>(p[1])) << 4 |
                                                      HexValue(static_cast<unsigned char>(p[2])));
        good += received == sum;
        p += 3;
    }
    return good;
}

// The controller's side of the fix path: the filter, as the controller runs it per fix.
class FilterListener : public GpsFixListener {
public:
    void OnSignalLevel(int) override {}
    void OnFixLost() override { filter.Reset(); }
    void OnFix(TrackPointRef point) override {
        const auto tick = static_cast<uint32_t>(point->GetTime() / 10'000);
        if (filter.Offer(*point, tick) != FixFilter::Result::Dropped) ++accepted;
    }
    FixFilter filter;
    size_t accepted = 0;
};

void BareFramePass(benchmark::State& state) {
    const std::string& c = Capture();
    for (auto _ : state) benchmark::DoNotOptimize(BarePass(c));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(c.size()));
}

void ChecksumScanOnly(benchmark::State& state) {
    const std::string& c = Capture();
    for (auto _ : state) benchmark::DoNotOptimize(ChecksumScan(c));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(c.size()));
}

void DecodePath(benchmark::State& state) {
    const std::string& c = Capture();
    const size_t chunk = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        FilterListener listener;
        GpsDecoder decoder(&listener);
        if (chunk == 0) {
            decoder.Feed(c.data(), static_cast<int>(c.size()));
        } else {
            for (size_t i = 0; i < c.size(); i += chunk)
                decoder.Feed(c.data() + i, static_cast<int>(std::min(chunk, c.size() - i)));
        }
        benchmark::DoNotOptimize(listener.accepted);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(c.size()));
}

BENCHMARK(ChecksumScanOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BareFramePass)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(DecodePath)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(2.0)->Name("DecodePath");
BENCHMARK(DecodePath)->Arg(10)->Unit(benchmark::kMillisecond)->MinTime(2.0)->Name("DecodePath10");

// Remembers each benchmark's throughput for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end() && r.run_type == Run::RT_Iteration)
                rates[r.run_name.function_name] = it->second.value;
        }
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("capture: %.1f MB\n", static_cast<double>(Capture().size()) / 1e6);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    auto rate = [&](const char* n) { return reporter.rates.count(n) ? reporter.rates[n] : 0.0; };
    const double bare = rate("BareFramePass");
    const double whole = rate("DecodePath");
    const double tens = rate("DecodePath10");
    const double scan = rate("ChecksumScanOnly");
    if (scan > 0 && whole > 0)
        std::printf("XOR scan alone %.0f MB/s: decoding path at %.2f of it\n", scan / 1e6, whole / scan);
    if (bare > 0 && whole > 0) {
        std::printf("bare pass %.0f MB/s, decoding path %.0f MB/s: ratio %.2f (target >= 0.33)\n", bare / 1e6,
                    whole / 1e6, whole / bare);
    }
    if (whole > 0 && tens > 0) {
        std::printf("fed 10 bytes at a time %.0f MB/s: %.1f%% of the whole-buffer rate\n", tens / 1e6,
                    100.0 * tens / whole);
    }
    return 0;
}
