// Encoding a 500-point track message (times, coordinate codes, bit packing) and
// compressing it, beside a bare compress2 of the same bytes in the same run. The ratio
// printed at the end is what the encoding adds to the compression; target: at most 0.10.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <vector>

#include "server/Messages.h"
#include "server/Packet.h"

using namespace kestrix;

namespace {

TrackMessage& Batch() {
    static TrackMessage* batch = [] {
        auto* m = new TrackMessage(42);
        for (int i = 0; i < 500; ++i) {
            // A walk: small steps, as a real track has.
            m->Add(TrackPoint::Make(48.137 + i * 1.3e-5, 11.575 + i * 2.1e-5, 520.0f + (i % 17) * 0.5f, 4.2f,
                                    125911584000000000ull + i * 10000000ull));
        }
        return m;
    }();
    return *batch;
}

void BM_TrackEncodeAndCompress(benchmark::State& state) {
    TrackMessage& m = Batch();
    for (auto _ : state) {
        Packet p;
        if (!p.Prepare(m) || !m.Write(p) || !p.Compress()) state.SkipWithError("encoding failed");
        benchmark::DoNotOptimize(p.Bytes().data());
    }
}
BENCHMARK(BM_TrackEncodeAndCompress);

void BM_TrackEncodeOnly(benchmark::State& state) {
    TrackMessage& m = Batch();
    for (auto _ : state) {
        Packet p;
        if (!p.Prepare(m) || !m.Write(p)) state.SkipWithError("encoding failed");
        benchmark::DoNotOptimize(p.Data());
    }
}
BENCHMARK(BM_TrackEncodeOnly);

void BM_BareCompress2(benchmark::State& state) {
    TrackMessage& m = Batch();
    Packet p;
    p.Prepare(m);
    m.Write(p);
    const std::vector<uint8_t> input(p.Data() + 4, p.Data() + p.Size());
    std::vector<uint8_t> out(compressBound(input.size()));
    for (auto _ : state) {
        uLongf n = out.size();
        if (compress2(out.data(), &n, input.data(), input.size(), 6) != Z_OK) state.SkipWithError("zlib failed");
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_BareCompress2);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // CPU time: the machine is shared, and wall time mostly measures the neighbours.
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "mean") continue;
            times[r.run_name.function_name] = r.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double both = reporter.times["BM_TrackEncodeAndCompress"];
    const double zlib = reporter.times["BM_BareCompress2"];
    const double encode = reporter.times["BM_TrackEncodeOnly"];
    if (both > 0 && zlib > 0) {
        std::printf("encoding adds %.3f of the compression CPU time (target <= 0.10); encoding alone: %.3f\n",
                    (both - zlib) / zlib, encode / zlib);
    }
    benchmark::Shutdown();
    return 0;
}
