#include "config/stdio_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "support/loopback_listener.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A directory with one file of each kind that a path can name.
class FileKindsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        regular_ = dir_.write("regular", "line\n");
        fifo_ = dir_.file("fifo");
        ASSERT_EQ(mkfifo(fifo_.c_str(), 0600), 0);
        directory_ = dir_.file("directory");
        ASSERT_EQ(mkdir(directory_.c_str(), 0700), 0);
        socket_path_ = dir_.file("socket");
        socket_ = Descriptor(::socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket_path_.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(
            ::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }

    TempDir dir_;
    std::string regular_;
    std::string fifo_;
    std::string directory_;
    std::string socket_path_;
    Descriptor socket_;
};

// A FIFO that no one writes blocked open() for ever: the program hung before its first second.
TEST_F(FileKindsTest, OnlyARegularFileIsOpenedAndNothingBlocks) {
    struct Case {
        const char* name;
        std::string path;
        int error;  // 0: opened
    };
    const std::vector<Case> cases = {
        {"regular file", regular_, 0},
        {"FIFO without a writer", fifo_, EINVAL},
        {"directory", directory_, EISDIR},
        {"socket", socket_path_, ENXIO},  // a socket cannot be opened at all
        {"character device", "/dev/null", EINVAL},
        {"missing", dir_.file("missing"), ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto start = Clock::now();
        errno = 0;
        const StdioFile file = open_regular_file(c.path);
        EXPECT_LT(Clock::now() - start, milliseconds(2000));
        EXPECT_EQ(file != nullptr, c.error == 0);
        if (c.error != 0) {
            EXPECT_EQ(errno, c.error) << std::strerror(errno);
        }
    }
    // The regular file reads as usual: blocking is back on.
    const StdioFile file = open_regular_file(regular_);
    ASSERT_TRUE(file);
    EXPECT_EQ(fcntl(fileno(file.get()), F_GETFL) & O_NONBLOCK, 0);
    char line[16] = {};
    EXPECT_NE(std::fgets(line, sizeof line, file.get()), nullptr);
    EXPECT_STREQ(line, "line\n");
}

TEST_F(FileKindsTest, TheLogFileIsARegularFileAndNeverALink) {
    const std::string log = dir_.file("tarnel.log");
    {
        const StdioFile file = open_log_file(log);  // created
        ASSERT_TRUE(file);
        std::fputs("one\n", file.get());
    }
    {
        const StdioFile file = open_log_file(log);  // appended
        ASSERT_TRUE(file);
        std::fputs("two\n", file.get());
    }
    EXPECT_EQ(read_file(log), "one\ntwo\n");
    EXPECT_TRUE(open_log_file(log, true));  // emptied
    EXPECT_EQ(read_file(log), "");

    // A link planted at the log's path: neither appended to nor emptied.
    const std::string link = dir_.file("planted.log");
    ASSERT_EQ(symlink(regular_.c_str(), link.c_str()), 0);
    for (const bool truncate : {false, true}) {
        errno = 0;
        EXPECT_FALSE(open_log_file(link, truncate));
        EXPECT_EQ(errno, ELOOP);
    }
    EXPECT_EQ(read_file(regular_), "line\n");

    const auto start = Clock::now();
    EXPECT_FALSE(open_log_file(fifo_));  // no reader: refused at once, not waited for
    EXPECT_FALSE(open_log_file(directory_));
    EXPECT_LT(Clock::now() - start, milliseconds(2000));
}

TEST_F(FileKindsTest, AUniqueFileNeverTakesANameThatExists) {
    std::string first;
    std::string second;
    {
        const StdioFile a = create_unique_file(dir_.file("status.json.tmp."), first);
        const StdioFile b = create_unique_file(dir_.file("status.json.tmp."), second);
        ASSERT_TRUE(a && b);
        std::fputs("a", a.get());
    }
    EXPECT_NE(first, second);
    EXPECT_EQ(first.substr(0, first.size() - 6), dir_.file("status.json.tmp."));
    EXPECT_EQ(read_file(first), "a");
    // The mode is the one fopen gives: 0666 less the umask.
    const mode_t mask = umask(0);
    umask(mask);
    struct stat info {};
    ASSERT_EQ(stat(first.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);

    std::string name = "unchanged";
    EXPECT_FALSE(create_unique_file(dir_.file("missing/x."), name));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(name, "unchanged");
}

}  // namespace
}  // namespace tarnel::test
