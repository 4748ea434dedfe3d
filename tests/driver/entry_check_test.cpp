#include "driver/entry_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/nsv_writer.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

TEST(StartsAsNsvTest, TakesAFileHeaderOrASyncFrame) {
    EXPECT_TRUE(starts_as_nsv("NSVf...."));
    EXPECT_TRUE(starts_as_nsv("NSVs"));
    EXPECT_FALSE(starts_as_nsv("NSV"));
    EXPECT_FALSE(starts_as_nsv("nsvs"));
    EXPECT_FALSE(starts_as_nsv(std::string("\xef\xbe", 2) + "NSVs"));  // continuation first
    EXPECT_FALSE(starts_as_nsv("RIFF...."));
}

TEST(EntryProblemTest, ANsvFileIsTakenByFullAndRelativePath) {
    const TempDir dir;
    NsvWriter with_header;
    with_header.file_header("TITLE='A'").frames(3, 0x1E, 10, 2);
    NsvWriter bare;
    bare.frames(3, 0x1E, 10, 2);
    EXPECT_EQ(entry_problem(with_header.write(dir.file("a.nsv"))), "");
    const ScopedChdir inside(dir.path());
    EXPECT_EQ(entry_problem(bare.write("b.nsv")), "");
}

TEST(EntryProblemTest, SaysWhyAnythingElseIsRefused) {
    const TempDir dir;
    const ScopedChdir inside(dir.path());
    dir.write("text.nsv", "#Mode=basic\n");
    dir.write("short.nsv", "NS");
    dir.write("empty.nsv", "");
    ASSERT_EQ(mkdir("folder.nsv", 0755), 0);
    ASSERT_EQ(mkfifo("fifo.nsv", 0644), 0);  // opened by nobody: a blocking open would hang
    const std::pair<std::string, std::string> cases[] = {
        {"", "no entry given"},
        {std::string("a\0b", 3), "the entry holds a NUL byte"},
        {"missing.nsv", "missing.nsv cannot be opened: No such file or directory"},
        {"folder.nsv", "folder.nsv is not a regular file"},
        {"fifo.nsv", "fifo.nsv is not a regular file"},
        {"/dev/zero", "/dev/zero is not a regular file"},
        {"text.nsv", "text.nsv is not an NSV file: it does not start with NSVf or NSVs"},
        {"short.nsv", "short.nsv is not an NSV file: it does not start with NSVf or NSVs"},
        {"empty.nsv", "empty.nsv is not an NSV file: it does not start with NSVf or NSVs"},
    };
    for (const auto& [entry, problem] : cases) {
        EXPECT_EQ(entry_problem(entry), problem) << entry;
    }
    if (geteuid() != 0) {
        NsvWriter locked;
        locked.frames(3, 0x1E, 10, 2).write(dir.file("locked.nsv"));
        chmod("locked.nsv", 0);
        EXPECT_EQ(entry_problem("locked.nsv"), "locked.nsv cannot be opened: Permission denied");
    }
}

}  // namespace
}  // namespace tarnel::test
