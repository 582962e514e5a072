// Encoding a 500-point track message (times, coordinate codes, bit packing) and
// compressing it, beside a bare compress2 of the same bytes in the same run. Printed at the
// end: what the encoding adds to the compression, the encoding's CPU time over the bare
// compress2's (target: at most 0.05), and as a cross-check the difference between encoding
// and compressing and compressing alone (two large, noisy figures on a shared machine).
// Unless told otherwise it runs five interleaved repetitions and compares medians.
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
            // The median of the repetitions when there are some, else the one run.
            if (r.run_type != Run::RT_Aggregate) {
                times.emplace(r.run_name.function_name, r.GetAdjustedCPUTime());
            } else if (r.aggregate_name == "median") {
                times[r.run_name.function_name] = r.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=5";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregates[] = "--benchmark_report_aggregates_only=true";
    if (argc == 1) args.insert(args.end(), {repetitions, interleave, aggregates});
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double both = reporter.times["BM_TrackEncodeAndCompress"];
    const double zlib = reporter.times["BM_BareCompress2"];
    const double encode = reporter.times["BM_TrackEncodeOnly"];
    int status = 0;
    if (both > 0 && zlib > 0 && encode > 0) {
        const double adds = encode / zlib;
        std::printf("encoding a 500-point track message: %.1f us, compressing it: %.1f us (CPU, medians)\n",
                    encode / 1e3, zlib / 1e3);
        std::printf("encoding adds %.3f to the compression time (target <= 0.05): %s\n", adds,
                    adds <= 0.05 ? "met" : "MISSED");
        std::printf("cross-check, (encode and compress - compress) / compress: %.3f\n", (both - zlib) / zlib);
        if (adds > 0.05) status = 1;
    }
    benchmark::Shutdown();
    return status;
}
