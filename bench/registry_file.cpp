// The registry file with 10,000 values (about 330 KB, within the 1 MiB limit):
//   ReadBytes  - open the file and read its bytes: the least a load can do;
//   Load       - ConfigureRegistry: read and parse, as "kestrix config" and "run" start;
//   Parse      - the text alone, at 2,500 and 10,000 values (per-value time must not grow);
//   Format     - the text of the parsed data;
//   WriteBytes - write the same bytes to a temporary file, flush it and rename it over;
//   SaveChange - open the key, change one value and close it (re-read under the lock,
//                parse, apply, format, write, flush, rename).
// Printed at the end: Load / ReadBytes, SaveChange / WriteBytes, and the per-value parse
// time at 10,000 values over that at 2,500 (1 is linear).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "platform/Registry.h"
#include "platform/Text.h"

namespace {

using namespace kestrix::platform;

constexpr const char* kKey = "SOFTWARE\\Geomira\\GmrLogger";

// Strings, dwords and short binaries in turn, as the settings hold them.
RegistryData MakeData(int count) {
    RegistryData data;
    auto& values = data.keys[kKey];
    for (int i = 0; i < count; ++i) {
        RegValue& v = values[Format("Value%05d", i)];
        v.type = i % 3 == 0 ? RegType::Sz : i % 3 == 1 ? RegType::Dword : RegType::Binary;
        if (v.type == RegType::Sz) v.text = "text " + std::to_string(i);
        if (v.type == RegType::Dword) v.dword = static_cast<uint32_t>(i);
        if (v.type == RegType::Binary) v.binary = {0x00, 0x80, 0x3e, 0xd5, 0xde, 0xb1, 0x9d, 0x01};
    }
    return data;
}

const std::string& Folder() {
    static const std::string folder = [] {
        auto dir = std::filesystem::temp_directory_path() / ("kestrix-bench-registry-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return dir.string();
    }();
    return folder;
}
std::string FilePath() { return Folder() + "/registry.reg"; }

const std::string& Text(int count) {
    static std::map<int, std::string> texts;
    auto it = texts.find(count);
    if (it == texts.end()) it = texts.emplace(count, FormatRegistryText(MakeData(count))).first;
    return it->second;
}

void WriteText(const std::string& path, const std::string& text, bool flush) {
    const std::string tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    for (size_t done = 0; done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    if (flush) ::fsync(fd);
    ::close(fd);
    ::rename(tmp.c_str(), path.c_str());
}

void ReadBytes(benchmark::State& state) {
    WriteText(FilePath(), Text(10000), false);
    std::string bytes;
    for (auto _ : state) {
        bytes.clear();
        int fd = ::open(FilePath().c_str(), O_RDONLY | O_CLOEXEC);
        char buffer[16384];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<size_t>(n));
        ::close(fd);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

void Load(benchmark::State& state) {
    WriteText(FilePath(), Text(10000), false);
    for (auto _ : state) {
        if (!ConfigureRegistry(FilePath())) state.SkipWithError("the file does not load");
    }
}

void Parse(benchmark::State& state) {
    const std::string& text = Text(static_cast<int>(state.range(0)));
    std::string error;
    for (auto _ : state) {
        RegistryData data;
        if (!ParseRegistryText(text, data, error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(data.keys.size());
    }
}

void FormatText(benchmark::State& state) {
    RegistryData data;
    std::string error;
    ParseRegistryText(Text(10000), data, error);
    for (auto _ : state) benchmark::DoNotOptimize(FormatRegistryText(data).size());
}

void WriteBytes(benchmark::State& state) {
    for (auto _ : state) WriteText(FilePath(), Text(10000), true);
}

void SaveChange(benchmark::State& state) {
    WriteText(FilePath(), Text(10000), false);
    ConfigureRegistry(FilePath());
    uint32_t n = 0;
    for (auto _ : state) {
        auto key = RegKey::Open(kKey, false);
        if (!key) {
            state.SkipWithError("the key does not open");
            break;
        }
        key->SetDword("Value00001", ++n);
        if (key->Close() != kErrorSuccess) state.SkipWithError("the change is not saved");
    }
}

BENCHMARK(ReadBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK(Load)->Unit(benchmark::kMicrosecond);
BENCHMARK(Parse)->Arg(2500)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(FormatText)->Unit(benchmark::kMicrosecond);
BENCHMARK(WriteBytes)->Unit(benchmark::kMicrosecond);
BENCHMARK(SaveChange)->Unit(benchmark::kMicrosecond);

// Remembers each run's time per iteration (microseconds) for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) times[r.run_name.str()] = r.GetAdjustedRealTime();
    }
    double Time(const std::string& name) const {
        auto it = times.find(name);
        return it == times.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("registry file: 10000 values, %.0f KB\n", static_cast<double>(Text(10000).size()) / 1e3);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(Folder(), ec);

    const double read = reporter.Time("ReadBytes");
    const double load = reporter.Time("Load");
    const double small = reporter.Time("Parse/2500");
    const double large = reporter.Time("Parse/10000");
    const double write = reporter.Time("WriteBytes");
    const double save = reporter.Time("SaveChange");
    if (read > 0 && load > 0)
        std::printf("read %.0f us, load (read and parse) %.0f us: %.1f times the read\n", read, load, load / read);
    if (small > 0 && large > 0)
        std::printf("parse per value at 10000 values over that at 2500: %.2f (1 is linear)\n", (large / 10000) / (small / 2500));
    if (write > 0 && save > 0)
        std::printf("write and flush %.0f us, save one change %.0f us: %.1f times the write\n", write, save, save / write);
    return 0;
}
