// The reader's file access: the read ring of 64 KiB blocks (files larger than 256 KiB), frame
// prefixes and headers that straddle a block boundary, and files that grow or are cut short while
// they are read.

#include <filesystem>
#include <fstream>

#include "nsv_test_util.h"

namespace tarnel::test {
namespace {

using NsvReaderTest = NsvTest;

// The reader's block size for files larger than four blocks.
constexpr size_t kBlock = 64 * 1024;

// Plays path like the driver and compares every second with the model of bytes.
void expect_model(const std::string& path, const std::string& bytes,
                  const std::vector<SecondOffer>& offers, const std::string& label) {
    NsvProcessState state;
    const ExpectedFile expected = expected_stream(bytes, offers, state);
    const ExpectedFile actual = run_reader(path, offers);
    ASSERT_EQ(actual.seconds.size(), expected.seconds.size()) << label;
    for (size_t k = 0; k < actual.seconds.size(); ++k) {
        const ExpectedSecond& a = actual.seconds[k];
        const ExpectedSecond& e = expected.seconds[k];
        ASSERT_EQ(a.start, e.start) << label << " second " << k;
        ASSERT_EQ(a.length, e.length) << label << " second " << k;
        ASSERT_EQ(a.frames, e.frames) << label << " second " << k;
        ASSERT_EQ(a.video_format, e.video_format) << label << " second " << k;
        ASSERT_EQ(a.inserted, e.inserted) << label << " second " << k;
        ASSERT_TRUE(a.wire == e.wire) << label << " second " << k;
    }
}

// A subtitle in every second (display time 0), so a chunk goes into every second's last frame.
std::vector<SecondOffer> subtitle_every_second() {
    return same_offer(40, {"ring", {0, 1, 2, 3, 4, 5}, false});
}

// Frame number `frame` (1-based, in the first second of a 30 fps file) starts `before` bytes
// before the end of the first block, so its prefix or header straddles the boundary; 60 frames
// of 5,000 bytes follow, so the file is larger than the ring and has 64 KiB blocks.
NsvWriter straddling(int frame, bool sync, size_t before) {
    NsvWriter w;
    w.file_header("TITLE='straddle'");
    const size_t header_size = w.size();
    // Frame 1 (a sync frame: 19-byte prefix + 5-byte header) fills what frames 2 .. frame - 1
    // (7 + 1,000 bytes each) leave up to the boundary.
    const size_t others = static_cast<size_t>(frame - 2) * (7 + 1000);
    const int first_video = static_cast<int>(kBlock - before - header_size - others - 24);
    w.sync_frame(first_video, 0, 0x1E);
    for (int i = 2; i < frame; ++i) {
        w.continuation_frame(1000, 0);
    }
    if (sync) {
        w.sync_frame(3000, 100, 0x1E);
    } else {
        w.continuation_frame(3000, 100);
    }
    for (int i = 0; i < 60; ++i) {
        w.continuation_frame(5000, 0);
    }
    return w;
}

// Every position of a sync prefix (19 + 5 bytes) or continuation prefix (2 + 5 bytes) across the
// boundary of two ring blocks, for a frame inside a second and for the last frame of a second
// (the one that gets the chunk).
TEST_F(NsvReaderTest, FrameStartsAcrossABlockBoundaryMatchTheModel) {
    struct Case {
        const char* name;
        int frame;
        bool sync;
        size_t prefix_and_header;
    };
    const Case cases[] = {
        {"continuation frame inside the second", 2, false, 7},
        {"sync frame inside the second", 2, true, 24},
        {"continuation frame ending the second", 30, false, 7},
        {"sync frame ending the second", 30, true, 24},
    };
    for (const Case& c : cases) {
        for (size_t before = 1; before < c.prefix_and_header; ++before) {
            const NsvWriter w = straddling(c.frame, c.sync, before);
            ASSERT_EQ(w.frame_records()[static_cast<size_t>(c.frame - 1)].offset, kBlock - before);
            ASSERT_GT(w.size(), 4 * kBlock);
            const std::string label =
                std::string(c.name) + ", " + std::to_string(before) + " bytes before the boundary";
            expect_model(write(w), w.bytes(), subtitle_every_second(), label);
        }
    }
}

// Seconds within one block, across two to four blocks, and larger than the whole ring (GetData
// then reads the part the ring no longer holds from the file), with a file header before them.
TEST_F(NsvReaderTest, SecondsOfEverySizeAgainstTheRingMatchTheModel) {
    struct Case {
        const char* name;
        int video_length;  // per frame, 30 frames a second
        int seconds;
    };
    const Case cases[] = {
        {"a second within a block", 1500, 12},
        {"seconds across two or three blocks", 4000, 6},
        {"seconds across four or five blocks", 8000, 4},
        {"seconds larger than the ring", 20000, 3},
        {"frames larger than a block", 70000, 2},
    };
    for (const Case& c : cases) {
        NsvWriter w;
        w.file_header("TITLE='sizes'").frames(30 * c.seconds, 0x1E, c.video_length, 418, 30);
        ASSERT_GT(w.size(), 4 * kBlock) << c.name;
        expect_model(write(w), w.bytes(), subtitle_every_second(), c.name);
    }
}

// A file that has grown after a read met its end: the block cut short by the end is read again.
TEST_F(NsvReaderTest, FileThatGrowsAfterItsEndWasReadIsReadOn) {
    NsvWriter whole;
    whole.file_header("TITLE='grows'").frames(75, 0x1E, 1000, 50, 30);
    const size_t first_end = whole.frame_records()[30].offset;  // one second and the header
    const std::string path = dir.write("grows.nsv", whole.bytes().substr(0, first_end));

    NSVReader reader;
    ASSERT_TRUE(reader.Open(path));
    std::string metadata;
    ASSERT_TRUE(reader.GetHeader(&metadata));
    std::vector<char> buffer(200000);
    bool next_track = false;
    SecondResult s = get_second(reader);
    ASSERT_EQ(s.frames, 30);
    // The look-ahead meets the end of the file: the end marker goes in.
    ASSERT_EQ(reader.GetData(buffer.data(), s.length, &next_track, "", 0, 0, 0, 0, 0, 0),
              s.length + nsv::kEndMarkerChunkSize);
    EXPECT_EQ(get_second(reader).result, -1);

    std::ofstream(path, std::ios::binary | std::ios::app) << whole.bytes().substr(first_end);
    s = get_second(reader);
    ASSERT_EQ(s.result, 0);
    EXPECT_EQ(s.start, static_cast<long>(first_end));
    EXPECT_EQ(s.frames, 30);
    const size_t second_end = whole.frame_records()[60].offset;
    ASSERT_EQ(s.length, static_cast<long>(second_end - first_end));
    ASSERT_EQ(reader.GetData(buffer.data(), s.length, &next_track, "", 0, 0, 0, 0, 0, 0), s.length);
    EXPECT_TRUE(std::string(buffer.data(), static_cast<size_t>(s.length)) ==
                whole.bytes().substr(first_end, second_end - first_end));
    s = get_second(reader);
    EXPECT_EQ(s.frames, 15);
    EXPECT_EQ(s.start + s.length, static_cast<long>(whole.size()));
}

// A file cut short (as cp does when it overwrites it) after its second was scanned: GetData sends
// the bytes the file still holds from the second's start, up to the part the ring still holds,
// and writes nothing beyond the buffer; the file then ends.
TEST_F(NsvReaderTest, FileCutShortWhileASecondIsReadSendsWhatItStillHolds) {
    struct Case {
        const char* name;
        bool emptied;  // cut to 0 bytes, else to the second's start + kept
        size_t kept;   // bytes of the second the file still holds
    };
    const Case cases[] = {
        {"emptied", true, 0},
        {"cut at the second's start", false, 0},
        {"cut in the first frame", false, 1000},
        {"cut in the second block", false, kBlock + 5},
    };
    NsvWriter w;
    w.file_header("TITLE='cut'").frames(60, 0x1E, 20000, 418, 30);  // 30 x 20 KB a second
    for (const Case& c : cases) {
        const std::string path = write(w, "cut.nsv");
        NSVReader reader;
        ASSERT_TRUE(reader.Open(path));
        std::string metadata;
        ASSERT_TRUE(reader.GetHeader(&metadata));
        const SecondResult s = get_second(reader);
        ASSERT_EQ(s.frames, 30) << c.name;
        ASSERT_GT(s.length, static_cast<long>(4 * kBlock)) << c.name;
        const size_t start = static_cast<size_t>(s.start);
        std::filesystem::resize_file(path, c.emptied ? 0 : start + c.kept);

        const size_t size = static_cast<size_t>(s.length) + 4 + 31;
        std::string buffer(size + 64, '\xA5');
        bool next_track = false;
        const int sent =
            reader.GetData(buffer.data(), s.length, &next_track, "text", 0, 0, 0, 0, 0, 0);
        EXPECT_EQ(buffer.substr(size), std::string(64, '\xA5')) << c.name;
        ASSERT_EQ(sent, static_cast<int>(c.kept)) << c.name;
        EXPECT_TRUE(buffer.substr(0, c.kept) == w.bytes().substr(start, c.kept)) << c.name;
        EXPECT_EQ(get_second(reader).result, -1) << c.name;
    }
}

}  // namespace
}  // namespace tarnel::test
