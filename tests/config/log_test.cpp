#include "config/log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "config/settings.h"
#include "support/console_capture.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_settings();
        logfile = dir_.file("tarnel.log");
    }
    void TearDown() override {
        reset_settings();
        console_discarded = false;
    }

    TempDir dir_;
    ConsoleCapture capture_;
};

TEST_F(LogTest, TimeStampIs22CharactersOfLocalTime) {
    const std::string stamp = time_stamp();
    EXPECT_EQ(stamp.size(), 22u);
    EXPECT_TRUE(is_stamp_at(stamp, 0)) << stamp;
}

TEST_F(LogTest, ConsoleSequenceOfStatusAndLogLinesBlanksLeftovers) {
    display("Video: 300kbps");    // status line, nothing before it
    nsv_log("short");             // over the status line: CR, 9 blanking spaces, newline
    nsv_log("a longer message");  // no CR after a log line
    nsv_log("tiny");              // 12 blanking spaces
    display("status two");        // a new status line below
    display("s3");                // over it, blanking 8
    EXPECT_EQ(without_stamps(capture_.text()),
              "\rVideo: 300kbps"
              "\rshort" +
                  std::string(9, ' ') +
                  "\n"
                  "a longer message\n"
                  "tiny" +
                  std::string(12, ' ') +
                  "\n"
                  "\rstatus two"
                  "\rs3" +
                  std::string(8, ' '));
    EXPECT_EQ(last_length, 2u);
    EXPECT_FALSE(onscreen);
}

TEST_F(LogTest, TheJournalGetsBareLinesAndNoStatusLine) {
    journal_console = true;
    display("Video: 300kbps");
    nsv_log("a longer message");
    nsv_log("tiny");
    display("status");
    EXPECT_EQ(capture_.text(), "a longer message\ntiny\n");
    EXPECT_EQ(without_stamps(read_file(logfile)), "a longer message\ntiny\n");  // file unchanged
    EXPECT_TRUE(is_stamped_lines(read_file(logfile)));
}

TEST_F(LogTest, TheJournalIsRecognisedByTheDeviceAndInodeOfStandardOutput) {
    struct stat output {};
    ASSERT_EQ(fstat(STDOUT_FILENO, &output), 0);
    const std::string own = std::to_string(output.st_dev) + ":" + std::to_string(output.st_ino);
    const std::pair<std::string, bool> cases[] = {
        {own, true},
        {std::to_string(output.st_dev) + ":" + std::to_string(output.st_ino + 1), false},
        {"", false},
        {"garbage", false},
    };
    for (const auto& [value, expected] : cases) {
        const ScopedEnvironment stream("JOURNAL_STREAM", value);
        EXPECT_EQ(stdout_is_journal(), expected) << value;
    }
    unsetenv("JOURNAL_STREAM");
    EXPECT_FALSE(stdout_is_journal());
}

// Output that goes to /dev/null is neither formatted nor written; the log file is as always.
TEST_F(LogTest, ADiscardedConsoleGetsNothingAndTheLogFileEverything) {
    console_discarded = true;
    realtime = true;
    display("Video: 300kbps");
    nsv_log("a line");
    EXPECT_EQ(capture_.text(), "");
    EXPECT_EQ(without_stamps(read_file(logfile)), "a line\n");
}

TEST_F(LogTest, ADiscardedConsoleIsStandardOutputOnDevNull) {
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    ASSERT_NE(saved, -1);
    const int null_device = open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_NE(null_device, -1);
    ASSERT_EQ(dup2(null_device, STDOUT_FILENO), STDOUT_FILENO);
    close(null_device);
    const bool on_null = stdout_is_discarded();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    EXPECT_TRUE(on_null);
    // The test's own output: a terminal, a pipe or a file.
    EXPECT_FALSE(stdout_is_discarded());
}

TEST_F(LogTest, LogFileGetsStampedLinesAndNeverStatusLines) {
    nsv_log("first");
    display("status");
    nsv_log("second");
    const std::string text = read_file(logfile);
    EXPECT_EQ(without_stamps(text), "first\nsecond\n") << text;
    EXPECT_TRUE(is_stamp_at(text, 0)) << text;
    EXPECT_TRUE(is_stamp_at(text, text.find('\n') + 1)) << text;
}

TEST_F(LogTest, SwitchesSilenceTheConsoleButNotTheFile) {
    screenlog = false;
    realtime = false;
    nsv_log("quiet");
    display("status");
    EXPECT_EQ(capture_.text(), "");
    EXPECT_NE(read_file(logfile).find("> quiet\n"), std::string::npos);
}

TEST_F(LogTest, NullLogFileWritesNoFile) {
    logfile = "NULL";
    ScopedChdir here(dir_.path());
    nsv_log("console only");
    EXPECT_FALSE(file_exists(dir_.file("NULL")));
    EXPECT_NE(capture_.text().find("console only\n"), std::string::npos);
}

TEST_F(LogTest, DeletedOrUnwritableLogFile) {
    nsv_log("one");
    std::remove(logfile.c_str());
    nsv_log("two");
    EXPECT_EQ(without_stamps(read_file(logfile)), "two\n");
    EXPECT_TRUE(is_stamp_at(read_file(logfile), 0));

    logfile = dir_.file("missing-dir/tarnel.log");
    nsv_log("lost");  // lost for the file, still on the console, with one warning
    EXPECT_FALSE(file_exists(logfile));
    EXPECT_NE(capture_.text().find("lost\n"), std::string::npos);
}

// A log file that cannot be written is said once on the console, even with ScreenLog off (the
// console is the journal under the service manager), and again only after a line has reached it
// or the path has changed.
TEST_F(LogTest, ALogFileThatCannotBeWrittenIsReportedOnceOnTheConsole) {
    screenlog = false;
    logfile = dir_.file("missing-dir/tarnel.log");
    const std::string warning =
        "Warning: could not write the log file " + logfile + ": No such file or directory";
    nsv_log("one");
    nsv_log("two");
    EXPECT_EQ(logged_lines(capture_.text()), warning + "\n");

    ASSERT_EQ(mkdir(dir_.file("missing-dir").c_str(), 0755), 0);
    nsv_log("three");  // reaches the file: the next failure is reported again
    ASSERT_EQ(std::remove(logfile.c_str()), 0);
    ASSERT_EQ(rmdir(dir_.file("missing-dir").c_str()), 0);
    nsv_log("four");
    const std::string other = dir_.file("other/x.log");
    logfile = other;
    nsv_log("five");  // another path: reported at once
    nsv_log("six");
    EXPECT_EQ(logged_lines(capture_.text()), warning + "\n" + warning +
                                                 "\nWarning: could not write the log file " +
                                                 other + ": No such file or directory\n");
}

TEST_F(LogTest, TheWarningGoesToTheJournalBareAndNeverIntoAFile) {
    journal_console = true;
    logfile = dir_.path();  // a directory cannot be opened for appending
    nsv_log("line");
    EXPECT_EQ(capture_.text(), "line\nWarning: could not write the log file " + logfile +
                                   ": a directory, not a file\n");
}

// A title or file name with a line break or an escape sequence: each sink gets one line, in which
// every control character is a "?".
TEST_F(LogTest, TextWithControlCharactersStaysOnItsLineInEverySink) {
    const std::string hostile = "Title Updated (Song\r\nError: forged\x1b[2J)";
    const std::string shown = "Title Updated (Song??Error: forged?[2J)";
    nsv_log(hostile);
    display("Video: \x1b]0;owned\x07");
    EXPECT_EQ(without_stamps(read_file(logfile)), shown + "\n");
    const std::string status = "Video: ?]0;owned?";
    // The status line blanks out the rest of the longer log line before it.
    EXPECT_EQ(without_stamps(capture_.text()),
              "\r" + shown + "\n\r" + status + std::string(shown.size() - status.size(), ' '));

    capture_.clear();
    journal_console = true;
    nsv_log(hostile);
    EXPECT_EQ(capture_.text(), shown + "\n");

    std::vector<std::string> lines;
    set_log_capture(&lines);
    nsv_log(hostile);
    set_log_capture(nullptr);
    EXPECT_EQ(lines, std::vector<std::string>{shown});
}

TEST_F(LogTest, CaptureTakesTheMessagesAndWritesNothing) {
    std::vector<std::string> lines;
    set_log_capture(&lines);
    nsv_log("one");
    nsv_log("two");
    set_log_capture(nullptr);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(capture_.text(), "");
    EXPECT_FALSE(file_exists(logfile));

    nsv_log("three");  // logging as usual again
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_EQ(without_stamps(read_file(logfile)), "three\n");
    EXPECT_NE(capture_.text().find("three\n"), std::string::npos);
}

TEST_F(LogTest, CopyTakesTheMessagesAndWritesThemAsUsual) {
    std::vector<std::string> lines;
    set_log_copy(&lines);
    nsv_log("one");
    nsv_log("two");
    set_log_copy(nullptr);
    nsv_log("three");
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(without_stamps(read_file(logfile)), "one\ntwo\nthree\n");
    EXPECT_EQ(logged_lines(capture_.text()), "one\ntwo\nthree\n");
}

}  // namespace
}  // namespace tarnel::test
