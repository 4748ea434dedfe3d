// Opening, the file header, GetFileInfo and the debug switch.

#include <cstring>

#include "nsv_test_util.h"
#include "support/console_capture.h"

namespace tarnel::test {
namespace {

using NsvHeaderTest = NsvTest;

TEST_F(NsvHeaderTest, OpenFailsForAMissingFileAndTheReaderStaysClosed) {
    NSVReader reader;
    EXPECT_FALSE(reader.Open(dir.file("missing.nsv")));
    EXPECT_FALSE(reader.IsOpen());
    std::string metadata = "keep";
    EXPECT_FALSE(reader.GetHeader(&metadata));
    EXPECT_EQ(metadata, "keep");
    EXPECT_EQ(get_second(reader).result, -1);
    char buffer[64];
    bool next = true;
    EXPECT_EQ(reader.GetData(buffer, 10, &next, "", 0, 0, 0, 0, 0, 0), -1);
}

TEST_F(NsvHeaderTest, OnlyRegularFilesOpen) {
    // A device never ends and a directory cannot be read: both count as unopenable.
    for (const std::string& path : {std::string("/dev/zero"), dir.path()}) {
        NSVReader reader;
        EXPECT_FALSE(reader.Open(path)) << path;
        EXPECT_FALSE(reader.IsOpen());
    }
}

TEST_F(NsvHeaderTest, NeverOpenedReaderIsDestroyedQuietly) {
    // Nothing to close, so nothing to say: not even with the debug switch on.
    ConsoleCapture capture;
    { NSVReader reader; }
    { NSVReader reader(true); }
    EXPECT_EQ(capture.text(), "");
}

TEST_F(NsvHeaderTest, FileStartingWithNsvsHasNoHeader) {
    NsvWriter w;
    w.frames(3, 0x1E, 10, 5);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    std::string metadata = "keep";
    EXPECT_FALSE(reader.GetHeader(&metadata));
    EXPECT_EQ(metadata, "keep");
    const SecondResult second = get_second(reader);
    EXPECT_EQ(second.result, 0);
    EXPECT_EQ(second.start, 0);
    EXPECT_EQ(second.length, static_cast<long>(w.size()));
    EXPECT_EQ(second.frames, 3);
}

TEST_F(NsvHeaderTest, FileShorterThanFourBytesHasNoHeader) {
    NsvWriter w;
    w.raw("NSV");
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    std::string metadata = "keep";
    EXPECT_FALSE(reader.GetHeader(&metadata));
    EXPECT_EQ(metadata, "keep");
    // The three bytes are read from offset 0 as a piece without a frame.
    const SecondResult second = get_second(reader);
    EXPECT_EQ(second.result, 0);
    EXPECT_EQ(second.start, 0);
    EXPECT_EQ(second.length, 3);
    EXPECT_EQ(second.frames, -7);
}

TEST_F(NsvHeaderTest, HeaderWithMetadataIsSkippedToTheHeaderSizeOffset) {
    NsvWriter w;
    w.file_header("TITLE='Clip' URL='http://x'", true, 40).frames(2, 0x1E, 10, 5);
    const size_t header_size = 28 + 27 + 1 + 40;
    ASSERT_EQ(w.frame_records()[0].offset, header_size);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    std::string metadata;
    EXPECT_TRUE(reader.GetHeader(&metadata));
    EXPECT_EQ(metadata, "TITLE='Clip' URL='http://x'");
    const SecondResult second = get_second(reader);
    EXPECT_EQ(second.result, 0);
    EXPECT_EQ(second.start, static_cast<long>(header_size));
    EXPECT_EQ(second.length, static_cast<long>(w.size() - header_size));
    EXPECT_EQ(second.frames, 2);
}

TEST_F(NsvHeaderTest, EmptyMetadata) {
    NsvWriter w;
    w.file_header("", true, 12).frames(1, 0x1E, 10, 5);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    std::string metadata = "keep";
    EXPECT_TRUE(reader.GetHeader(&metadata));
    EXPECT_EQ(metadata, "");
    EXPECT_EQ(get_second(reader).start, 28 + 1 + 12);
}

TEST_F(NsvHeaderTest, MetadataWithoutAZeroByteEndsWithTheHeader) {
    NsvWriter w;
    w.file_header("TITLE='Whole'", false).frames(1, 0x1E, 10, 5);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    std::string metadata;
    EXPECT_TRUE(reader.GetHeader(&metadata));
    EXPECT_EQ(metadata, "TITLE='Whole'");  // and not the "NSVs" behind it
    EXPECT_EQ(get_second(reader).start, 28 + 13);
}

TEST_F(NsvHeaderTest, HeaderOfExactly28BytesAndHeaderOnlyFile) {
    NsvWriter w;
    w.file_header_raw(28, "");
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    std::string metadata = "keep";
    EXPECT_TRUE(reader.GetHeader(&metadata));
    EXPECT_EQ(metadata, "");
    EXPECT_FALSE(reader.IsUnreadable());
    const SecondResult second = get_second(reader);
    EXPECT_EQ(second.result, -1);
    EXPECT_EQ(second.start, 28);
    EXPECT_EQ(second.length, 0);
}

TEST_F(NsvHeaderTest, HeaderSizeBelow28MakesTheFileUnreadable) {
    for (uint32_t size : {0u, 4u, 27u}) {
        NsvWriter w;
        w.file_header_raw(size, "TITLE='x'").frames(3, 0x1E, 10, 5);
        NSVReader reader;
        ASSERT_TRUE(reader.Open(write(w)));
        std::string metadata = "keep";
        EXPECT_TRUE(reader.GetHeader(&metadata)) << size;
        EXPECT_EQ(metadata, "") << size;
        EXPECT_TRUE(reader.IsUnreadable());
        const SecondResult second = get_second(reader);
        EXPECT_EQ(second.result, -1) << size;
        EXPECT_EQ(second.length, 0);
        EXPECT_EQ(get_second(reader).result, -1);
    }
}

TEST_F(NsvHeaderTest, HeaderSizeBeyondTheEndMakesTheFileUnreadable) {
    NsvWriter w;
    w.file_header_raw(0xFFFFFFF0u, std::string("TITLE='Far'\0", 12)).frames(3, 0x1E, 10, 5);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    std::string metadata;
    EXPECT_TRUE(reader.GetHeader(&metadata));
    EXPECT_EQ(metadata, "TITLE='Far'");
    EXPECT_TRUE(reader.IsUnreadable());
    EXPECT_EQ(get_second(reader).result, -1);

    // One byte beyond the end, with no zero byte: the metadata is what the file holds.
    NsvWriter cut;
    cut.file_header_raw(28 + 6, "abcde");
    NSVReader reader2;
    ASSERT_TRUE(reader2.Open(write(cut, "cut.nsv")));
    EXPECT_TRUE(reader2.GetHeader(&metadata));
    EXPECT_EQ(metadata, "abcde");
    EXPECT_TRUE(reader2.IsUnreadable());
    EXPECT_EQ(get_second(reader2).result, -1);
}

TEST_F(NsvHeaderTest, FileEndingInsideTheFixedHeaderIsUnreadable) {
    for (const std::string& bytes : {std::string("NSVf"), std::string("NSVf\x20\x00", 6),
                                     std::string("NSVf\x1C\x00\x00\x00\x01", 9)}) {
        NsvWriter w;
        w.raw(bytes);
        NSVReader reader;
        ASSERT_TRUE(reader.Open(write(w)));
        std::string metadata = "keep";
        EXPECT_TRUE(reader.GetHeader(&metadata));
        EXPECT_EQ(metadata, "");
        EXPECT_TRUE(reader.IsUnreadable());
        EXPECT_EQ(get_second(reader).result, -1);
    }
}

TEST_F(NsvHeaderTest, ModelAgreesOnHeaders) {
    std::vector<NsvWriter> files(5);
    files[0].frames(2, 0x1E, 10, 5);
    files[1].file_header("TITLE='a'", true, 3).frames(2, 0x1E, 10, 5);
    files[2].file_header("TITLE='b'", false).frames(2, 0x1E, 10, 5);
    files[3].file_header_raw(10, "x").frames(2, 0x1E, 10, 5);
    files[4].file_header_raw(1000, "TITLE='c'").frames(2, 0x1E, 10, 5);
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string path = write(files[i], "f" + std::to_string(i) + ".nsv");
        NsvProcessState state;
        const ExpectedFile expected = expected_stream(files[i].bytes(), {}, state);
        reset_nsv_state();
        const ExpectedFile actual = run_reader(path, {});
        EXPECT_EQ(actual.has_header, expected.has_header) << i;
        EXPECT_EQ(actual.metadata, expected.metadata) << i;
        EXPECT_EQ(actual.unreadable, expected.unreadable) << i;
        EXPECT_EQ(actual.wire(), expected.wire()) << i;
    }
}

TEST_F(NsvHeaderTest, FileInfoBeforeAnySyncFrameIsEmpty) {
    NsvWriter w;
    w.continuation_frame(10, 5).continuation_frame(10, 5);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    char video[16];
    char audio[16];
    std::memset(video, 'z', sizeof video);
    std::memset(audio, 'z', sizeof audio);
    int height = -1;
    int width = -1;
    reader.GetFileInfo(video, audio, &height, &width);
    EXPECT_STREQ(video, "");
    EXPECT_STREQ(audio, "");
    EXPECT_EQ(height, 0);
    EXPECT_EQ(width, 0);
    ASSERT_EQ(get_second(reader).result, 0);
    reader.GetFileInfo(video, audio, &height, &width);
    EXPECT_STREQ(video, "");
    EXPECT_EQ(height, 0);
}

TEST_F(NsvHeaderTest, FileInfoFollowsTheLatestSyncFrame) {
    SyncFields first;
    first.video_format = "VP62";
    first.audio_format = "MP3 ";
    first.width = 320;
    first.height = 240;
    first.rate_code = 2;
    SyncFields second_fields;
    second_fields.video_format = std::string("V\0P6", 4);
    second_fields.audio_format = "AACP";
    second_fields.width = -2;
    second_fields.height = 0x8000;
    second_fields.rate_code = 0x1E;  // ignored: the rate is already known
    NsvWriter w;
    w.sync_frame(10, 5, first).continuation_frame(10, 5);
    w.continuation_frame(10, 5).sync_frame(10, 5, second_fields);
    w.continuation_frame(10, 5).continuation_frame(10, 5);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    char video[5];
    char audio[5];
    int height = 0;
    int width = 0;

    ASSERT_EQ(get_second(reader).frames, 2);
    reader.GetFileInfo(video, audio, &height, &width);
    EXPECT_STREQ(video, "VP62");
    EXPECT_STREQ(audio, "MP3 ");
    EXPECT_EQ(height, 240);
    EXPECT_EQ(width, 320);

    const SecondResult second = get_second(reader);
    EXPECT_EQ(second.frames, 2);
    EXPECT_EQ(second.rate, 2.0);
    reader.GetFileInfo(video, audio, &height, &width);
    EXPECT_STREQ(video, "V");
    EXPECT_STREQ(audio, "AACP");
    EXPECT_EQ(height, -32768);
    EXPECT_EQ(width, -2);

    ASSERT_EQ(get_second(reader).frames, 2);  // no sync frame: the values stay
    reader.GetFileInfo(video, audio, &height, &width);
    EXPECT_STREQ(video, "V");
    EXPECT_EQ(width, -2);
}

TEST_F(NsvHeaderTest, DebugWritesOnlyWhenSwitchedOn) {
    ConsoleCapture capture;
    NSVReader quiet;
    quiet.Debug("hidden");
    NSVReader loud(true);
    loud.Debug("shown");
    loud.Debug("");
    EXPECT_EQ(capture.text(), "DEBUG: shown\nDEBUG: \n");
}

}  // namespace
}  // namespace tarnel::test
