// Soak run: streams a playlist from the real tarnel to a loopback server for MINUTES minutes,
// sends random control signals (HUP, USR1 after rewriting the playlist, USR2, WINCH after
// rewriting the configuration) and restarts the server at random; then checks every connection's
// stream against the files' expected wires and reports process health and resource figures.
// Usage: tarnel_soak MINUTES [SEED [RESTART_ONE_IN]]; exit status 0 when nothing was lost,
// corrupted or leaked. With --icecast first, the run against a real peer (icecast_soak.h).

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/process_stats.h"
#include "soak/icecast_soak.h"
#include "soak/stream_check.h"
#include "support/loopback_server.h"
#include "support/nsv_expected.h"
#include "support/nsv_writer.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFileCount = 5;
constexpr int kFramesPerSecond = 30;  // rate code 0x1E
// Mean seconds between two actions, and the chance of an action being a server restart.
constexpr int kMinActionGap = 2;
constexpr int kMaxActionGap = 8;
constexpr int kDefaultRestartOneIn = 40;
// Descriptors may differ at the end by a connection in progress (source and title sockets).
constexpr size_t kDescriptorSlack = 2;

struct Counts {
    size_t hup = 0;
    size_t usr1 = 0;
    size_t usr2 = 0;
    size_t winch = 0;
    size_t restarts = 0;
};

std::vector<FileWires> write_media(const TempDir& dir) {
    std::vector<FileWires> files;
    for (int f = 0; f < kFileCount; ++f) {
        const int seconds = 3 + f;
        NsvWriter writer;
        // Distinct frame lengths per file, so no file's bytes can pass for another's.
        writer.file_header("TITLE='Soak " + std::to_string(f) + "'")
            .frames(seconds * kFramesPerSecond, 0x1E, 300 + 17 * f, 40 + f, kFramesPerSecond);
        FileWires wires;
        wires.name = "clip" + std::to_string(f) + ".nsv";
        writer.write(dir.file(wires.name));
        NsvProcessState state;
        wires.whole = expected_stream(writer.bytes(), {}, state).wire();
        for (int k = 0; k < seconds; ++k) {
            std::vector<SecondOffer> offers(static_cast<size_t>(k) + 1);
            offers.back().next_track = true;
            NsvProcessState skip_state;
            wires.skipped.push_back(expected_stream(writer.bytes(), offers, skip_state).wire());
        }
        files.push_back(std::move(wires));
    }
    return files;
}

std::string config_text(const LoopbackServer& server) {
    return "Server=127.0.0.1\nPort=" + server.port_text() +
           "\nPassword=swapthis\nPlaylist=list.plo\nLogFile=tarnel.log\nAutoReconnect=yes\n"
           "ScreenLog=no\nRealTime=no\nStreamName=Soak\n";
}

std::string playlist_text(std::vector<FileWires> files, std::mt19937& random) {
    std::shuffle(files.begin(), files.end(), random);
    std::string text = "#Mode=basic\n";
    for (const FileWires& file : files) {
        text += file.name + "\n";
    }
    return text;
}

long file_size(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

int run(int minutes, unsigned seed, int restart_one_in) {
    std::mt19937 random(seed);
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    TempDir dir;
    LoopbackServer server;
    const std::vector<FileWires> files = write_media(dir);
    dir.write("tarnel.conf", config_text(server));
    dir.write("list.plo", playlist_text(files, random));
    Process tarnel(TARNEL_BINARY, {"tarnel.conf"}, dir.path(), dir.file("console.txt"));

    server.wait_for_bytes(0, 4096, std::chrono::seconds(10));
    const ProcessStats start = process_stats(tarnel.pid());
    long peak_rss_kb = start.peak_rss_kb;
    long peak_log_size = 0;
    Counts counts;
    const auto deadline = Clock::now() + std::chrono::minutes(minutes);
    bool alive = true;
    bool server_back = true;
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::seconds(pick(kMinActionGap, kMaxActionGap)));
        alive = tarnel.running();
        if (!alive) {
            break;
        }
        peak_rss_kb = std::max(peak_rss_kb, process_stats(tarnel.pid()).peak_rss_kb);
        peak_log_size = std::max(peak_log_size, file_size(dir.file("tarnel.log")));
        if (pick(1, restart_one_in) == 1) {
            server.stop_listening();
            std::this_thread::sleep_for(std::chrono::seconds(pick(1, 5)));
            server_back = server.start_listening();
            if (!server_back) {
                std::printf("server could not listen again on its ports\n");
                break;
            }
            ++counts.restarts;
            continue;
        }
        switch (pick(0, 3)) {
            case 0:
                tarnel.signal(SIGHUP);
                ++counts.hup;
                break;
            case 1:
                dir.write("list.plo", playlist_text(files, random));
                tarnel.signal(SIGUSR1);
                ++counts.usr1;
                break;
            case 2:
                tarnel.signal(SIGUSR2);
                ++counts.usr2;
                break;
            default:
                dir.write("tarnel.conf", config_text(server));
                tarnel.signal(SIGWINCH);
                ++counts.winch;
                break;
        }
    }
    alive = alive && tarnel.running();
    const ProcessStats end = process_stats(tarnel.pid());
    const long log_size = file_size(dir.file("tarnel.log"));
    if (!alive) {
        const std::string log = read_file(dir.file("tarnel.log"));
        const std::string console = read_file(dir.file("console.txt"));
        std::printf("tarnel ended with status %d; its log ends:\n%s\nits console ends:\n%s\n",
                    tarnel.wait(0), log.substr(log.size() > 2000 ? log.size() - 2000 : 0).c_str(),
                    console.substr(console.size() > 2000 ? console.size() - 2000 : 0).c_str());
    }
    tarnel.kill();

    StreamTally total;
    size_t stream_bytes = 0;
    const size_t connections = server.connection_count();
    for (size_t c = 0; c < connections; ++c) {
        const std::string stream = server.stream_bytes(c);
        stream_bytes += stream.size();
        const StreamTally tally = check_stream(stream, files);
        if (tally.mismatches > 0) {
            std::printf("connection %zu: %zu unexpected bytes from offset %zu\n", c,
                        tally.mismatches, tally.mismatch_offset);
        }
        total += tally;
    }
    const bool descriptors_kept = end.open_descriptors <= start.open_descriptors + kDescriptorSlack;
    std::printf("soak: %d minutes, seed %u\n", minutes, seed);
    std::printf("process alive at the end: %s\n", alive ? "yes" : "no");
    std::printf("signals: HUP %zu, USR1 %zu, USR2 %zu, WINCH %zu; server restarts: %zu\n",
                counts.hup, counts.usr1, counts.usr2, counts.winch, counts.restarts);
    std::printf("connections: %zu, stream bytes received: %zu\n", connections, stream_bytes);
    std::printf(
        "files: %zu complete (compared byte for byte, %zu bytes), %zu ended by a skip, "
        "%zu interrupted by a restart or the end of the run\n",
        total.complete_files, total.verified_bytes, total.skipped_files, total.interrupted_files);
    std::printf("unexpected stream bytes: %zu\n", total.mismatches);
    std::printf("RSS: start %ld kB, peak %ld kB (VmHWM), final %ld kB\n", start.rss_kb,
                std::max(peak_rss_kb, end.peak_rss_kb), end.rss_kb);
    std::printf("open descriptors: start %zu, end %zu\n", start.open_descriptors,
                end.open_descriptors);
    std::printf("log file: %ld bytes at the end, %ld bytes at most (emptied by HUP)\n", log_size,
                peak_log_size);
    const bool sound = alive && server_back && total.mismatches == 0 && total.complete_files > 0 &&
                       descriptors_kept;
    std::printf("result: %s\n", sound ? "PASS" : "FAIL");
    return sound ? 0 : 1;
}

}  // namespace
}  // namespace tarnel::test

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--icecast" && std::atoi(argv[2]) > 0) {
        const unsigned seed = argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10))
                                       : std::random_device{}();
        return tarnel::test::run_icecast_soak(std::atoi(argv[2]), seed);
    }
    if (argc < 2 || std::atoi(argv[1]) <= 0) {
        std::fprintf(stderr,
                     "usage: tarnel_soak MINUTES [SEED [RESTART_ONE_IN]]\n"
                     "       tarnel_soak --icecast MINUTES [SEED]\n");
        return 2;
    }
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10))
                                   : std::random_device{}();
    const int restart_one_in =
        argc > 3 ? std::max(1, std::atoi(argv[3])) : tarnel::test::kDefaultRestartOneIn;
    return tarnel::test::run(std::atoi(argv[1]), seed, restart_one_in);
}
