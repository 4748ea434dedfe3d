// What one stream costs, measured on whole processes in real time: build/tarnel streaming a
// playlist to a loopback sink, and beside it what an operator would otherwise reach for to push
// the same files at their real-time rate, `ffmpeg -re` copying them (no re-encoding) into an
// MPEG transport stream over TCP to the same kind of sink.
//
//     build/bench/stream_bench --media DIR              one Tarnel stream, then ffmpeg -re, then
//                                                       Tarnel to a private Icecast mount in
//                                                       plain HTTP and in TLS
//     build/bench/stream_bench --media DIR --streams N  N Tarnel streams at once, all pinned to
//                                                       one processor (the sink on the others)
//         ... --streams N --spread                      the same, spread over every processor
//                                                       (the sink among them)
//         ... --streams N --tls                         the same in TLS, trusting the system's
//                                                       store (see system_store_with)
//         ... --streams N --tls --bundle                the same, the store given as one bundle
//                                                       file (SSL_CERT_FILE)
//         ... --streams N --repeat K                    any of these with the files played K
//                                                       times over (K times the media)
//         ... --streams N --minimal                     the same with bench/minimal_sender.c in
//                                                       place of Tarnel: the floor of a paced
//                                                       stream on this machine
//
// DIR holds the NSV files to play (every *.nsv, in name order); scripts/bench makes them. For
// each run: processor time (user + system) per minute of media, peak resident memory (VmHWM),
// voluntary context switches (the process going to sleep: its wake-ups) per second of media,
// and pacing: for Tarnel, how long after the wall clock's tick the first byte of each second
// reached the sink; for ffmpeg, which paces from its own start, how late the first byte of each
// media second came against that start plus the media time. For the Icecast runs, what TLS
// costs: processor time and peak memory, plain against TLS (pacing is not measured there).

#include <benchmark/benchmark.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/tls_trust.h"
#include "nsv/nsv_reader.h"
#include "stream_figures.h"
#include "stream_sink.h"
#include "support/icecast_server.h"
#include "support/process.h"
#include "support/process_stats.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"

namespace {

using tarnel::bench::Spread;
using tarnel::bench::StreamSink;
using tarnel::test::Process;
using tarnel::test::TempDir;

// A silence between receives that separates two seconds of a Tarnel stream.
constexpr std::int64_t kSecondGapNs = 300'000'000;
constexpr auto kPoll = std::chrono::milliseconds(50);
// Memory figures are read from this many processes of a run.
constexpr size_t kMemorySamples = 10;
// How long a run may take beyond the media's own length before it counts as failed.
constexpr double kGraceSeconds = 60;

struct Options {
    std::string media_dir;
    std::string tarnel = TARNEL_BINARY;
    std::string ffmpeg = "/usr/bin/ffmpeg";
    int streams = 0;  // 0: the one-stream comparison
    bool spread = false;
    bool tls = false;
    bool bundle = false;  // TLS trusts a bundle file (SSL_CERT_FILE) instead of a directory
    bool minimal = false;
    int repeat = 1;  // times the files are played, one after another
    std::string minimal_sender = MINIMAL_SENDER_BINARY;
};
Options options;

// The files to play and what Tarnel sends of them.
struct Media {
    std::vector<std::string> files;
    double seconds = 0;              // media time
    std::uint64_t stream_bytes = 0;  // bytes on the wire after the header block
};
Media media;

// The figures of one run (of one or several processes of the same program).
struct Figures {
    int processes = 0;
    double cpu_seconds = 0;
    double system_seconds = 0;  // of cpu_seconds, in the kernel
    // The processes' lives added up: with many streams on a busy machine the last are stopped
    // some seconds after their media ended, and their CPU time includes those seconds.
    double lifetime_seconds = 0;
    long peak_rss_kb = 0;       // the largest of the processes
    long private_dirty_kb = 0;  // the largest Private_Dirty of the processes, near their end
    long openssl_private_dirty_kb = 0;  // the largest part of it in OpenSSL's libraries
    long voluntary_switches = 0;
    long involuntary_switches = 0;  // the scheduler took the processor away
    double media_seconds = 0;       // per process
    std::vector<double> lateness_ms;
    double worst_p99_ms = 0;  // the worst of the processes' own 99th percentiles
    std::string failure;

    // Media time over all processes.
    double media_total() const { return media_seconds * processes; }
    double cpu_per_media_minute() const { return cpu_seconds / (media_total() / 60); }
    double wakeups_per_media_second() const {
        return static_cast<double>(voluntary_switches) / media_total();
    }
};
std::map<std::string, Figures> results;

double seconds_of(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

void add_usage(Figures& figures, const rusage& usage) {
    figures.cpu_seconds += seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
    figures.system_seconds += seconds_of(usage.ru_stime);
    figures.voluntary_switches += usage.ru_nvcsw;
    figures.involuntary_switches += usage.ru_nivcsw;
}

// VmHWM is read while the process runs: once it has ended, /proc no longer has it.
void note_peak_rss(Figures& figures, const Process& process) {
    const tarnel::test::ProcessStats stats = tarnel::test::process_stats(process.pid());
    figures.peak_rss_kb = std::max(figures.peak_rss_kb, stats.peak_rss_kb);
    figures.private_dirty_kb = std::max(figures.private_dirty_kb, stats.private_dirty_kb);
    figures.openssl_private_dirty_kb =
        std::max(figures.openssl_private_dirty_kb, stats.openssl_private_dirty_kb);
}

// One process's pacing figures.
void add_lateness(Figures& figures, const std::vector<double>& lateness) {
    figures.worst_p99_ms = std::max(figures.worst_p99_ms, tarnel::bench::spread_of(lateness).p99);
    figures.lateness_ms.insert(figures.lateness_ms.end(), lateness.begin(), lateness.end());
}

// Reads every file as Tarnel does (no subtitles) to learn the media time and the wire bytes.
Media scan_media(const std::string& directory) {
    Media found;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (entry.path().extension() == ".nsv") {
            found.files.push_back(std::filesystem::absolute(entry.path()).string());
        }
    }
    std::sort(found.files.begin(), found.files.end());
    std::vector<char> buffer;
    for (const std::string& file : found.files) {
        tarnel::NSVReader reader;
        if (!reader.Open(file)) {
            throw std::runtime_error("cannot open " + file);
        }
        reader.GetHeader(nullptr);
        long start = 0;
        long length = 0;
        double rate = 0;
        int frames = 0;
        bool skip = false;
        while (reader.GetSecond(nullptr, &start, &length, &rate, &frames, 0) == 0) {
            buffer.resize(static_cast<size_t>(length) + 64);
            const int produced = reader.GetData(buffer.data(), length, &skip, "", 0, 0, 0, 0, 0, 0);
            found.stream_bytes += static_cast<std::uint64_t>(std::max(produced, 0));
            found.seconds += rate > 0 ? frames / rate : 0;
        }
    }
    if (found.files.empty() || found.seconds <= 0) {
        throw std::runtime_error("no playable NSV files in " + directory);
    }
    return found;
}

std::string tarnel_config(int port, const std::string& playlist) {
    return "Server=127.0.0.1\nPort=" + std::to_string(port) +
           "\nPassword=swapthis\nPlaylist=" + playlist +
           "\nLogFile=tarnel.log\nAutoReconnect=no\nScreenLog=yes\nRealTime=yes\n"
           "SubtitleMode=none\nStreamName=Benchmark\n";
}

// The environment that makes a Tarnel process (no TLSCAFile) trust the system's store and the test
// authority, where and as it loads the system's store. Debian's store is a directory of
// certificates named by their subjects' hashes (update-ca-certificates makes it beside the
// bundle, and OpenSSL's default paths name it): the same directory is made here with links to
// every certificate in it, the authority added under its own hash, and given as SSL_CERT_DIR.
// With bundle, the system's bundle and the authority in one file, given as SSL_CERT_FILE: what a
// system without the directory, or an operator who names a bundle, gets.
std::pair<std::string, std::string> system_store_with(const std::string& ca_file,
                                                      const TempDir& dir, bool bundle) {
    const std::string system_directory = "/etc/ssl/certs";
    if (bundle) {
        return {"SSL_CERT_FILE",
                dir.write("trust-store.pem",
                          tarnel::test::read_file(system_directory + "/ca-certificates.crt") +
                              tarnel::test::read_file(ca_file))};
    }
    const std::string store = dir.file("trust-store");
    std::filesystem::create_directory(store);
    for (const auto& entry : std::filesystem::directory_iterator(system_directory)) {
        const std::string name = entry.path().filename().string();
        if (tarnel::is_hashed_name(name.c_str())) {
            std::filesystem::create_symlink(entry.path(), store + "/" + name);
        }
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(ca_file.c_str(), "r"),
                                                               std::fclose);
    const std::unique_ptr<X509, void (*)(X509*)> authority(
        file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr, X509_free);
    if (!authority) {
        throw std::runtime_error("cannot read the test authority " + ca_file);
    }
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08lx", X509_subject_name_hash(authority.get()));
    for (int sequence = 0;; ++sequence) {
        const std::string name = store + "/" + hash + "." + std::to_string(sequence);
        if (!std::filesystem::exists(std::filesystem::symlink_status(name))) {
            std::filesystem::copy_file(ca_file, name);
            break;
        }
    }
    return {"SSL_CERT_DIR", store};
}

// N Tarnel processes, each streaming the playlist once to its own sink endpoint; with pinning,
// all of them on processor 0 and the sink elsewhere. With tls, each stream is in TLS and trusts
// the system's store (system_store_with).
Figures run_tarnel(int streams, bool pin, bool tls = false) {
    Figures figures;
    figures.processes = streams;
    figures.media_seconds = media.seconds;
    const TempDir dir;
    std::string list = "#Mode=basic\n";
    for (const std::string& file : media.files) {
        list += file + "\n";
    }
    const std::string playlist = dir.write("list.plo", list);

    // Set in this process's environment, which the streams inherit (a launcher such as env would
    // count in their processor time), until the sink has stopped.
    std::unique_ptr<tarnel::test::ScopedEnvironment> trust;
    StreamSink sink;
    std::unique_ptr<tarnel::test::TestPki> pki;
    if (tls) {
        pki = std::make_unique<tarnel::test::TestPki>();
        const auto certificate = pki->loopback_server();
        sink.use_tls(certificate.certificate, certificate.key);
        const auto [name, value] = system_store_with(pki->ca_file(), dir, options.bundle);
        trust = std::make_unique<tarnel::test::ScopedEnvironment>(name, value);
    }
    std::vector<size_t> endpoints;
    for (int i = 0; i < streams; ++i) {
        endpoints.push_back(sink.add_source(tls));
    }
    sink.start();
    std::vector<std::unique_ptr<Process>> processes;
    std::vector<std::chrono::steady_clock::time_point> started;
    for (int i = 0; i < streams; ++i) {
        const std::string name = std::to_string(i);
        const std::string home = dir.file(name);
        std::filesystem::create_directory(home);
        dir.write(name + "/tarnel.conf",
                  tarnel_config(sink.port(endpoints[static_cast<size_t>(i)]), playlist) +
                      (tls ? "TLS=yes\n" : ""));
        // Each launcher executes the next, so the process stays the one started.
        std::vector<std::string> command;
        if (pin) {
            command = {"/usr/bin/taskset", "-c", "0"};
        }
        if (options.minimal) {
            const auto per_second =
                static_cast<std::uint64_t>(static_cast<double>(media.stream_bytes) / media.seconds);
            const int source_port = sink.port(endpoints[static_cast<size_t>(i)]) + 1;
            command.insert(command.end(), {options.minimal_sender, std::to_string(source_port),
                                           std::to_string(per_second)});
            command.insert(command.end(), media.files.begin(), media.files.end());
        } else {
            command.insert(command.end(), {options.tarnel, "tarnel.conf"});
        }
        const std::string program = command.front();
        const std::vector<std::string> args(command.begin() + 1, command.end());
        processes.push_back(std::make_unique<Process>(program, args, home, "/dev/null"));
        started.push_back(std::chrono::steady_clock::now());
    }

    // Each process is stopped once its sink has every byte of the playlist: it is then waiting
    // for the next tick to start the playlist again.
    std::vector<bool> done(static_cast<size_t>(streams), false);
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration<double>(media.seconds + kGraceSeconds);
    for (int left = streams; left > 0;) {
        if (std::chrono::steady_clock::now() > deadline) {
            figures.failure = std::to_string(left) + " streams did not finish in time";
            break;
        }
        std::this_thread::sleep_for(kPoll);
        for (size_t i = 0; i < done.size(); ++i) {
            Process& process = *processes[i];
            if (done[i] || sink.stream_bytes(endpoints[i]) < media.stream_bytes) {
                if (!done[i] && !process.running()) {
                    figures.failure =
                        "a Tarnel process ended early; its log:\n" +
                        tarnel::test::read_file(dir.file(std::to_string(i) + "/tarnel.log"));
                    left = 0;
                }
                continue;
            }
            // Memory is read from a few processes (they are alike): reading /proc for a
            // thousand would keep the others running well past their media.
            if (i < kMemorySamples) {
                note_peak_rss(figures, process);
            }
            process.signal(SIGTERM);
            process.wait(5000);
            add_usage(figures, process.usage());
            figures.lifetime_seconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started[i])
                    .count();
            done[i] = true;
            --left;
        }
    }
    processes.clear();
    sink.stop();
    for (const size_t endpoint : endpoints) {
        add_lateness(figures,
                     tarnel::bench::tick_lateness_ms(sink.arrivals(endpoint), kSecondGapNs));
    }
    return figures;
}

// ffmpeg -re copying the same files into MPEG-TS over TCP, one process per file, one after
// another: its concat demuxer stops after the first NSV file, because the NSV demuxer ends
// every file with an error.
Figures run_ffmpeg() {
    Figures figures;
    figures.processes = 1;
    figures.media_seconds = media.seconds;
    const TempDir dir;
    StreamSink sink;
    std::vector<size_t> endpoints;
    for (size_t i = 0; i < media.files.size(); ++i) {
        endpoints.push_back(sink.add_raw(true));
    }
    sink.start();
    for (size_t i = 0; i < media.files.size() && figures.failure.empty(); ++i) {
        const std::string output = dir.file("ffmpeg" + std::to_string(i) + ".txt");
        Process process(options.ffmpeg,
                        {"-nostdin", "-hide_banner", "-loglevel", "error", "-re", "-i",
                         media.files[i], "-map", "0", "-c", "copy", "-f", "mpegts",
                         "tcp://127.0.0.1:" + std::to_string(sink.port(endpoints[i]))},
                        dir.path(), output);
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration<double>(media.seconds + kGraceSeconds);
        while (process.running()) {
            if (std::chrono::steady_clock::now() > deadline) {
                figures.failure = "ffmpeg did not finish in time";
                break;
            }
            note_peak_rss(figures, process);
            std::this_thread::sleep_for(kPoll);
        }
        process.kill();
        add_usage(figures, process.usage());
    }
    sink.stop();
    size_t seconds = 0;
    for (const size_t endpoint : endpoints) {
        const auto offsets = tarnel::bench::transport_second_offsets(sink.kept_bytes(endpoint));
        seconds += offsets.size();
        add_lateness(figures,
                     tarnel::bench::schedule_lateness_ms(sink.arrivals(endpoint), offsets));
    }
    // Every media second must have gone out (the last one may be cut by rounding).
    if (figures.failure.empty() &&
        static_cast<double>(seconds + media.files.size()) < media.seconds) {
        figures.failure = "ffmpeg sent " + std::to_string(seconds) + " seconds of media";
    }
    return figures;
}

// One Tarnel stream by Icecast's protocol to a private Icecast mount, in TLS or not, playing the
// playlist once: an entry that cannot be opened follows the files, and its log line ends the run.
Figures run_tarnel_icecast(bool tls) {
    Figures figures;
    figures.processes = 1;
    figures.media_seconds = media.seconds;
    const tarnel::test::TestPki pki;
    tarnel::test::IcecastServer::Options icecast_options;
    icecast_options.own_mount = "/bench.nsv";
    icecast_options.own_mount_password = "bench-secret";
    icecast_options.tls_certificate = pki.loopback_server().combined;
    tarnel::test::IcecastServer icecast(icecast_options);
    const TempDir dir;
    std::string list = "#Mode=basic\n";
    for (const std::string& file : media.files) {
        list += file + "\n";
    }
    dir.write("list.plo", list + "end-of-the-playlist.nsv\n");
    dir.write("tarnel.conf",
              tarnel_config(tls ? icecast.tls_port() : icecast.port(), dir.file("list.plo")) +
                  "Mount=/bench.nsv\nPassword=bench-secret\nRealTime=no\n" +
                  (tls ? "TLS=yes\nTLSCAFile=" + pki.ca_file() + "\n" : ""));
    Process process(options.tarnel, {"tarnel.conf"}, dir.path(), "/dev/null");
    const auto log = [&] { return tarnel::test::read_file(dir.file("tarnel.log")); };
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration<double>(media.seconds + kGraceSeconds);
    while (log().find("Unable to open end-of-the-playlist.nsv") == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || !process.running()) {
            figures.failure = "the Icecast run did not finish; its log:\n" + log();
            return figures;
        }
        note_peak_rss(figures, process);
        std::this_thread::sleep_for(kPoll);
    }
    note_peak_rss(figures, process);
    if (log().find("Error") != std::string::npos) {
        figures.failure = "the Icecast run logged an error:\n" + log();
    }
    process.signal(SIGTERM);
    process.wait(5000);
    add_usage(figures, process.usage());
    return figures;
}

void report(benchmark::State& state, const Figures& figures) {
    if (!figures.failure.empty()) {
        state.SkipWithError(figures.failure.c_str());
        return;
    }
    const Spread late = tarnel::bench::spread_of(figures.lateness_ms);
    state.counters["cpu_s_per_media_min"] = figures.cpu_per_media_minute();
    state.counters["peak_rss_kB"] = static_cast<double>(figures.peak_rss_kb);
    state.counters["private_dirty_kB"] = static_cast<double>(figures.private_dirty_kb);
    state.counters["wakeups_per_media_s"] = figures.wakeups_per_media_second();
    state.counters["late_p50_ms"] = late.median;
    state.counters["late_p99_ms"] = late.p99;
    state.counters["late_max_ms"] = late.max;
}

template <typename Run>
void register_run(const std::string& name, Run run) {
    benchmark::RegisterBenchmark(name.c_str(),
                                 [name, run](benchmark::State& state) {
                                     for (auto _ : state) {
                                         results[name] = run();
                                         state.SetIterationTime(results[name].media_seconds);
                                     }
                                     report(state, results[name]);
                                 })
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kSecond);
}

void print_row(const char* label, double tarnel_value, double ffmpeg_value, const char* unit) {
    std::printf("%-34s %12.3f %12.3f %10.3f  %s\n", label, tarnel_value, ffmpeg_value,
                ffmpeg_value != 0 ? tarnel_value / ffmpeg_value : 0.0, unit);
}

void print_comparison(const Figures& tarnel, const Figures& ffmpeg) {
    const Spread t = tarnel::bench::spread_of(tarnel.lateness_ms);
    const Spread f = tarnel::bench::spread_of(ffmpeg.lateness_ms);
    std::printf("\n%.0f s of media (%zu files), one stream each:\n", media.seconds,
                media.files.size());
    std::printf("%-34s %12s %12s %10s\n", "", "tarnel", "ffmpeg -re", "ratio");
    print_row("CPU per minute of media", tarnel.cpu_per_media_minute(),
              ffmpeg.cpu_per_media_minute(), "s");
    print_row("peak RSS", static_cast<double>(tarnel.peak_rss_kb) / 1024,
              static_cast<double>(ffmpeg.peak_rss_kb) / 1024, "MiB");
    print_row("wake-ups per second of media", tarnel.wakeups_per_media_second(),
              ffmpeg.wakeups_per_media_second(), "");
    print_row("first byte of a second, median", t.median, f.median, "ms late");
    print_row("first byte of a second, 99th pct", t.p99, f.p99, "ms late");
    print_row("first byte of a second, maximum", t.max, f.max, "ms late");
    std::printf(
        "(Tarnel: after the wall clock's tick, %zu seconds; ffmpeg: against its own "
        "start plus the media time, %zu seconds)\n",
        t.count, f.count);
}

void print_tls_comparison(const Figures& plain, const Figures& tls) {
    std::printf("\nTarnel to a private Icecast mount, %.0f s of media:\n", media.seconds);
    std::printf("%-34s %12s %12s %10s\n", "", "TLS", "plain", "ratio");
    print_row("CPU per minute of media", tls.cpu_per_media_minute(), plain.cpu_per_media_minute(),
              "s");
    print_row("peak RSS", static_cast<double>(tls.peak_rss_kb) / 1024,
              static_cast<double>(plain.peak_rss_kb) / 1024, "MiB");
}

void print_scale(const Figures& figures) {
    const Spread late = tarnel::bench::spread_of(figures.lateness_ms);
    std::printf("\n%d %s%s streams at once %s, %.0f s of media each:\n", figures.processes,
                options.minimal ? "minimal_sender" : "Tarnel", options.tls ? " TLS" : "",
                options.spread ? "over every processor" : "on one processor",
                figures.media_seconds);
    std::printf(
        "  CPU, all streams:        %.3f s (%.2f%% of one core; %.4f s per stream per "
        "minute of media)\n",
        figures.cpu_seconds, 100 * figures.cpu_seconds / figures.media_seconds,
        figures.cpu_per_media_minute());
    std::printf("  of which in the kernel:  %.3f s (%.2f%% of one core)\n", figures.system_seconds,
                100 * figures.system_seconds / figures.media_seconds);
    if (figures.lifetime_seconds > 0) {
        std::printf(
            "  over the processes' lives (%.1f s each on average): %.2f%% of one core for all "
            "streams; %.4f s per stream per minute\n",
            figures.lifetime_seconds / figures.processes,
            100 * figures.cpu_seconds / (figures.lifetime_seconds / figures.processes),
            figures.cpu_seconds / (figures.lifetime_seconds / 60));
    }
    std::printf("  peak RSS, largest:       %.2f MiB\n",
                static_cast<double>(figures.peak_rss_kb) / 1024);
    std::printf(
        "  private memory, largest: %ld kB (Private_Dirty), of which %ld kB in OpenSSL's "
        "libraries\n",
        figures.private_dirty_kb, figures.openssl_private_dirty_kb);
    std::printf(
        "  wake-ups:                %.2f per stream per second of media (%.2f more times the "
        "scheduler took the processor away)\n",
        figures.wakeups_per_media_second(),
        static_cast<double>(figures.involuntary_switches) / figures.media_total());
    std::printf(
        "  first byte after tick:   median %.2f ms, 99th percentile %.2f ms, worst stream's "
        "99th percentile %.2f ms, maximum %.2f ms (%zu seconds)\n",
        late.median, late.p99, figures.worst_p99_ms, late.max, late.count);
}

bool parse_options(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--media" && has_value) {
            options.media_dir = argv[++i];
        } else if (arg == "--streams" && has_value) {
            options.streams = std::atoi(argv[++i]);
        } else if (arg == "--spread") {
            options.spread = true;
        } else if (arg == "--tls") {
            options.tls = true;
        } else if (arg == "--repeat" && has_value) {
            options.repeat = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--bundle") {
            options.bundle = true;
        } else if (arg == "--minimal") {
            options.minimal = true;
        } else if (arg == "--tarnel" && has_value) {
            options.tarnel = argv[++i];
        } else if (arg == "--ffmpeg" && has_value) {
            options.ffmpeg = argv[++i];
        } else {
            std::fprintf(stderr, "stream_bench: unknown argument %s\n", arg.c_str());
            return false;
        }
    }
    if (options.media_dir.empty() || options.streams < 0) {
        std::fprintf(stderr,
                     "usage: stream_bench --media DIR [--streams N [--spread] [--tls [--bundle] | "
                     "--minimal] [--repeat N]] "
                     "[--tarnel PATH] [--ffmpeg PATH] [benchmark flags]\n");
        return false;
    }
    return true;
}

// One core for the streams, the others for the sink, so the sink does not take the streams'
// processor time.
void keep_off_processor_zero() {
    cpu_set_t others;
    CPU_ZERO(&others);
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    for (long cpu = 1; cpu < count; ++cpu) {
        CPU_SET(static_cast<int>(cpu), &others);
    }
    if (count > 1) {
        sched_setaffinity(0, sizeof others, &others);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // A thousand streams take four descriptors each in the sink.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (!parse_options(argc, argv)) {
        return 2;
    }
    try {
        media = scan_media(options.media_dir);
        // The playlist played several times over: what a stream costs once it has started.
        const Media once = media;
        for (int i = 1; i < options.repeat; ++i) {
            media.files.insert(media.files.end(), once.files.begin(), once.files.end());
            media.seconds += once.seconds;
            media.stream_bytes += once.stream_bytes;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "stream_bench: %s\n", error.what());
        return 1;
    }
    std::printf("media: %zu files, %.1f s, %.0f kbit/s on the wire\n", media.files.size(),
                media.seconds, static_cast<double>(media.stream_bytes) * 8 / 1000 / media.seconds);
    if (options.streams > 0) {
        if (!options.spread) {
            keep_off_processor_zero();
        }
        const std::string name = std::string(options.minimal ? "minimal_sender" : "tarnel") +
                                 (options.tls ? "_tls" : "") + (options.bundle ? "_bundle" : "") +
                                 (options.spread ? "/spread" : "/pinned") +
                                 "/streams:" + std::to_string(options.streams);
        register_run(name,
                     [] { return run_tarnel(options.streams, !options.spread, options.tls); });
        benchmark::RunSpecifiedBenchmarks();
        if (results.count(name) != 0 && results[name].failure.empty()) {
            print_scale(results[name]);
        }
    } else {
        register_run("tarnel", [] { return run_tarnel(1, false); });
        register_run("ffmpeg_re", [] { return run_ffmpeg(); });
        register_run("tarnel_icecast", [] { return run_tarnel_icecast(false); });
        register_run("tarnel_icecast_tls", [] { return run_tarnel_icecast(true); });
        benchmark::RunSpecifiedBenchmarks();
        const auto succeeded = [](const char* name) {
            return results.count(name) != 0 && results[name].failure.empty();
        };
        if (succeeded("tarnel") && succeeded("ffmpeg_re")) {
            print_comparison(results["tarnel"], results["ffmpeg_re"]);
        }
        if (succeeded("tarnel_icecast") && succeeded("tarnel_icecast_tls")) {
            print_tls_comparison(results["tarnel_icecast"], results["tarnel_icecast_tls"]);
        }
    }
    benchmark::Shutdown();
    return 0;
}
