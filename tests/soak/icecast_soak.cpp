#include "soak/icecast_soak.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/console_capture.h"
#include "support/icecast_server.h"
#include "support/media.h"
#include "support/process.h"
#include "support/process_stats.h"
#include "support/tarnel_run.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"

namespace tarnel::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kMount = "/soak.nsv";
constexpr const char* kMountPassword = "soak-secret";
constexpr int kClipCount = 3;
constexpr int kClipSeconds = 5;
// Icecast goes down every kMinRestartGap to kMaxRestartGap seconds, for 1 to 5 seconds.
constexpr int kMinRestartGap = 120;
constexpr int kMaxRestartGap = 240;
// A control signal every 5 to 20 seconds.
constexpr int kMinSignalGap = 5;
constexpr int kMaxSignalGap = 20;
// A reconnection gap ends this long after the listener is back (it joins at a file's start, but
// the first seconds may still carry the stop's cut frame in Icecast's burst).
constexpr auto kGapGrace = std::chrono::seconds(5);
constexpr size_t kDescriptorSlack = 2;
// No restart this close to the end, so that the last one has its reconnection within the run.
constexpr auto kQuietEnd = std::chrono::seconds(60);

double seconds_since(Clock::time_point from, Clock::time_point to = Clock::now()) {
    return std::chrono::duration<double>(to - from).count();
}

// One ffmpeg process that reads the mount as a listener and decodes every frame, with its
// progress ("frame=N") and its error lines in files.
class Listener {
  public:
    Listener(const TempDir& dir, int port, int number) {
        const std::string name = "listener" + std::to_string(number);
        progress_ = dir.file(name + ".progress");
        errors_ = dir.file(name + ".errors");
        process_ = std::make_unique<Process>(
            "/usr/bin/ffmpeg",
            std::vector<std::string>{"-nostdin", "-hide_banner", "-loglevel", "error", "-i",
                                     "http://127.0.0.1:" + std::to_string(port) + kMount, "-map",
                                     "0:v", "-f", "null", "-", "-progress", progress_,
                                     "-stats_period", "1"},
            dir.path(), errors_);
    }

    bool running() { return process_->running(); }
    void stop() {
        process_->signal(SIGINT);
        if (process_->wait(5000) == -1) {
            process_->kill();
        }
    }
    // The last frame count ffmpeg reported.
    long frames() const {
        const std::string progress = read_file(progress_);
        const size_t at = progress.rfind("frame=");
        return at == std::string::npos ? 0 : std::atol(progress.c_str() + at + 6);
    }
    // Error lines not seen before.
    std::vector<std::string> new_errors() {
        const std::string all = read_file(errors_);
        std::vector<std::string> lines;
        std::istringstream fresh(all.substr(std::min(seen_, all.size())));
        seen_ = all.size();
        for (std::string line; std::getline(fresh, line);) {
            if (!line.empty()) {
                lines.push_back(line);
            }
        }
        return lines;
    }

  private:
    std::string progress_;
    std::string errors_;
    size_t seen_ = 0;
    std::unique_ptr<Process> process_;
};

struct Gap {
    Clock::time_point start;
    Clock::time_point end = Clock::time_point::max();
};

struct StampedError {
    Clock::time_point time;
    std::string text;
};

bool in_a_gap(Clock::time_point time, const std::vector<Gap>& gaps) {
    return std::any_of(gaps.begin(), gaps.end(),
                       [&](const Gap& gap) { return time >= gap.start && time <= gap.end; });
}

std::string playlist_text(std::vector<std::string> clips, std::mt19937& random) {
    std::shuffle(clips.begin(), clips.end(), random);
    std::string text = "#Mode=basic\n";
    for (const std::string& clip : clips) {
        text += clip + "\n";
    }
    return text;
}

}  // namespace

int run_icecast_soak(int minutes, unsigned seed) {
    if (!IcecastServer::available() || !have_ffmpeg()) {
        std::printf("soak: icecast2 and ffmpeg are needed\n");
        return 2;
    }
    std::mt19937 random(seed);
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const TempDir media;
    std::vector<std::string> clips;
    for (int i = 0; i < kClipCount; ++i) {
        std::string diagnostics;
        clips.push_back(make_clip(media.path(), "clip" + std::to_string(i),
                                  "Soak clip " + std::to_string(i), kClipSeconds + i, diagnostics));
        if (clips.back().empty()) {
            std::printf("soak: could not make the media: %s\n", diagnostics.c_str());
            return 2;
        }
    }
    const TestPki pki;
    IcecastServer::Options options;
    options.own_mount = kMount;
    options.own_mount_password = kMountPassword;
    options.tls_certificate = pki.loopback_server().combined;
    IcecastServer icecast(options);

    TarnelRun tarnel(icecast.tls_port());
    const std::string config = std::string("Password=") + kMountPassword + "\nMount=" + kMount +
                               "\nTLS=yes\nTLSCAFile=" + pki.ca_file() +
                               "\nAutoReconnect=yes\nScreenLog=yes\nRealTime=no\n"
                               "SubtitleMode=tag\nStreamName=Soak\n";
    tarnel.configure(config);
    tarnel.playlist(playlist_text(clips, random));
    tarnel.start();
    if (!tarnel.wait_for_log("Connection Success", std::chrono::seconds(20))) {
        std::printf("soak: Tarnel did not connect; its log:\n%s\n", tarnel.log().c_str());
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const ProcessStats start = process_stats(tarnel.process().pid());

    const TempDir work;
    int listener_count = 0;
    auto listener = std::make_unique<Listener>(work, icecast.port(), listener_count++);
    long frames = 0;
    std::vector<Gap> gaps;
    std::vector<double> reconnections;  // seconds from Icecast's stop to Tarnel's log-in
    std::vector<StampedError> errors;
    std::vector<std::string> tarnel_errors;  // its log's error lines, as they came
    size_t console_seen = tarnel.console().size();
    size_t hup = 0, usr1 = 0, usr2 = 0, winch = 0;
    bool alive = true;

    const auto run_start = Clock::now();
    const auto deadline = run_start + std::chrono::minutes(minutes);
    auto next_restart = run_start + std::chrono::seconds(pick(kMinRestartGap, kMaxRestartGap));
    auto next_signal = run_start + std::chrono::seconds(pick(kMinSignalGap, kMaxSignalGap));
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        alive = tarnel.process().running();
        if (!alive) {
            break;
        }
        const Clock::time_point now = Clock::now();
        if (listener) {
            for (const std::string& line : listener->new_errors()) {
                errors.push_back({now, line});
            }
        }
        // A new log-in ends the current reconnection. The console is read, not the log, which
        // SIGHUP empties.
        const std::string console = tarnel.console();
        const std::string fresh = console.substr(std::min(console_seen, console.size()));
        console_seen = console.size();
        if (count_of(fresh, "Connection Success") > 0 && reconnections.size() < gaps.size()) {
            reconnections.push_back(seconds_since(gaps.back().start, now));
        }
        std::istringstream fresh_lines(fresh);
        for (std::string line; std::getline(fresh_lines, line);) {
            if (line.find("Error") != std::string::npos) {
                tarnel_errors.push_back(
                    std::to_string(static_cast<long>(seconds_since(run_start, now))) +
                    " s: " + without_stamps(line));
            }
        }
        // A listener that ended (Icecast went down) is replaced once the mount is back.
        if (listener && !listener->running()) {
            frames += listener->frames();
            listener.reset();
        }
        if (!listener && icecast.http_get("/status-json.xsl").find("\"server_name\":\"Soak\"") !=
                             std::string::npos) {
            listener = std::make_unique<Listener>(work, icecast.port(), listener_count++);
            if (!gaps.empty() && gaps.back().end == Clock::time_point::max()) {
                gaps.back().end = now + kGapGrace;
            }
        }
        if (now >= next_restart && now < deadline - kQuietEnd) {
            gaps.push_back({Clock::now()});
            icecast.stop();
            std::this_thread::sleep_for(std::chrono::seconds(pick(1, 5)));
            if (!icecast.start()) {
                std::printf("soak: Icecast did not come back\n");
                break;
            }
            next_restart =
                Clock::now() + std::chrono::seconds(pick(kMinRestartGap, kMaxRestartGap));
        }
        if (now >= next_signal) {
            next_signal = now + std::chrono::seconds(pick(kMinSignalGap, kMaxSignalGap));
            switch (pick(0, 3)) {
                case 0:
                    tarnel.process().signal(SIGHUP);
                    ++hup;
                    break;
                case 1:
                    tarnel.playlist(playlist_text(clips, random));
                    tarnel.process().signal(SIGUSR1);
                    ++usr1;
                    break;
                case 2:
                    tarnel.process().signal(SIGUSR2);
                    ++usr2;
                    break;
                default:
                    tarnel.configure(config);
                    tarnel.process().signal(SIGWINCH);
                    ++winch;
                    break;
            }
        }
    }
    alive = alive && tarnel.process().running();
    const ProcessStats end = process_stats(tarnel.process().pid());
    if (listener) {
        listener->stop();
        frames += listener->frames();
        for (const std::string& line : listener->new_errors()) {
            errors.push_back({Clock::now(), line});
        }
    }
    tarnel.process().kill();

    size_t outside = 0;
    for (const StampedError& error : errors) {
        if (!in_a_gap(error.time, gaps)) {
            ++outside;
            std::printf("decode error at %.0f s, outside the reconnection gaps: %s\n",
                        seconds_since(run_start, error.time), error.text.c_str());
        }
    }
    std::printf("soak (Icecast, TLS): %d minutes, seed %u\n", minutes, seed);
    std::printf("process alive at the end: %s\n", alive ? "yes" : "no");
    std::printf("signals: HUP %zu, USR1 %zu, USR2 %zu, WINCH %zu\n", hup, usr1, usr2, winch);
    std::printf("Icecast restarts: %zu; reconnections: %zu, seconds from the stop to the log-in:",
                gaps.size(), reconnections.size());
    for (const double seconds : reconnections) {
        std::printf(" %.0f", seconds);
    }
    std::printf("\nTarnel's error lines (seconds into the run):\n");
    for (const std::string& line : tarnel_errors) {
        std::printf("  %s\n", line.c_str());
    }
    std::printf("listeners: %d, video frames decoded: %ld\n", listener_count, frames);
    std::printf("decode errors: %zu, %zu of them outside the reconnection gaps\n", errors.size(),
                outside);
    std::printf("RSS: start %ld kB, final %ld kB, peak %ld kB (VmHWM)\n", start.rss_kb, end.rss_kb,
                end.peak_rss_kb);
    std::printf("open descriptors: start %zu, end %zu\n", start.open_descriptors,
                end.open_descriptors);
    const bool sound = alive && reconnections.size() == gaps.size() && outside == 0 && frames > 0 &&
                       end.open_descriptors <= start.open_descriptors + kDescriptorSlack;
    std::printf("result: %s\n", sound ? "PASS" : "FAIL");
    return sound ? 0 : 1;
}

}  // namespace tarnel::test
