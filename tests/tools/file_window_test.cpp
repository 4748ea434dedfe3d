#include "tools/file_window.h"

#include <gtest/gtest.h>

#include "support/nsv_writer.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

// The walk over a file read through windows of any size finds exactly what the walk over the
// file's bytes in memory finds, whether frames are smaller or larger than the window.
TEST(FileWindowTest, WalkThroughWindowsEqualsTheWalkInMemory) {
    TempDir dir;
    struct Case {
        const char* name;
        NsvWriter writer;
    };
    Case cases[] = {{"small frames", {}}, {"large frames", {}}, {"cut", {}}, {"garbage", {}}};
    cases[0].writer.file_header("TITLE='a'", true, 300).frames(95, 0x81, 40, 8, 30);
    cases[1].writer.frames(10, 0x1E, 70000, 3000, 4);
    cases[2].writer.frames(12, 0x1E, 5000, 100).cut(2600);
    cases[3].writer.frames(3, 0x1E, 50, 0).raw("not a frame");
    for (const Case& c : cases) {
        const std::string path = c.writer.write(dir.file("clip.nsv"));
        const NsvSummary expected = inspect_nsv(c.writer.bytes());
        for (const size_t window :
             {size_t{1}, size_t{24}, size_t{4096}, FileWindow::kDefaultWindow}) {
            SCOPED_TRACE(std::string(c.name) + ", window " + std::to_string(window));
            FileWindow source(open_regular_file(path), window);
            EXPECT_EQ(source.size(), c.writer.size());
            const NsvSummary got = inspect_nsv(source);
            EXPECT_EQ(got.metadata, expected.metadata);
            EXPECT_EQ(got.frames, expected.frames);
            EXPECT_EQ(got.frame_bytes, expected.frame_bytes);
            EXPECT_EQ(got.peak_second_bytes, expected.peak_second_bytes);
            ASSERT_EQ(got.problems.size(), expected.problems.size());
            for (size_t i = 0; i < got.problems.size(); ++i) {
                EXPECT_EQ(got.problems[i].kind, expected.problems[i].kind);
                EXPECT_EQ(got.problems[i].offset, expected.problems[i].offset);
            }
        }
    }
}

TEST(FileWindowTest, ReadsStopAtTheEndOfTheFile) {
    TempDir dir;
    FileWindow source(open_regular_file(dir.write("f", "0123456789")), 4);
    EXPECT_EQ(source.read(2, 3), "234");
    EXPECT_EQ(source.read(8, 5), "89");
    EXPECT_EQ(source.read(10, 1), "");
    EXPECT_EQ(source.read(0, 10), "0123456789");  // larger than the window
    FileWindow missing(open_regular_file(dir.file("absent")));
    EXPECT_EQ(missing.size(), 0u);
    EXPECT_EQ(missing.read(0, 4), "");
}

}  // namespace
}  // namespace tarnel::test
