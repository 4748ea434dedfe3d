#include "driver/as_run_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/settings.h"
#include "support/console_capture.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using Lines = std::vector<std::string_view>;

struct TailCase {
    const char* name;
    std::string tail;
    bool whole_file;
    size_t count;
    Lines lines;
};

const TailCase kTails[] = {
    {"Empty", "", true, 10, {}},
    {"FewerThanAsked", "a\nb\n", true, 10, {"a", "b"}},
    {"TheLastOnes", "a\nb\nc\nd\n", true, 2, {"c", "d"}},
    {"ALineStillBeingWritten", "a\nb\nc", true, 10, {"a", "b"}},
    {"APartAtTheTailsStart", "rt of a\nb\nc\n", false, 10, {"b", "c"}},
    {"APartOnlyCountsWhenTheFileStartsThere", "only\n", false, 10, {}},
    {"EmptyLinesAreNoRecords", "a\n\n\nb\n", true, 10, {"a", "b"}},
    {"NoLineFeedAtAll", "abc", true, 10, {}},
};

class LastLinesTest : public ::testing::TestWithParam<TailCase> {};

TEST_P(LastLinesTest, TakesTheLastWholeLines) {
    const TailCase& tail = GetParam();
    EXPECT_EQ(last_lines(tail.tail, tail.whole_file, tail.count), tail.lines);
}

INSTANTIATE_TEST_SUITE_P(Cases, LastLinesTest, ::testing::ValuesIn(kTails),
                         [](const ::testing::TestParamInfo<TailCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

class AsRunLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_settings();
        reset_as_run_log();
        screenlog = false;
        logfile = dir_.file("tarnel.log");
    }
    void TearDown() override {
        reset_as_run_log();
        reset_settings();
    }

    static AsRunRecord record(const std::string& entry) {
        AsRunRecord item;
        item.entry = entry;
        item.title = "Title of " + entry;
        item.seconds = 3;
        item.bytes = 300;
        return item;
    }

    std::vector<std::string> history_entries(size_t count) {
        std::vector<nlohmann::ordered_json> records;
        EXPECT_EQ(read_history(count, records), "");
        std::vector<std::string> entries;
        for (const auto& item : records) {
            entries.push_back(item["entry"]);
        }
        return entries;
    }

    TempDir dir_;
};

TEST_F(AsRunLogTest, WritesOneLinePerItemAndMakesTheFileAnewAfterRotation) {
    as_run_log = dir_.file("as-run.jsonl");
    record_on_air(record("a.nsv"));
    record_on_air(record("b.nsv"));
    EXPECT_EQ(read_file(as_run_log), as_run_line(record("a.nsv")) + as_run_line(record("b.nsv")));
    struct stat file {};
    ASSERT_EQ(stat(as_run_log.c_str(), &file), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(file.st_mode & 0777, 0640 & ~mask);

    ASSERT_EQ(std::rename(as_run_log.c_str(), dir_.file("as-run.jsonl.1").c_str()), 0);
    record_on_air(record("c.nsv"));
    EXPECT_EQ(read_file(as_run_log), as_run_line(record("c.nsv")));
    EXPECT_EQ(history_entries(10), (std::vector<std::string>{"c.nsv"}));
}

TEST_F(AsRunLogTest, HistoryReadsTheLastItemsOfTheLog) {
    as_run_log = dir_.file("as-run.jsonl");
    EXPECT_TRUE(history_entries(10).empty());  // no file yet
    for (int i = 1; i <= 5; ++i) {
        record_on_air(record(std::to_string(i) + ".nsv"));
    }
    // A line damaged by hand is left out; one cut short at the end is not whole yet.
    std::FILE* file = std::fopen(as_run_log.c_str(), "a");
    std::fputs("not json\n{\"entry\": \"cut", file);
    std::fclose(file);
    EXPECT_EQ(history_entries(3), (std::vector<std::string>{"4.nsv", "5.nsv"}));
    EXPECT_EQ(history_entries(10).size(), 5u);
}

TEST_F(AsRunLogTest, HistoryOfALargeLogReadsOnlyItsEnd) {
    as_run_log = dir_.file("as-run.jsonl");
    AsRunRecord big = record("big.nsv");
    big.title = std::string(4000, 't');
    for (int i = 0; i < 400; ++i) {  // about 1.6 MB
        record_on_air(big);
    }
    record_on_air(record("last.nsv"));
    const std::vector<std::string> entries = history_entries(1000);
    EXPECT_LT(entries.size(), 400u);  // only what the last megabyte holds
    EXPECT_GT(entries.size(), 200u);
    EXPECT_EQ(entries.back(), "last.nsv");
}

TEST_F(AsRunLogTest, WithoutALogHistoryIsKeptInMemoryOnlyWhileAsked) {
    record_on_air(record("forgotten.nsv"));
    EXPECT_TRUE(history_entries(10).empty());
    keep_history_in_memory(true);
    for (size_t i = 0; i < kHistoryInMemory + 5; ++i) {
        record_on_air(record(std::to_string(i) + ".nsv"));
    }
    const std::vector<std::string> entries = history_entries(1000);
    ASSERT_EQ(entries.size(), kHistoryInMemory);
    EXPECT_EQ(entries.front(), "5.nsv");
    EXPECT_EQ(entries.back(), std::to_string(kHistoryInMemory + 4) + ".nsv");
    EXPECT_EQ(history_entries(2).size(), 2u);
    EXPECT_FALSE(file_exists(dir_.file("as-run.jsonl")));
}

TEST_F(AsRunLogTest, AFailureIsLoggedOnceAndNeverStopsAnything) {
    as_run_log = dir_.file("missing/as-run.jsonl");
    record_on_air(record("a.nsv"));
    record_on_air(record("b.nsv"));
    const std::string expected =
        "Warning: could not write the as-run log " + as_run_log + ": No such file or directory\n";
    EXPECT_EQ(without_stamps(read_file(logfile)), expected);
    std::vector<nlohmann::ordered_json> records;
    EXPECT_EQ(read_history(10, records), "");  // nothing written yet

    // A FIFO without a reader fails at once rather than hanging the station.
    as_run_log = dir_.file("fifo");
    ASSERT_EQ(mkfifo(as_run_log.c_str(), 0600), 0);
    record_on_air(record("c.nsv"));
    EXPECT_NE(read_file(logfile).find("could not write the as-run log " + as_run_log),
              std::string::npos);
    EXPECT_NE(read_history(10, records).find("it is not a regular file"), std::string::npos);
}

}  // namespace
}  // namespace tarnel::test
