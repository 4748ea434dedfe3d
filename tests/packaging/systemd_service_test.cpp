// The package under a real systemd: a container booted with systemd as PID 1 installs the .deb
// that scripts/package built (TARNEL_PACKAGE), runs the README's "Running as a service" commands
// as they stand there, and streams to a private Icecast inside the container (the machine's
// icecast2 package with its stock configuration and a source password of the test's), where a
// listener decodes what it gets. Then it checks what an operator meets: the unit active only once
// Tarnel said it is ready, the status text, the status file during the run and after a stop,
// reload, a skip, a watchdog restart of a hung station, a bad playlist at reload and a
// configuration its user cannot read (both end failed, never inactive), the installed converter,
// and removal. Needs root, systemd-nspawn, icecast2 and ffmpeg; skips with the reason otherwise.
// Nothing it does reaches the machine: the container writes into a layer in memory.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/process.h"
#include "support/systemd_container.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using nlohmann::json;
using Result = SystemdContainer::Result;

constexpr const char* kStation = "/root/station";  // where the operator's files are
constexpr const char* kSecret = "tarnel-test-secret";
constexpr const char* kUnit = "tarnel@news";

// The shell blocks (```sh) of the README's "Running as a service", one list of lines per block,
// comments and blank lines kept out.
std::vector<std::vector<std::string>> readme_service_blocks() {
    std::istringstream lines(read_file(std::string(TARNEL_SOURCE_DIR) + "/README.md"));
    std::vector<std::vector<std::string>> blocks;
    bool in_section = false;
    bool in_block = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("## ", 0) == 0) {
            in_section = line == "## Running as a service";
        } else if (in_section && line == "```sh") {
            in_block = true;
            blocks.emplace_back();
        } else if (in_block && line == "```") {
            in_block = false;
        } else if (in_block && !line.empty() && line[0] != '#') {
            blocks.back().push_back(line);
        }
    }
    return blocks;
}

// The first line of a block that starts with prefix.
std::string line_starting(const std::vector<std::string>& block, const std::string& prefix) {
    for (const std::string& line : block) {
        if (line.rfind(prefix, 0) == 0) {
            return line;
        }
    }
    return "";
}

std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

class SystemdServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* package = std::getenv("TARNEL_PACKAGE");
        if (package == nullptr || !file_exists(package)) {
            GTEST_SKIP() << "no package to install (scripts/package builds it; set TARNEL_PACKAGE)";
        }
        package_ = std::filesystem::absolute(package).string();
        const std::string reason = SystemdContainer::unavailable_reason();
        if (!reason.empty()) {
            GTEST_SKIP() << "no real systemd for the service tests: " << reason;
        }
        if (access("/usr/bin/icecast2", X_OK) != 0 || access("/usr/bin/ffmpeg", X_OK) != 0) {
            GTEST_SKIP() << "icecast2 or ffmpeg is not installed";
        }
        const auto booting = std::chrono::steady_clock::now();
        container_ = std::make_unique<SystemdContainer>();
        std::cout
            << "[ phase    ] the container booted in "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() - booting).count()
            << " s\n";
        if (!container_->booted()) {
            GTEST_SKIP() << "a container cannot run here: " << container_->failure();
        }
    }

    Result in(const std::string& script, int timeout_ms = 120000) const {
        return container_->run(script, timeout_ms);
    }
    // Runs a script that must succeed; its output.
    std::string must(const std::string& script, int timeout_ms = 120000) const {
        const Result result = in(script, timeout_ms);
        EXPECT_EQ(result.status, 0) << script << "\n" << result.output;
        return result.output;
    }
    std::string property(const std::string& name) const {
        std::string value = in("systemctl show -p " + name + " --value " + kUnit).output;
        while (!value.empty() && value.back() == '\n') {
            value.pop_back();
        }
        return value;
    }
    std::string journal() const {
        return in(std::string("journalctl -u ") + kUnit + " --no-pager -o cat").output;
    }
    // Waits until the unit's journal holds text count times.
    bool wait_for_journal(const std::string& text, size_t count = 1, int timeout_ms = 30000) const {
        return wait_until(
            [&] {
                const std::string log = journal();
                size_t found = 0;
                for (size_t at = log.find(text); at != std::string::npos;
                     at = log.find(text, at + 1)) {
                    ++found;
                }
                return found >= count;
            },
            timeout_ms);
    }
    json status_file() const {
        const std::string text = in("cat /run/tarnel/news/status.json").output;
        return json::accept(text) ? json::parse(text) : json();
    }

    // The machine's tree as a fresh Debian machine with systemd has it: a Docker image's
    // policy-rc.d (which stops packages from starting or stopping services) goes, documentation
    // may be installed, and a tarnel installed on the machine is not there. man-db does not
    // rebuild its index after each package step (the longest step, and nothing the test reads).
    void prepare_machine() const {
        must(
            "rm -f /usr/sbin/policy-rc.d /var/lib/man-db/auto-update && "
            "echo 'path-include=/usr/share/doc/tarnel/*' > /etc/dpkg/dpkg.cfg.d/zz-tarnel-test && "
            "if dpkg-query -W tarnel >/dev/null 2>&1; then dpkg --purge tarnel; fi");
        // The private Icecast: the stock configuration (port 8000, no shoutcast mount), with a
        // source password of the test's.
        must(std::string("sed -i 's|<source-password>[^<]*</source-password>|<source-password>") +
             kSecret + "</source-password>|' /etc/icecast2/icecast.xml && " +
             "systemctl start icecast2 && "
             "timeout 20 bash -c 'until (exec 3<>/dev/tcp/127.0.0.1/8000) 2>/dev/null; do "
             "sleep 0.1; done'");
    }

    // What the operator has at hand: the package, a playlist and two clips (made with the
    // tarnel-nsv of this build), and an editor that makes the changes the README asks for.
    void prepare_station_files() const {
        const std::string station = kStation;
        const std::string package_name = std::filesystem::path(package_).filename().string();
        std::filesystem::create_directories(container_->host_path(station + "/build-deb"));
        std::filesystem::create_directories(container_->host_path(station + "/media"));
        std::filesystem::copy_file(package_,
                                   container_->host_path(station + "/build-deb/" + package_name));
        const std::string tool = std::filesystem::path(TARNEL_BINARY).parent_path() / "tarnel-nsv";
        for (const char* name : {"one", "two"}) {
            const TempDir dir;
            const std::string source = dir.file("source.mp4");
            ASSERT_EQ(run_program("/usr/bin/ffmpeg",
                                  {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                   "testsrc=size=160x120:rate=30:duration=4", "-f", "lavfi", "-i",
                                   "sine=frequency=440:duration=4", "-c:v", "libx264", "-pix_fmt",
                                   "yuv420p", "-c:a", "aac", "-shortest", source},
                                  dir.path(), dir.file("log.txt"), 60000),
                      0)
                << read_file(dir.file("log.txt"));
            const std::string clip =
                container_->host_path(station + "/media/" + std::string(name) + ".nsv");
            ASSERT_EQ(run_program(tool, {"convert", source, clip, std::string("Clip ") + name},
                                  dir.path(), dir.file("log.txt"), 60000),
                      0)
                << read_file(dir.file("log.txt"));
        }
        container_->write(station + "/playlist.plo", "#Mode=basic\nmedia/one.nsv\nmedia/two.nsv\n");
        container_->write("/root/edit-station",
                          std::string("#!/bin/sh\nsed -i -e 's/^Password=.*/Password=") + kSecret +
                              "/' -e 's/^;Mount=/Mount=/' -e 's/^;User=/User=/' "
                              "-e 's/NAME/news/g' -e 's/^StreamName=.*/StreamName=Container "
                              "News/' \"$1\"\n",
                          0755);
    }

    std::string package_;
    std::unique_ptr<SystemdContainer> container_;
};

TEST_F(SystemdServiceTest, TheReadmeStepsGiveAStationThatFailsLoudlyAndRemovesCleanly) {
    // Each phase's end, in seconds since the test began: what the test costs, for the log.
    const auto began = std::chrono::steady_clock::now();
    auto phase = [&](const char* name) {
        std::cout << "[ phase    ] " << name << " done at "
                  << std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count()
                  << " s\n";
    };
    const std::vector<std::vector<std::string>> blocks = readme_service_blocks();
    ASSERT_GE(blocks.size(), 2u) << "the README's service steps were not found";
    prepare_machine();
    prepare_station_files();
    ASSERT_FALSE(HasFailure());

    phase("station files");

    // The README's steps, as they stand; the package is the one given (its first step builds
    // one from a source checkout). They run with a hardened root's umask, with which files that
    // root copies are its own alone: the steps must still hand them to the station's user.
    std::string steps = "set -ex\numask 077\n";
    for (const std::string& line : blocks[0]) {
        if (line.rfind("scripts/package", 0) != 0) {
            steps += line + "\n";
        }
    }
    const Result setup =
        in(std::string("cd ") + kStation +
               " && export EDITOR=/root/edit-station DEBIAN_FRONTEND=noninteractive"
               " && sh -c " +
               shell_quoted(steps),
           300000);
    ASSERT_EQ(setup.status, 0) << setup.output;
    EXPECT_NE(setup.output.find("Summary: 2 media files, 2 playable; 0 errors, 0 warnings"),
              std::string::npos)
        << setup.output;  // tarnel-nsv check --station as the user tarnel

    phase("README steps");

    // Active only once Tarnel said it is ready, with what it does as the status text.
    EXPECT_EQ(property("Type"), "notify");
    EXPECT_EQ(property("ActiveState"), "active");
    EXPECT_NE(property("After").find("icecast2.service"), std::string::npos);
    ASSERT_TRUE(
        wait_until([&] { return property("StatusText").rfind("Streaming Clip ", 0) == 0; }, 20000))
        << property("StatusText") << journal();

    // The README's commands for watching and controlling it.
    const std::vector<std::string>& watch = blocks[1];
    const std::string status_command = line_starting(watch, "systemctl status");
    const std::string journal_command = line_starting(watch, "journalctl");
    const std::string reload_command = line_starting(watch, "systemctl reload");
    const std::string skip_command = line_starting(watch, "systemctl kill -s USR2");
    const std::string status_file_command = line_starting(watch, "jq");
    ASSERT_FALSE(status_command.empty() || journal_command.empty() || reload_command.empty() ||
                 skip_command.empty() || status_file_command.empty())
        << "a command of the README's watching block is missing";

    const std::string shown = must(status_command + " --no-pager");
    EXPECT_NE(shown.find("Active: active (running)"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Status: \"Streaming Clip "), std::string::npos) << shown;
    const std::string followed = in("timeout 3 " + journal_command).output;  // -f: until stopped
    EXPECT_NE(followed.find("Connection Success"), std::string::npos) << followed;

    const std::string file_text = must(status_file_command);
    ASSERT_TRUE(json::accept(file_text)) << file_text;
    const json running = json::parse(file_text);
    EXPECT_EQ(running["state"], "streaming");
    EXPECT_EQ(running["mount"], "/news");
    EXPECT_EQ(running["server"], "127.0.0.1");
    EXPECT_EQ(running["pid"].dump(), property("MainPID"));
    // A monitoring system with a user of its own can read it.
    EXPECT_EQ(must("stat -c %a:%U /run/tarnel/news/status.json"), "644:tarnel\n");
    const std::string as_nobody = must("runuser -u nobody -- cat /run/tarnel/news/status.json");
    EXPECT_TRUE(json::accept(as_nobody)) << as_nobody;

    phase("status and watching commands");

    // A listener on the mount decodes what it gets.
    const std::string listened = must(
        "timeout 30 ffmpeg -nostdin -v error -t 4 -i http://127.0.0.1:8000/news "
        "-map 0:v:0 -f framemd5 /tmp/listener.md5 && grep -c '^0,' /tmp/listener.md5",
        60000);
    EXPECT_GE(std::atoi(listened.c_str()), 90) << listened;

    phase("listener");

    // Reload: the configuration, then the playlist, in the same process.
    const std::string pid = property("MainPID");
    must(reload_command);
    EXPECT_TRUE(wait_for_journal("SIGWINCH recieved; config file reloading!")) << journal();
    EXPECT_TRUE(wait_for_journal("SIGUSR1 recieved; playlist reloading!")) << journal();
    EXPECT_EQ(property("MainPID"), pid);
    EXPECT_EQ(property("ActiveState"), "active");

    // A skip: the next file opens at once.
    const size_t opened = [&] {
        const std::string log = journal();
        size_t count = 0;
        for (size_t at = log.find("successfully!"); at != std::string::npos;
             at = log.find("successfully!", at + 1)) {
            ++count;
        }
        return count;
    }();
    must(skip_command);
    EXPECT_TRUE(wait_for_journal("SIGUSR2 recieved; changing to next track position!"))
        << journal();
    EXPECT_TRUE(wait_for_journal("successfully!", opened + 1, 10000)) << journal();

    phase("reload and skip");

    // A hung station is killed by the watchdog and started again (a drop-in shortens the
    // watchdog and the pause before a restart, for the test).
    must(std::string("mkdir -p /etc/systemd/system/") + kUnit + ".service.d && " +
         "printf '[Service]\\nWatchdogSec=5\\nRestartSec=1\\n' > /etc/systemd/system/" + kUnit +
         ".service.d/test.conf && systemctl daemon-reload && systemctl restart " + kUnit);
    const std::string hung = property("MainPID");
    must("kill -STOP " + hung);
    EXPECT_TRUE(wait_until(
        [&] {
            const std::string now = property("MainPID");
            return now != hung && now != "0" && property("ActiveState") == "active";
        },
        40000))
        << journal();
    EXPECT_TRUE(wait_for_journal("Watchdog timeout")) << journal();
    EXPECT_GE(std::atoi(property("NRestarts").c_str()), 1);

    phase("watchdog");

    // The status file outlives a stop, with the last state of the station.
    const std::string stopped_pid = property("MainPID");
    must(std::string("systemctl stop ") + kUnit);
    const json after_stop = status_file();
    ASSERT_TRUE(after_stop.is_object()) << must("ls -la /run/tarnel/news");
    EXPECT_EQ(after_stop["pid"].dump(), stopped_pid);

    phase("stop");

    // A playlist that cannot be loaded at a reload leaves the unit restarting, then failed;
    // never inactive, as if it had been stopped on purpose.
    must(std::string("systemctl start ") + kUnit);
    must("printf 'junk\\n' > /var/lib/tarnel/news/playlist.plo");
    in(reload_command);  // fails: the station ends in the middle of it
    std::vector<std::string> states;
    wait_until(
        [&] {
            const std::string state = property("ActiveState");
            if (states.empty() || states.back() != state) {
                states.push_back(state);
            }
            return state == "failed" || state == "inactive";
        },
        40000);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back(), "failed") << journal();
    for (const std::string& state : states) {
        EXPECT_NE(state, "inactive");
    }
    EXPECT_TRUE(wait_for_journal(
        "FATAL ERROR: Playlist (playlist.plo) could not be loaded!!\n"
        "Playlist playlist.plo (in /var/lib/tarnel/news): its first line that is not a comment "
        "is not #Mode=basic or #Mode=object"))
        << journal();
    const json failed_status = status_file();
    EXPECT_EQ(failed_status["state"], "stopped");
    EXPECT_EQ(failed_status["last_error"],
              "Playlist (playlist.plo) could not be loaded: its first line that is not a comment "
              "is not #Mode=basic or #Mode=object");

    phase("bad playlist");

    // A configuration the station's user cannot read fails the start, with the reason in the
    // journal, before the unit was ever active; systemctl status shows it failed.
    must(std::string("printf '#Mode=basic\\nmedia/one.nsv\\nmedia/two.nsv\\n' > "
                     "/var/lib/tarnel/news/playlist.plo && systemctl reset-failed ") +
         kUnit);
    const std::string active_before = property("ActiveEnterTimestampMonotonic");
    must("chown root:root /etc/tarnel/news.conf && chmod 640 /etc/tarnel/news.conf");
    const Result refused = in(std::string("systemctl start ") + kUnit);
    EXPECT_NE(refused.status, 0) << refused.output;
    EXPECT_TRUE(
        wait_for_journal("FATAL ERROR: Configuration file (/etc/tarnel/news.conf) could "
                         "not be loaded!!; exiting\n"
                         "Configuration file /etc/tarnel/news.conf: Permission denied"))
        << journal();
    EXPECT_TRUE(wait_until([&] { return property("ActiveState") == "failed"; }, 40000))
        << journal();
    EXPECT_EQ(property("ActiveEnterTimestampMonotonic"), active_before);
    const std::string failed = in(status_command + " --no-pager").output;
    EXPECT_NE(failed.find("Active: failed"), std::string::npos) << failed;
    // Readable again: the start waits for Tarnel's word, and the unit is active.
    must(std::string("chown root:tarnel /etc/tarnel/news.conf && systemctl reset-failed ") + kUnit +
         " && systemctl start " + kUnit);
    EXPECT_EQ(property("ActiveState"), "active");
    EXPECT_NE(property("ActiveEnterTimestampMonotonic"), active_before);

    phase("unreadable configuration");

    // The installed converter and its version.
    EXPECT_EQ(must("tarnel-nsv --version"), "tarnel-nsv " TARNEL_VERSION "\n");
    const std::string converted = must(
        "cd /tmp && ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=25:duration=1 "
        "small.mkv && tarnel-nsv convert small.mkv small.nsv && tarnel-nsv info small.nsv");
    EXPECT_NE(converted.find("problems: none"), std::string::npos) << converted;

    phase("converter");

    // Removal stops the station, leaves its configuration and no dangling link; installing again
    // enables and starts it again; purging forgets it.
    must("DEBIAN_FRONTEND=noninteractive apt-get -y -q remove tarnel");
    EXPECT_EQ(must("ls /etc/tarnel"), "news.conf\n");
    EXPECT_EQ(must("find /etc/systemd/system -xtype l"), "");
    EXPECT_NE(property("ActiveState"), "active");
    EXPECT_NE(in("command -v tarnel").status, 0);
    must(std::string("cd ") + kStation +
         " && DEBIAN_FRONTEND=noninteractive apt-get -y -q install ./build-deb/tarnel_*.deb");
    EXPECT_EQ(must(std::string("systemctl is-enabled ") + kUnit), "enabled\n");
    EXPECT_TRUE(wait_until([&] { return property("ActiveState") == "active"; }, 20000))
        << journal();
    must("DEBIAN_FRONTEND=noninteractive apt-get -y -q purge tarnel");
    EXPECT_EQ(must("find /etc/systemd/system -xtype l"), "");
    EXPECT_NE(in("test -e /var/lib/tarnel/.enabled-stations").status, 0);
    phase("removal");
}

}  // namespace
}  // namespace tarnel::test
