#include "driver/status_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "config/settings.h"
#include "support/console_capture.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using nlohmann::json;

constexpr std::time_t kNoon = 1714564800;  // 2024-05-01T12:00:00Z

RunStatus streaming_status() {
    RunStatus status;
    status.state = RunState::kStreaming;
    status.server = "radio.example";
    status.port = "8000";
    status.connected_since = kNoon - 90;
    status.entry = "media/news.nsv";
    status.title = "News \"at noon\"";
    status.second = 42;
    status.bytes_sent = 5000000000ULL;  // beyond 32 bits
    status.seconds_sent = 3600;
    for (const double delay : {0.0009765625, 0.00390625, 0.0625, 1.5}) {  // exact in binary
        status.first_byte_delay.add(delay);
    }
    status.reconnections = 2;
    status.last_error = "Could not write to socket.";
    status.last_error_time = kNoon - 120;
    return status;
}

TEST(StatusJsonTest, HoldsEveryFieldWithItsValue) {
    const json parsed = json::parse(status_json(streaming_status(), kNoon));
    EXPECT_EQ(parsed, json::parse(R"({
        "version": ")" + std::string(kVersion) +
                                  R"(",
        "pid": )" + std::to_string(getpid()) +
                                  R"(,
        "state": "streaming",
        "server": "radio.example",
        "port": 8000,
        "mount": null,
        "connected_since": "2024-05-01T11:58:30Z",
        "entry": "media/news.nsv",
        "title": "News \"at noon\"",
        "second": 42,
        "bytes_sent": 5000000000,
        "seconds_sent": 3600,
        "first_byte_delay": {
            "le_seconds": [0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1.0],
            "counts": [1, 1, 2, 2, 2, 2, 3, 3, 3, 3],
            "count": 4,
            "sum_seconds": 1.5673828125},
        "reconnections": 2,
        "last_error": "Could not write to socket.",
        "last_error_time": "2024-05-01T11:58:00Z",
        "updated": "2024-05-01T12:00:00Z"})"));
}

TEST(StatusJsonTest, ValuesNotKnownYetAreNull) {
    const json parsed = json::parse(status_json(RunStatus{}, kNoon));
    EXPECT_EQ(parsed["state"], "starting");
    for (const char* field : {"server", "port", "mount", "connected_since", "entry", "title",
                              "last_error", "last_error_time"}) {
        EXPECT_TRUE(parsed[field].is_null()) << field;
    }
    EXPECT_EQ(parsed["second"], 0);
    EXPECT_EQ(parsed["reconnections"], 0);
}

TEST(StatusJsonTest, TitlesOfAnyBytesGiveValidJson) {
    RunStatus status = streaming_status();
    status.title = "Caf\xe9 \x01\x1f\\ \xff\xfe end";  // Latin-1, controls
    status.entry = "caf\xc3\xa9.nsv";                  // UTF-8 stays as it is
    const json parsed = json::parse(status_json(status, kNoon));
    // Control characters are replaced, bytes that are not UTF-8 become U+FFFD.
    EXPECT_EQ(parsed["title"], "Caf\xef\xbf\xbd ??\\ \xef\xbf\xbd\xef\xbf\xbd end");
    EXPECT_EQ(parsed["entry"], "caf\xc3\xa9.nsv");
}

TEST(StatusJsonTest, TextsFromFilesAndSettingsCarryNoControlCharacters) {
    RunStatus status = streaming_status();
    status.server = "radio\x1b[2J.example";
    status.mount = "/live\t1";
    status.entry = "media/a\nb.nsv";
    status.title =
        "Song\r\nSTOPPING=1\xc2\x9b"
        "31m";
    status.last_error = "Error\x7f";
    const json parsed = json::parse(status_json(status, kNoon));
    EXPECT_EQ(parsed["server"], "radio?[2J.example");
    EXPECT_EQ(parsed["mount"], "/live?1");
    EXPECT_EQ(parsed["entry"], "media/a?b.nsv");
    EXPECT_EQ(parsed["title"], "Song??STOPPING=1?31m");
    EXPECT_EQ(parsed["last_error"], "Error?");
}

TEST(StatusJsonTest, EveryStateHasItsName) {
    const std::pair<RunState, const char*> names[] = {
        {RunState::kStarting, "starting"},
        {RunState::kConnecting, "connecting"},
        {RunState::kStreaming, "streaming"},
        {RunState::kWaitingToReconnect, "waiting to reconnect"},
        {RunState::kIdle, "idle"},
        {RunState::kStopped, "stopped"},
    };
    for (const auto& [state, name] : names) {
        RunStatus status;
        status.state = state;
        EXPECT_EQ(json::parse(status_json(status, kNoon))["state"], name);
    }
}

// The names in a directory, sorted.
std::vector<std::string> names_in(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ReplaceFileTest, ReplacesTheWholeFileAndLeavesNoTemporary) {
    const TempDir dir;
    const std::string path = dir.write("status.json", "an older and much longer text\n");
    EXPECT_EQ(replace_file(path, "new\n"), "");
    EXPECT_EQ(read_file(path), "new\n");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"status.json"});
}

// In a directory that other users share (/tmp), a link planted at a temporary name must not make
// the program overwrite the file it points to: the temporary file always gets a new name.
TEST(ReplaceFileTest, ALinkPlantedAtTheTemporaryNameIsNotFollowed) {
    const TempDir dir;
    const std::string victim = dir.write("victim", "precious\n");
    const std::string path = dir.file("status.json");
    ASSERT_EQ(symlink(victim.c_str(), (path + ".tmp").c_str()), 0);
    ASSERT_EQ(mkfifo((path + ".tmp.fifo").c_str(), 0600), 0);
    EXPECT_EQ(replace_file(path, "new\n"), "");
    EXPECT_EQ(read_file(path), "new\n");
    EXPECT_EQ(read_file(victim), "precious\n");
    EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"status.json", "status.json.tmp",
                                                              "status.json.tmp.fifo", "victim"}));
}

// The service unit runs with UMask=0027; the status file is still readable by a monitoring
// system's own user.
TEST(ReplaceFileTest, AModeIsGivenWhateverTheUmask) {
    const TempDir dir;
    const std::string path = dir.file("status.json");
    const mode_t before = umask(0027);
    const std::string with_mode = replace_file(path, "x\n", kStatusFileMode);
    const std::string plain = replace_file(dir.file("plain.json"), "x\n");
    umask(before);
    ASSERT_EQ(with_mode, "");
    ASSERT_EQ(plain, "");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    ASSERT_EQ(stat(dir.file("plain.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(ReplaceFileTest, AMissingDirectoryIsAReasonNotAFile) {
    const TempDir dir;
    const std::string path = dir.file("missing/status.json");
    EXPECT_EQ(replace_file(path, "x"), "No such file or directory");
    EXPECT_FALSE(file_exists(path));
}

TEST(ReplaceFileTest, AFailedWriteKeepsTheOldFileAndRemovesTheTemporary) {
    const TempDir dir;
    const std::string path = dir.write("status.json", "old\n");
    // A file size limit makes the write fail as a full disk would (SIGXFSZ ignored: EFBIG).
    rlimit former{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &former), 0);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction former_action {};
    ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &former_action), 0);
    rlimit limited = former;
    limited.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::string failure = replace_file(path, std::string(100000, 'x'));
    setrlimit(RLIMIT_FSIZE, &former);
    sigaction(SIGXFSZ, &former_action, nullptr);
    EXPECT_EQ(failure, "File too large");
    EXPECT_EQ(read_file(path), "old\n");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"status.json"});
}

class WriteStatusFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_settings();
        reset_status_file();
        logfile = dir_.file("tarnel.log");
        screenlog = false;
    }
    void TearDown() override {
        reset_settings();
        reset_status_file();
    }
    std::string log() const { return without_stamps(read_file(dir_.file("tarnel.log"))); }

    TempDir dir_;
};

TEST_F(WriteStatusFileTest, AFailureIsLoggedOnceUntilAWriteSucceedsOrThePathChanges) {
    status_file = dir_.file("missing/status.json");
    const std::string failure =
        "Warning: could not write the status file " + status_file + ": No such file or directory\n";
    for (int i = 0; i < 3; ++i) {
        write_status_file(RunStatus{}, kNoon);
    }
    EXPECT_EQ(log(), failure);

    ASSERT_EQ(mkdir(dir_.file("missing").c_str(), 0755), 0);
    write_status_file(RunStatus{}, kNoon);
    EXPECT_TRUE(file_exists(status_file));
    ASSERT_EQ(unlink(status_file.c_str()), 0);
    ASSERT_EQ(rmdir(dir_.file("missing").c_str()), 0);
    write_status_file(RunStatus{}, kNoon);  // failing again after a success: logged again
    EXPECT_EQ(log(), failure + failure);

    status_file = dir_.file("other/status.json");
    write_status_file(RunStatus{}, kNoon);
    write_status_file(RunStatus{}, kNoon);
    EXPECT_EQ(log(), failure + failure + "Warning: could not write the status file " + status_file +
                         ": No such file or directory\n");
}

}  // namespace
}  // namespace tarnel::test
