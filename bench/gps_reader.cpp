// The GPS input's costs, as ratios within one run:
//  - feeding the decoder 10 bytes at a time (as the reader thread drains the port)
//    against feeding it the whole capture at once: the overhead should be a few percent;
//  - the reader thread on a pseudo-terminal against decoding in memory: how much of the
//    decoder's speed survives the port, the thread and the read time-outs.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <string>

#include "base/Listeners.h"
#include "gps/GpsReceiver.h"
#include "nmea/GpsDecoder.h"
#include "nmea/SyntheticCapture.h"
#include "platform/PseudoTerminal.h"
#include "settings/TrackerSettings.h"

namespace {

using namespace kestrix;

class CountingListener : public GpsFixListener {
public:
    void OnSignalLevel(int) override {}
    void OnFixLost() override {}
    void OnFix(TrackPointRef) override { fixes.fetch_add(1, std::memory_order_relaxed); }
    std::atomic<uint64_t> fixes{0};
};

const std::string& Capture() {
    static const std::string capture = [] {
        DriveOptions o;
        o.seconds = 3600;
        return GenerateDrive(o);
    }();
    return capture;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

void BM_TenByteFeedAgainstWholeFeed(benchmark::State& state) {
    const std::string& capture = Capture();
    double whole = 0, pieces = 0;
    for (auto _ : state) {
        CountingListener a, b;
        GpsDecoder wholeDecoder(&a), pieceDecoder(&b);
        auto t0 = std::chrono::steady_clock::now();
        wholeDecoder.Feed(capture);
        auto t1 = std::chrono::steady_clock::now();
        for (size_t i = 0; i < capture.size(); i += 10) {
            pieceDecoder.Feed(capture.data() + i, static_cast<int>(std::min<size_t>(10, capture.size() - i)));
        }
        auto t2 = std::chrono::steady_clock::now();
        whole += Seconds(t1 - t0);
        pieces += Seconds(t2 - t1);
        if (a.fixes != b.fixes) state.SkipWithError("the two feeds gave different fixes");
        state.SetIterationTime(Seconds(t2 - t1));
    }
    const double bytes = static_cast<double>(capture.size()) * static_cast<double>(state.iterations());
    state.counters["whole_MBps"] = bytes / whole / 1e6;
    state.counters["ten_byte_MBps"] = bytes / pieces / 1e6;
    state.counters["overhead_pct"] = (pieces / whole - 1.0) * 100.0;
}
BENCHMARK(BM_TenByteFeedAgainstWholeFeed)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ReaderThreadOnPseudoTerminal(benchmark::State& state) {
    const std::string& capture = Capture();
    uint64_t expected;
    {
        CountingListener l;
        GpsDecoder d(&l);
        d.Feed(capture);
        expected = l.fixes;
    }
    double threadSeconds = 0, memorySeconds = 0;
    for (auto _ : state) {
        platform::PseudoTerminal pty;
        if (!pty.Create()) {
            state.SkipWithError("no pseudo-terminal");
            return;
        }
        TrackerSettings settings;
        settings.SetGpsPort(pty.SlavePath());
        settings.SetBaudRate(4000000);
        CountingListener listener;
        GpsReceiver receiver(&listener);
        receiver.Start(&settings);
        while (!receiver.Port().IsOpen()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        auto t0 = std::chrono::steady_clock::now();
        for (size_t i = 0; i < capture.size(); i += 4096) pty.Write(std::string_view(capture).substr(i, 4096), 10000);
        while (listener.fixes.load() < expected) std::this_thread::sleep_for(std::chrono::microseconds(200));
        auto t1 = std::chrono::steady_clock::now();
        receiver.Stop();
        CountingListener l;
        GpsDecoder d(&l);
        auto t2 = std::chrono::steady_clock::now();
        d.Feed(capture);
        auto t3 = std::chrono::steady_clock::now();
        threadSeconds += Seconds(t1 - t0);
        memorySeconds += Seconds(t3 - t2);
        state.SetIterationTime(Seconds(t1 - t0));
    }
    const double bytes = static_cast<double>(capture.size()) * static_cast<double>(state.iterations());
    state.counters["reader_MBps"] = bytes / threadSeconds / 1e6;
    state.counters["memory_MBps"] = bytes / memorySeconds / 1e6;
    state.counters["reader_share"] = memorySeconds / threadSeconds;
}
BENCHMARK(BM_ReaderThreadOnPseudoTerminal)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
