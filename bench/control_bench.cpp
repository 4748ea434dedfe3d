// What a client of the control socket costs the stream, measured on a whole process in real time:
// build/tarnel with ControlSocket= streaming a playlist to a loopback sink, once with nobody
// asking and once with a client polling GET /status ten times a second, as a dashboard would.
//
//     build/bench/control_bench --media DIR [--seconds N]
//
// DIR holds the NSV files to play (every *.nsv, in name order; scripts/bench makes them in
// build/bench-media). Each run lasts N seconds (default 60). For each: how long after the wall
// clock's tick the first byte of each second reached the sink (median, 99th percentile,
// maximum), the processor time of the station, and for the polled run how long each status
// request took from connecting to the last byte of the reply.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "stream_figures.h"
#include "stream_sink.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using tarnel::bench::Spread;
using tarnel::bench::StreamSink;
using tarnel::test::Process;
using tarnel::test::TempDir;
using Clock = std::chrono::steady_clock;

// A silence between receives that separates two seconds of a Tarnel stream.
constexpr std::int64_t kSecondGapNs = 300'000'000;
constexpr auto kPollEvery = std::chrono::milliseconds(100);

struct Options {
    std::string media_dir;
    std::string tarnel = TARNEL_BINARY;
    int seconds = 60;
};
Options options;

struct Figures {
    std::vector<double> lateness_ms;
    double cpu_seconds = 0;
    std::vector<double> reply_ms;  // status requests, polled run only
    size_t failed_requests = 0;
    std::string failure;
};
std::map<std::string, Figures> results;

double seconds_of(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// One GET /status on the socket at path: the milliseconds it took, or a negative number when no
// whole reply came.
double timed_status_request(const std::string& path) {
    const Clock::time_point start = Clock::now();
    const int connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const std::string request = "GET /status HTTP/1.1\r\nHost: localhost\r\n\r\n";
    bool whole = false;
    if (::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::send(connection, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        std::string reply;
        char piece[4096];
        for (;;) {
            pollfd ready{connection, POLLIN, 0};
            if (::poll(&ready, 1, 10000) <= 0) {
                break;
            }
            const ssize_t got = ::recv(connection, piece, sizeof piece, 0);
            if (got <= 0) {
                whole = reply.rfind("HTTP/1.1 200 OK\r\n", 0) == 0 && reply.back() == '\n';
                break;
            }
            reply.append(piece, static_cast<size_t>(got));
        }
    }
    ::close(connection);
    const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return whole ? took : -1;
}

Figures run_station(bool polled) {
    Figures figures;
    const TempDir dir;
    std::string list = "#Mode=basic\n";
    for (const auto& entry : std::filesystem::directory_iterator(options.media_dir)) {
        if (entry.path().extension() == ".nsv") {
            list += std::filesystem::absolute(entry.path()).string() + "\n";
        }
    }
    dir.write("list.plo", list);
    StreamSink sink;
    const size_t endpoint = sink.add_source();
    sink.start();
    dir.write("tarnel.conf", "Server=127.0.0.1\nPort=" + std::to_string(sink.port(endpoint)) +
                                 "\nPassword=swapthis\nPlaylist=list.plo\nLogFile=tarnel.log\n"
                                 "RealTime=no\nScreenLog=no\nStreamName=Benchmark\n"
                                 "ControlSocket=control.sock\n");
    Process process(options.tarnel, {"tarnel.conf"}, dir.path(), "/dev/null");
    std::atomic<bool> stopping{false};
    std::thread poller;
    if (polled) {
        poller = std::thread([&] {
            // From the moment the station listens.
            while (!stopping && !tarnel::test::file_exists(dir.file("control.sock"))) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            for (Clock::time_point next = Clock::now(); !stopping; next += kPollEvery) {
                std::this_thread::sleep_until(next);
                const double took = timed_status_request(dir.file("control.sock"));
                if (took >= 0) {
                    figures.reply_ms.push_back(took);
                } else {
                    ++figures.failed_requests;
                }
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(options.seconds));
    stopping = true;
    if (poller.joinable()) {
        poller.join();
    }
    if (!process.running()) {
        figures.failure =
            "the station ended early; its log:\n" + tarnel::test::read_file(dir.file("tarnel.log"));
    }
    process.signal(SIGTERM);
    process.wait(5000);
    figures.cpu_seconds =
        seconds_of(process.usage().ru_utime) + seconds_of(process.usage().ru_stime);
    sink.stop();
    figures.lateness_ms = tarnel::bench::tick_lateness_ms(sink.arrivals(endpoint), kSecondGapNs);
    if (polled && figures.failed_requests > 0) {
        figures.failure = std::to_string(figures.failed_requests) + " status requests failed";
    }
    return figures;
}

void report(benchmark::State& state, const Figures& figures) {
    if (!figures.failure.empty()) {
        state.SkipWithError(figures.failure.c_str());
        return;
    }
    const Spread late = tarnel::bench::spread_of(figures.lateness_ms);
    state.counters["late_p50_ms"] = late.median;
    state.counters["late_p99_ms"] = late.p99;
    state.counters["late_max_ms"] = late.max;
    state.counters["cpu_s"] = figures.cpu_seconds;
    if (!figures.reply_ms.empty()) {
        const Spread reply = tarnel::bench::spread_of(figures.reply_ms);
        state.counters["reply_p50_ms"] = reply.median;
        state.counters["reply_p99_ms"] = reply.p99;
        state.counters["requests"] = static_cast<double>(reply.count);
    }
}

void register_run(const std::string& name, bool polled) {
    benchmark::RegisterBenchmark(name.c_str(),
                                 [name, polled](benchmark::State& state) {
                                     for (auto _ : state) {
                                         results[name] = run_station(polled);
                                         state.SetIterationTime(options.seconds);
                                     }
                                     report(state, results[name]);
                                 })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
}

void print_summary(const Figures& idle, const Figures& polled) {
    const Spread a = tarnel::bench::spread_of(idle.lateness_ms);
    const Spread b = tarnel::bench::spread_of(polled.lateness_ms);
    const Spread reply = tarnel::bench::spread_of(polled.reply_ms);
    std::printf("\n%d s each, first byte of a second after the tick (median / 99th pct / max):\n",
                options.seconds);
    std::printf("  no client:                 %.2f / %.2f / %.2f ms (%zu seconds), CPU %.3f s\n",
                a.median, a.p99, a.max, a.count, idle.cpu_seconds);
    std::printf("  GET /status 10 times a s:  %.2f / %.2f / %.2f ms (%zu seconds), CPU %.3f s\n",
                b.median, b.p99, b.max, b.count, polled.cpu_seconds);
    const auto slowest = std::max_element(polled.reply_ms.begin(), polled.reply_ms.end());
    std::printf(
        "  status replies:            %.2f / %.2f / %.2f ms (%zu requests, %zu failed; the slowest "
        "was number %zu)\n",
        reply.median, reply.p99, reply.max, reply.count, polled.failed_requests,
        static_cast<size_t>(slowest - polled.reply_ms.begin()) + 1);
}

bool parse_options(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--media" && has_value) {
            options.media_dir = argv[++i];
        } else if (arg == "--seconds" && has_value) {
            options.seconds = std::atoi(argv[++i]);
        } else if (arg == "--tarnel" && has_value) {
            options.tarnel = argv[++i];
        } else {
            std::fprintf(stderr, "control_bench: unknown argument %s\n", arg.c_str());
            return false;
        }
    }
    if (options.media_dir.empty() || options.seconds < 5) {
        std::fprintf(stderr,
                     "usage: control_bench --media DIR [--seconds N (5 or more)] [--tarnel PATH] "
                     "[benchmark flags]\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!parse_options(argc, argv)) {
        return 2;
    }
    register_run("tarnel_control/no_client", false);
    register_run("tarnel_control/status_10_per_s", true);
    benchmark::RunSpecifiedBenchmarks();
    const auto succeeded = [](const char* name) {
        return results.count(name) != 0 && results[name].failure.empty();
    };
    if (succeeded("tarnel_control/no_client") && succeeded("tarnel_control/status_10_per_s")) {
        print_summary(results["tarnel_control/no_client"],
                      results["tarnel_control/status_10_per_s"]);
    }
    benchmark::Shutdown();
    return 0;
}
