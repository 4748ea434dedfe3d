// Throughput of the NSV reader's whole path (GetSecond, GetFileInfo, GetData, one second after
// another, as the driver calls them) beside a plain read loop over the same file, both from the
// page cache. The file is generated at start into a temporary directory:
// TARNEL_BENCH_MB megabytes (default 300) of 29.97 fps video, a sync frame every 30 frames,
// video frames of 1,000 to 9,000 bytes and 418-byte audio frames (about 1.3 Mbit/s).
//
//     build/bench/nsv_reader_bench
//
// prints the two benchmarks and then the ratio of their throughputs.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "nsv/nsv_reader.h"
#include "support/nsv_writer.h"

namespace {

std::string bench_dir;
std::string bench_file;
long long bench_file_size = 0;

void make_file() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/tarnel-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    bench_dir = pattern;
    bench_file = bench_dir + "/bench.nsv";
    const char* mb = std::getenv("TARNEL_BENCH_MB");
    const long long target = (mb != nullptr ? std::atoll(mb) : 300) * 1024 * 1024;

    std::ofstream out(bench_file, std::ios::binary);
    tarnel::test::NsvWriter header;
    header.file_header("TITLE='Benchmark' URL='http://example.org/'", true, 100);
    out << header.bytes();
    long long written = static_cast<long long>(header.size());
    std::mt19937 random(42);
    std::uniform_int_distribution<int> video(1000, 9000);
    while (written < target) {
        tarnel::test::NsvWriter second;
        second.sync_frame(video(random), 418, 0x81);
        for (int i = 1; i < 30; ++i) {
            second.continuation_frame(video(random), 418);
        }
        out << second.bytes();
        written += static_cast<long long>(second.size());
    }
    out.close();
    bench_file_size = written;

    // Into the page cache.
    std::vector<char> buffer(1 << 20);
    std::FILE* f = std::fopen(bench_file.c_str(), "rb");
    while (std::fread(buffer.data(), 1, buffer.size(), f) > 0) {
    }
    std::fclose(f);
}

void BM_PlainReadLoop(benchmark::State& state) {
    std::vector<char> buffer(1 << 20);
    for (auto _ : state) {
        std::FILE* f = std::fopen(bench_file.c_str(), "rb");
        long long total = 0;
        size_t got = 0;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) {
            total += static_cast<long long>(got);
            benchmark::DoNotOptimize(buffer.data());
        }
        std::fclose(f);
        if (total != bench_file_size) {
            state.SkipWithError("short read");
        }
    }
    state.SetBytesProcessed(state.iterations() * bench_file_size);
}

void BM_ReaderPath(benchmark::State& state) {
    std::vector<char> buffer;
    for (auto _ : state) {
        tarnel::NSVReader reader;
        if (!reader.Open(bench_file)) {
            state.SkipWithError("cannot open");
            break;
        }
        std::string metadata;
        reader.GetHeader(&metadata);
        char line_buffer[256];
        long start = 0;
        long length = 0;
        double rate = 0;
        int frames = 0;
        char video[16];
        char audio[16];
        int height = 0;
        int width = 0;
        bool next_track = false;
        long long sent = 0;
        const std::string subtitle = "12:34:56";
        while (reader.GetSecond(line_buffer, &start, &length, &rate, &frames, 0) == 0) {
            reader.GetFileInfo(video, audio, &height, &width);
            const size_t needed = static_cast<size_t>(length) + subtitle.size() + 35;
            if (buffer.size() < needed) {
                buffer.resize(needed);
            }
            // A subtitle is offered every second; the countdown lets one in every ten.
            const int result = reader.GetData(buffer.data(), length, &next_track, subtitle, 290, 10,
                                              10, 255, 255, 255);
            sent += result;
            benchmark::DoNotOptimize(buffer.data());
        }
        if (sent < bench_file_size) {
            state.SkipWithError("short read");
        }
    }
    state.SetBytesProcessed(state.iterations() * bench_file_size);
}

BENCHMARK(BM_PlainReadLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ReaderPath)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Keeps the console output and notes each benchmark's throughput.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        // The median of the repetitions when there are several, else the one run.
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (!run.error_occurred && (median || single)) {
                // Real time of one pass over the file, in the benchmark's unit (milliseconds).
                const double seconds = run.GetAdjustedRealTime() / 1000.0;
                throughput[run.run_name.function_name] =
                    static_cast<double>(bench_file_size) / seconds;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> throughput;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    make_file();
    std::printf("file: %lld bytes (%.1f MiB)\n", bench_file_size,
                static_cast<double>(bench_file_size) / 1048576.0);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double plain = reporter.throughput["BM_PlainReadLoop"];
    const double path = reporter.throughput["BM_ReaderPath"];
    if (plain > 0 && path > 0) {
        std::printf("plain read loop: %.0f MiB/s, reader path: %.0f MiB/s, ratio: %.1f%%\n",
                    plain / 1048576.0, path / 1048576.0, 100.0 * path / plain);
    }
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(bench_dir, ignored);
    return 0;
}
