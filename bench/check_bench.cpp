// `tarnel-nsv check` over a station of many media files, beside `cat` of the same files as the
// floor (the time to read every byte once). Both are whole processes, timed from fork to exit,
// with the files in the page cache (an untimed cat reads them first). The station is generated
// at start into a temporary directory: four different 20-second clips of 29.97 fps video (video
// frames of 1,000 to 9,000 bytes, 418-byte audio frames: about 1.3 Mbit/s, 3.3 MB a file), and
// TARNEL_BENCH_FILES (default 1000) entries that are hard links to them, or copies with
// TARNEL_BENCH_COPY=1 (distinct files in the page cache; needs 3.3 GB of disk per 1000), listed
// in a basic playlist.
//
//     build/bench/check_bench
//
// prints both benchmarks (wall time, and the child's processor time as counters) and then the
// ratio of the two.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/nsv_writer.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr int kClips = 4;
constexpr int kClipSeconds = 20;

std::unique_ptr<tarnel::test::TempDir> station_dir;
std::string station;
std::vector<std::string> entries;
long long total_bytes = 0;
std::map<std::string, double> wall_seconds;  // per benchmark, the mean of its iterations

std::string nsv_tool() {
    const std::string tarnel = TARNEL_BINARY;
    return tarnel.substr(0, tarnel.find_last_of('/') + 1) + "tarnel-nsv";
}

std::string clip_bytes(int index) {
    std::mt19937 random(42 + index);
    std::uniform_int_distribution<int> video(1000, 9000);
    tarnel::test::NsvWriter writer;
    writer.file_header("TITLE='Clip " + std::to_string(index) + "'");
    for (int second = 0; second < kClipSeconds; ++second) {
        writer.sync_frame(video(random), 418, 0x81);
        for (int i = 1; i < 30; ++i) {
            writer.continuation_frame(video(random), 418);
        }
    }
    return writer.bytes();
}

void make_station() {
    station_dir = std::make_unique<tarnel::test::TempDir>();
    station = station_dir->path();
    fs::create_directory(station + "/media");
    const char* count_text = std::getenv("TARNEL_BENCH_FILES");
    const int count = count_text != nullptr ? std::atoi(count_text) : 1000;
    const char* copy_text = std::getenv("TARNEL_BENCH_COPY");
    const bool copy = copy_text != nullptr && std::string(copy_text) == "1";

    std::vector<std::string> clips;
    for (int i = 0; i < kClips; ++i) {
        clips.push_back(station + "/clip" + std::to_string(i) + ".nsv");
        std::ofstream(clips.back(), std::ios::binary) << clip_bytes(i);
    }
    std::ofstream playlist(station + "/station.plo");
    playlist << "#Mode=basic\n";
    for (int i = 0; i < count; ++i) {
        const std::string entry = "media/f" + std::to_string(i) + ".nsv";
        const std::string& source = clips[static_cast<size_t>(i % kClips)];
        if (copy) {
            fs::copy_file(source, station + "/" + entry);
        } else {
            fs::create_hard_link(source, station + "/" + entry);
        }
        entries.push_back(entry);
        total_bytes += static_cast<long long>(fs::file_size(source));
        playlist << entry << "\n";
    }
    std::ofstream(station + "/tarnel.conf") << "Playlist=station.plo\nLogFile=tarnel.log\n";
}

// Runs a program in the station to its end, its output to /dev/null, and waits for it without
// polling. Returns its exit status (-1 when it did not exit) and adds its processor time to cpu.
int run(const std::string& program, const std::vector<std::string>& args, double& cpu) {
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        if (chdir(station.c_str()) == 0) {
            execv(program.c_str(), argv.data());
        }
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
        return -1;
    }
    cpu += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void report(benchmark::State& state, double cpu) {
    state.counters["files"] = static_cast<double>(entries.size());
    state.counters["child_cpu_s"] = cpu / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * total_bytes);
}

// Runs program with args once per iteration; a run that exits with a status other than 0 ends
// the benchmark with failure. The mean wall time goes to wall_seconds[name].
void time_runs(benchmark::State& state, const std::string& name, const std::string& program,
               const std::vector<std::string>& args, const char* failure) {
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (run(program, args, cpu) != 0) {
            state.SkipWithError(failure);
            break;
        }
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    report(state, cpu);
    wall_seconds[name] = wall / static_cast<double>(state.iterations());
}

void BM_Cat(benchmark::State& state) {
    time_runs(state, "cat", "/bin/cat", entries, "cat failed");
}

void BM_Check(benchmark::State& state) {
    time_runs(state, "check", nsv_tool(), {"check", "tarnel.conf"},
              "check found problems or failed");
}

BENCHMARK(BM_Cat)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_Check)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    make_station();
    double warm = 0;
    run("/bin/cat", entries, warm);  // into the page cache
    benchmark::RunSpecifiedBenchmarks();
    if (wall_seconds.count("cat") != 0 && wall_seconds.count("check") != 0) {
        std::printf("check / cat (wall time, %zu files, %.0f MB): %.2f\n", entries.size(),
                    static_cast<double>(total_bytes) / 1e6,
                    wall_seconds["check"] / wall_seconds["cat"]);
    }
    station_dir.reset();
    benchmark::Shutdown();
    return 0;
}
