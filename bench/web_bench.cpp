// tarnel-web over the stations of a big machine: GET /metrics and the page's data
// (GET /api/stations) with TARNEL_BENCH_STATIONS (default 1000) stand-in stations, beside `cat`
// of the same status files as the floor (the time to read each file once, in one process).
// Each station is a folder of a temporary run directory with a status file as a streaming
// station writes it (with its first-byte delay histogram) and a control socket, answered by four
// stand-in servers of one thread each (GET /status and GET /history as a station answers them).
// The real build/tarnel-web runs as a process of its own; the figures are per request: wall
// time as the client sees it, and tarnel-web's processor time (from /proc) as a counter.
//
//     build/bench/web_bench

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/control_socket_stub.h"
#include "support/process_stats.h"
#include "support/tarnel_web_run.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;

constexpr int kStubs = 4;

std::unique_ptr<tarnel::test::TempDir> run_dir;
std::vector<std::unique_ptr<tarnel::test::ControlSocketStub>> stubs;
std::unique_ptr<tarnel::test::TarnelWebRun> web;
std::string token;
size_t stations = 0;
std::map<std::string, double> wall_seconds;  // per benchmark, the mean of its iterations

std::string status_text(int index) {
    json status = {{"version", "1.0.0"},
                   {"pid", static_cast<long>(getpid())},
                   {"state", "streaming"},
                   {"server", "stream.example.org"},
                   {"port", 8000},
                   {"mount", nullptr},
                   {"connected_since", "2026-12-11T10:00:00Z"},
                   {"entry", "media/clip" + std::to_string(index % 50) + ".nsv"},
                   {"title", "Station " + std::to_string(index) + " - a title of some length"},
                   {"second", index % 300},
                   {"bytes_sent", 451337216 + index},
                   {"seconds_sent", 3600 + index},
                   {"reconnections", index % 3},
                   {"last_error", "Could not write to socket."},
                   {"last_error_time", "2026-12-11T09:58:00Z"},
                   {"updated", "2026-12-11T12:00:00Z"},
                   {"first_byte_delay",
                    {{"le_seconds", {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0}},
                     {"counts", {1000, 2000, 3000, 3400, 3500, 3550, 3590, 3600, 3600, 3600}},
                     {"count", 3600},
                     {"sum_seconds", 12.5}}}};
    return status.dump(2) + "\n";
}

void make_stations() {
    const char* count_text = std::getenv("TARNEL_BENCH_STATIONS");
    stations = count_text != nullptr ? static_cast<size_t>(std::atoi(count_text)) : 1000;
    run_dir = std::make_unique<tarnel::test::TempDir>();
    for (int i = 0; i < kStubs; ++i) {
        stubs.push_back(std::make_unique<tarnel::test::ControlSocketStub>());
    }
    json history = json::array();
    for (int i = 0; i < 5; ++i) {
        history.push_back({{"start", "2026-12-11T10:00:00.123Z"},
                           {"end", "2026-12-11T10:00:20.123Z"},
                           {"entry", "media/clip.nsv"},
                           {"title", "An earlier title"},
                           {"seconds", 20},
                           {"bytes", 2500000},
                           {"ended", "played"},
                           {"queued", false}});
    }
    const std::string history_text = json{{"items", history}}.dump();
    for (size_t i = 0; i < stations; ++i) {
        const std::string name = "station" + std::to_string(i);
        mkdir(run_dir->file(name).c_str(), 0755);
        const std::string text = status_text(static_cast<int>(i));
        run_dir->write(name + "/status.json", text);
        json full = json::parse(text);
        full["directory"] = "/var/lib/tarnel/" + name;
        full["next"] = {{"entry", "media/next.nsv"}, {"queued", false}};
        full["queue"] = json::array();
        full["position"] = {{"mode", "basic"}, {"index", 3}};
        const std::string full_text = full.dump();
        stubs[i % kStubs]->serve(
            run_dir->file(name + "/control.sock"),
            [full_text, history_text](const tarnel::test::ControlRequest& request) {
                return tarnel::test::ControlAnswer{
                    200, request.target == "/status" ? full_text : history_text};
            });
    }
}

// tarnel-web's processor time so far, in seconds.
double web_cpu_seconds() {
    std::ifstream stat("/proc/" + std::to_string(web->process().pid()) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) {
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void time_requests(benchmark::State& state, const std::string& name, const std::string& path) {
    httplib::Client client("127.0.0.1", web->port());
    client.set_read_timeout(std::chrono::seconds(60));
    const httplib::Headers headers = {{"X-Tarnel-Token", token}};
    double wall = 0;
    size_t bytes = 0;
    const double cpu_before = web_cpu_seconds();
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const httplib::Result result = client.Get(path.c_str(), headers);
        if (!result || result->status != 200) {
            state.SkipWithError(("GET " + path + " failed").c_str());
            break;
        }
        bytes = result->body.size();
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["stations"] = static_cast<double>(stations);
    state.counters["reply_bytes"] = static_cast<double>(bytes);
    state.counters["server_cpu_ms"] = (web_cpu_seconds() - cpu_before) * 1000 / iterations;
    state.counters["server_rss_mib"] =
        static_cast<double>(tarnel::test::process_stats(web->process().pid()).peak_rss_kb) / 1024;
    wall_seconds[name] = wall / iterations;
}

void BM_CatStatusFiles(benchmark::State& state) {
    double wall = 0;
    double cpu = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDOUT_FILENO);
            if (chdir(run_dir->path().c_str()) == 0) {
                execl("/bin/sh", "sh", "-c", "exec cat */status.json", nullptr);
            }
            _exit(127);
        }
        int status = 0;
        rusage usage{};
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || status != 0) {
            state.SkipWithError("cat failed");
            break;
        }
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpu += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["stations"] = static_cast<double>(stations);
    state.counters["child_cpu_ms"] = cpu * 1000 / iterations;
    wall_seconds["cat"] = wall / iterations;
}

void BM_Metrics(benchmark::State& state) {
    time_requests(state, "metrics", "/metrics");
}

void BM_PageData(benchmark::State& state) {
    time_requests(state, "page", "/api/stations");
}

BENCHMARK(BM_CatStatusFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_Metrics)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_PageData)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    make_stations();
    web = std::make_unique<tarnel::test::TarnelWebRun>(run_dir->path());
    if (!web->ready()) {
        std::fprintf(stderr, "tarnel-web did not start: %s\n", web->output().c_str());
        return 1;
    }
    token = web->page_token();
    benchmark::RunSpecifiedBenchmarks();
    for (const char* name : {"metrics", "page"}) {
        if (wall_seconds.count(name) != 0 && wall_seconds.count("cat") != 0) {
            std::printf("%s / cat (wall time, %zu stations): %.2f\n", name, stations,
                        wall_seconds[name] / wall_seconds["cat"]);
        }
    }
    web.reset();
    stubs.clear();
    run_dir.reset();
    benchmark::Shutdown();
    return 0;
}
