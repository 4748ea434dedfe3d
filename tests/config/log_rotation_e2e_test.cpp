// The example logrotate configuration against the real program: the log file is renamed while
// lines are being written, and every line turns up whole in exactly one of the files.

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "support/console_capture.h"
#include "support/loopback_server.h"
#include "support/nsv_writer.h"
#include "support/tarnel_run.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;

constexpr const char* kLogrotate = "/usr/sbin/logrotate";

// text with every from replaced by to.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The example, for the log file at path (and the as-run log at as_run). Its "su" line names the
// current user and group when running as root, and goes when not (logrotate can only switch
// users as root).
std::string logrotate_config(const std::string& path, const std::string& as_run = "") {
    std::string config = read_file(std::string(TARNEL_SOURCE_DIR) + "/examples/logrotate");
    config = replaced(config, "/var/log/tarnel/*.log", path);
    config = replaced(config, "/var/log/tarnel/*.as-run.jsonl",
                      as_run.empty() ? path + ".as-run.jsonl" : as_run);
    std::string su;
    if (geteuid() == 0) {
        su = std::string("    su ") + getpwuid(geteuid())->pw_name + " " +
             getgrgid(getegid())->gr_name + "\n";
    }
    const std::string example_su = "su tarnel tarnel\n";
    for (size_t at = config.find(example_su); at != std::string::npos;
         at = config.find(example_su, at)) {
        const size_t line_start = config.rfind('\n', at) + 1;  // npos + 1 is 0
        config.replace(line_start, at + example_su.size() - line_start, su);
        at = line_start + su.size();
    }
    return config;
}

std::string decompressed(const TempDir& dir, const std::string& path) {
    EXPECT_EQ(run_program("/bin/gzip", {"-dc", path}, dir.path(), dir.file("gunzip.txt")), 0)
        << path;
    return read_file(dir.file("gunzip.txt"));
}

// The last whole line of a console's or a log file's text, without time stamp, padding and
// carriage return; empty when there is none.
std::string last_line(const std::string& text) {
    const std::string lines = logged_lines(text);
    const size_t end = lines.rfind('\n');
    if (end == std::string::npos) {
        return "";
    }
    const size_t before = end == 0 ? std::string::npos : lines.rfind('\n', end - 1);
    const size_t start = before == std::string::npos ? 0 : before + 1;
    return lines.substr(start, end - start);
}

TEST(LogRotationEndToEndTest, TheExampleRenamesTheLogWhileItIsWrittenAndNoLineIsLost) {
    if (access(kLogrotate, X_OK) != 0) {
        GTEST_SKIP() << "logrotate is not installed (scripts/install-deps installs it)";
    }
    LoopbackServer server;
    TarnelRun run(server);
    run.configure("RealTime=no\n");  // the console then holds exactly the log lines
    NsvWriter clip;
    clip.file_header("TITLE='Clip'").frames(30 * 60, 0x1E, 200, 40, 30);
    clip.write(run.dir().file("clip.nsv"));
    run.playlist("#Mode=basic\nclip.nsv\n");
    const std::string config =
        run.dir().write("logrotate.conf", logrotate_config(run.dir().file("tarnel.log")));
    run.start();
    ASSERT_TRUE(run.wait_for_log("Title Updated", milliseconds(10000))) << run.log();

    // Each SIGWINCH writes two lines (the signal and the reload); a burst of them runs while
    // logrotate renames the file, four times.
    constexpr int kRotations = 4;
    for (int rotation = 0; rotation < kRotations; ++rotation) {
        for (int i = 0; i < 40; ++i) {
            run.process().signal(SIGWINCH);
            sleep_ms(3);
        }
        const std::string output = run.dir().file("logrotate.txt");
        ASSERT_EQ(run_program(kLogrotate, {"-f", "-s", run.dir().file("state"), config},
                              run.dir().path(), output),
                  0)
            << read_file(output);
        for (int i = 0; i < 40; ++i) {
            run.process().signal(SIGWINCH);
            sleep_ms(3);
        }
    }
    // The last lines are written: neither the console nor the log file has grown for half a
    // second, and the file ends with the console's last line (the console gets each line first).
    std::pair<size_t, size_t> sizes;
    auto grew_at = std::chrono::steady_clock::now();
    ASSERT_TRUE(wait_until(
        [&] {
            const std::string console = run.console();
            const std::string log = run.log();
            const auto now = std::chrono::steady_clock::now();
            if (std::make_pair(console.size(), log.size()) != sizes) {
                sizes = {console.size(), log.size()};
                grew_at = now;
            }
            return now - grew_at >= milliseconds(500) && last_line(console) == last_line(log);
        },
        15000))
        << "the log did not settle";
    ASSERT_TRUE(run.process().running());
    run.process().kill();

    // The files from the oldest to the newest: compressed ones, the newest old one kept plain
    // (delaycompress), and the one the program made after the last rename.
    std::string logged;
    for (int n = kRotations; n >= 2; --n) {
        const std::string old = run.dir().file("tarnel.log." + std::to_string(n) + ".gz");
        ASSERT_TRUE(file_exists(old)) << old;
        logged += decompressed(run.dir(), old);
    }
    ASSERT_TRUE(file_exists(run.dir().file("tarnel.log.1")));
    logged += read_file(run.dir().file("tarnel.log.1"));
    logged += read_file(run.dir().file("tarnel.log"));
    EXPECT_TRUE(is_stamped_lines(logged));

    // The console echoed every log line as it was written.
    std::string console = run.console();
    console = console.substr(console.find("\n\n") + 2);  // after the banner
    console.erase(std::remove(console.begin(), console.end(), '\r'), console.end());
    const std::string expected = without_padding(without_stamps(console));
    EXPECT_EQ(without_stamps(logged), expected);
    EXPECT_GE(count_of(expected, "SIGWINCH recieved"), 40u * kRotations);
}

TEST(LogRotationEndToEndTest, TheExampleRotatesTheAsRunLogAndEveryItemHasOneWholeLine) {
    if (access(kLogrotate, X_OK) != 0) {
        GTEST_SKIP() << "logrotate is not installed (scripts/install-deps installs it)";
    }
    LoopbackServer server;
    TarnelRun run(server);
    run.configure("RealTime=no\nAsRunLog=as-run.jsonl\n");
    NsvWriter clip;  // one second: an as-run line every second
    clip.file_header("TITLE='Clip'").frames(30, 0x1E, 200, 40, 30);
    clip.write(run.dir().file("clip.nsv"));
    run.playlist("#Mode=basic\nclip.nsv\n");
    const std::string as_run = run.dir().file("as-run.jsonl");
    const std::string config = run.dir().write(
        "logrotate.conf", logrotate_config(run.dir().file("not-rotated.log"), as_run));
    run.start();
    constexpr int kRotations = 4;
    for (int rotation = 0; rotation < kRotations; ++rotation) {
        ASSERT_TRUE(wait_until([&] { return file_exists(as_run); }, 10000)) << run.log();
        sleep_ms(1500);
        const std::string output = run.dir().file("logrotate.txt");
        ASSERT_EQ(run_program(kLogrotate, {"-f", "-s", run.dir().file("state"), config},
                              run.dir().path(), output),
                  0)
            << read_file(output);
    }
    ASSERT_TRUE(wait_until([&] { return file_exists(as_run); }, 10000));
    run.process().kill();

    std::string lines;
    for (int n = kRotations; n >= 2; --n) {
        lines += decompressed(run.dir(), as_run + "." + std::to_string(n) + ".gz");
    }
    lines += read_file(as_run + ".1") + read_file(as_run);
    // Each line is one whole record of a clip that played, in the as-run log's own form.
    size_t records = 0;
    for (size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = lines.substr(at, end - at);
        const auto record = nlohmann::ordered_json::parse(line, nullptr, false);
        std::vector<std::string> keys;
        for (const auto& item : record.items()) {
            keys.push_back(item.key());
        }
        if (record.is_object() && record.dump() == line &&
            keys == std::vector<std::string>{"start", "end", "entry", "title", "seconds", "bytes",
                                             "ended", "queued"} &&
            record["start"].is_string() && record["end"].is_string() &&
            record["entry"] == "clip.nsv" && record["title"] == "Clip" && record["seconds"] == 1 &&
            record["bytes"].is_number_unsigned() && record["ended"] == "played" &&
            record["queued"] == false) {
            ++records;
        }
    }
    EXPECT_EQ(records, static_cast<size_t>(std::count(lines.begin(), lines.end(), '\n')));
    // One line for every file that ended: each opening but the last, still playing.
    const size_t opened = count_of(run.log(), "Opened clip.nsv successfully!");
    EXPECT_GE(records + 1, opened);
    EXPECT_LE(records, opened);
    EXPECT_GE(records, 4u);
}

}  // namespace
}  // namespace tarnel::test
