#include "tools/nsv_check.h"

#include <gtest/gtest.h>

#include "nsv_test_bytes.h"

namespace tarnel::test {
namespace {

using namespace std::string_literals;

const std::string kMeta = std::string("TITLE=\"Clip\" URL=\"x\"") + '\0';

TEST(NsvInspectTest, CleanFileWithHeader) {
    const std::string bytes = file_header(kMeta) + sync_frame("vid", "aud", 0x81, 320, 240) +
                              continuation_frame("v2", "") + continuation_frame("", "a3");
    const NsvSummary summary = inspect_nsv(bytes);
    EXPECT_TRUE(summary.problems.empty());
    EXPECT_TRUE(summary.has_file_header);
    EXPECT_EQ(summary.metadata, "TITLE=\"Clip\" URL=\"x\"");
    EXPECT_EQ(summary.video_format, "VP80");
    EXPECT_EQ(summary.audio_format, "MP3 ");
    EXPECT_EQ(summary.width, 320);
    EXPECT_EQ(summary.height, 240);
    EXPECT_EQ(summary.frame_rate_code, 0x81);
    ASSERT_TRUE(summary.frame_rate.has_value());
    EXPECT_NEAR(*summary.frame_rate, 29.97, 0.001);
    EXPECT_EQ(summary.frames, 3u);
    EXPECT_EQ(summary.sync_frames, 1u);
}

TEST(NsvInspectTest, FileWithoutHeaderStartsAtOffsetZero) {
    const NsvSummary summary = inspect_nsv(sync_frame("v", "a") + continuation_frame("v", ""));
    EXPECT_TRUE(summary.problems.empty());
    EXPECT_FALSE(summary.has_file_header);
    EXPECT_EQ(summary.frames, 2u);
}

TEST(NsvInspectTest, FirstFrameIsAtTheHeaderSizeWhateverTheMetadata) {
    // Zero byte early, then further header data that must be skipped, not read as frames.
    const std::string area = std::string("TITLE=\"a\"") + '\0' + "junk";
    const NsvSummary summary = inspect_nsv(file_header(area) + sync_frame("v", ""));
    EXPECT_TRUE(summary.problems.empty());
    EXPECT_EQ(summary.metadata, "TITLE=\"a\"");
    EXPECT_EQ(summary.frames, 1u);
}

TEST(NsvInspectTest, MetadataWithoutZeroByteIsTheWholeArea) {
    const NsvSummary summary = inspect_nsv(file_header("TITLE=\"abc\"") + "NSVs");
    EXPECT_EQ(summary.metadata, "TITLE=\"abc\"");  // and not the "NSVs" after the header
}

// A header may claim gigabytes of metadata: at most 1 MiB of it is kept, and the walk goes on
// after the whole header.
TEST(NsvInspectTest, MetadataIsKeptUpTo1MiB) {
    const std::string area = "TITLE=\"x\" " + std::string(3 * 1024 * 1024, 'm');
    const NsvSummary summary = inspect_nsv(file_header(area) + sync_frame("v", ""));
    EXPECT_EQ(summary.metadata.size(), 1024u * 1024u);
    EXPECT_EQ(summary.metadata.substr(0, 10), "TITLE=\"x\" ");
    EXPECT_TRUE(summary.metadata_cut);
    EXPECT_EQ(summary.frames, 1u);
    EXPECT_NE(describe_nsv("big.nsv", summary).find(" (cut: only its first 1 MiB is shown)\n"),
              std::string::npos);
    EXPECT_FALSE(inspect_nsv(file_header("TITLE=\"abc\"") + "NSVs").metadata_cut);
}

TEST(NsvInspectTest, LengthsFromTheFrameHeader) {
    // 30 01 00 40 01: video 19, audio 320, payload 339; a 0/0 continuation frame is 7 bytes.
    const std::string frame = "\xEF\xBE\x30\x01\x00\x40\x01"s + std::string(339, 'p');
    const std::string empty = "\xEF\xBE" + std::string(5, '\0');
    const NsvSummary summary = inspect_nsv(sync_frame("", "") + frame + empty + empty);
    EXPECT_TRUE(summary.problems.empty());
    EXPECT_EQ(summary.frames, 4u);
}

TEST(NsvInspectTest, NegativePictureSizeIsPassedOn) {
    const NsvSummary summary = inspect_nsv(sync_frame("", "", 30, 0xFFFF, 0x8000));
    EXPECT_EQ(summary.width, -1);
    EXPECT_EQ(summary.height, -32768);
}

TEST(NsvInspectTest, SyncFieldsComeFromTheFirstSyncFrame) {
    const std::string second =
        "NSVsVP62PCM " + le16(8) + le16(8) + "\x19" + std::string(2, '\0') + frame_header(0, 0);
    const NsvSummary summary = inspect_nsv(sync_frame("", "", 30, 16, 16) + second);
    EXPECT_EQ(summary.video_format, "VP80");
    EXPECT_EQ(summary.width, 16);
    EXPECT_EQ(summary.frame_rate_code, 30);
    EXPECT_EQ(summary.sync_frames, 2u);
}

// Each problem kind with where it is reported and how many frames were complete before it.
TEST(NsvInspectTest, ProblemsAreFoundAndLocated) {
    const std::string good = sync_frame("video", "audio");  // 19 + 5 + 10 = 34 bytes
    struct Case {
        const char* name;
        std::string bytes;
        NsvProblemKind kind;
        uint64_t offset;
        uint64_t frames;
        const char* detail_part;
    };
    const Case cases[] = {
        {"header size below 28", file_header("", 27) + good, NsvProblemKind::kBadHeaderSize, 0, 0,
         "below 28"},
        {"header size zero", file_header("", 0), NsvProblemKind::kBadHeaderSize, 0, 0, "below 28"},
        {"header size past the end", file_header("abc", 100), NsvProblemKind::kBadHeaderSize, 0, 0,
         "beyond the end"},
        {"header size field cut", std::string("NSVf\x1C\x00", 6), NsvProblemKind::kBadHeaderSize, 0,
         0, "header size field"},
        {"unrecognised start", good + "XXXXXXXX" + good, NsvProblemKind::kUnrecognisedFrameStart,
         34, 1, "neither"},
        {"unrecognised start at header end", file_header("m") + "NSVx" + good,
         NsvProblemKind::kUnrecognisedFrameStart, 29, 0, "neither"},
        {"single stray byte", good + "N" + "x", NsvProblemKind::kUnrecognisedFrameStart, 34, 1,
         "neither"},
        {"cut in sync marker", good + "NSV", NsvProblemKind::kTruncatedFrame, 34, 1,
         "frame marker"},
        {"cut in continuation marker", good + "\xEF", NsvProblemKind::kTruncatedFrame, 34, 1,
         "frame marker"},
        {"cut in sync prefix", good + good.substr(0, 10), NsvProblemKind::kTruncatedFrame, 34, 1,
         "sync frame prefix"},
        {"cut in sync frame header", good + good.substr(0, 21), NsvProblemKind::kTruncatedFrame, 34,
         1, "frame header"},
        {"cut in continuation header", good + "\xEF\xBE\x00\x00"s, NsvProblemKind::kTruncatedFrame,
         34, 1, "frame header"},
        {"cut in payload", good + continuation_frame("1234567890", "").substr(0, 10),
         NsvProblemKind::kTruncatedFrame, 34, 1, "10 bytes announced, 3 left"},
        {"largest lengths, cut", good + "\xEF\xBE\xF0\xFF\xFF\xFF\xFF" + "tiny",
         NsvProblemKind::kTruncatedFrame, 34, 1, "1114110 bytes announced"},
        {"rate code 0", sync_frame("v", "", 0x00), NsvProblemKind::kUnsetFrameRate, 0, 1, "code 0"},
        {"rate code 0x84", file_header("") + sync_frame("v", "", 0x84),
         NsvProblemKind::kUnsetFrameRate, 28, 1, "code 132"},
        {"bad rate in a later sync frame", good + sync_frame("v", "", 0x90),
         NsvProblemKind::kUnsetFrameRate, 34, 2, "code 144"},
        {"empty file", "", NsvProblemKind::kNoFrames, 0, 0, "no complete frame"},
        {"header only", file_header("TITLE=\"x\""), NsvProblemKind::kNoFrames, 37, 0,
         "no complete frame"},
        {"no sync frame", continuation_frame("v", "a") + continuation_frame("v", ""),
         NsvProblemKind::kNoSyncFrame, 0, 2, "no sync frame"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NsvSummary summary = inspect_nsv(c.bytes);
        ASSERT_FALSE(summary.problems.empty());
        const NsvProblem& problem = summary.problems.front();
        EXPECT_EQ(problem.kind, c.kind);
        EXPECT_EQ(problem.offset, c.offset);
        EXPECT_EQ(summary.frames, c.frames);
        EXPECT_NE(problem.detail.find(c.detail_part), std::string::npos) << problem.detail;
    }
}

TEST(NsvInspectTest, UnsetRateIsReportedOnceAndRateStaysUnset) {
    const NsvSummary summary = inspect_nsv(sync_frame("v", "", 0x84) + sync_frame("v", "", 0x84));
    ASSERT_EQ(summary.problems.size(), 1u);
    EXPECT_FALSE(summary.frame_rate.has_value());
    EXPECT_EQ(summary.frames, 2u);
}

TEST(NsvInspectTest, WalkStopsAtTheFirstBadStartAndNeverLoops) {
    // A valid-looking frame after garbage is not searched for.
    const NsvSummary summary = inspect_nsv(sync_frame("v", "") + "garbage" + sync_frame("v", ""));
    EXPECT_EQ(summary.frames, 1u);
    ASSERT_EQ(summary.problems.size(), 1u);
    EXPECT_EQ(summary.problems[0].kind, NsvProblemKind::kUnrecognisedFrameStart);
}

// Seconds as the streaming reader sends them: ceil(rate) frames each, counted from the first rate.
TEST(NsvInspectTest, SecondsAsTheReaderSendsThem) {
    const std::string big = continuation_frame(std::string(93, 'v'), "");  // 100 bytes
    const std::string small = continuation_frame("v", "");                 // 8 bytes
    struct Case {
        const char* name;
        std::string bytes;
        double rate;
        uint64_t seconds;
        uint64_t peak;
        uint64_t total;
    };
    const std::string rate3 = sync_frame("", "", 3);  // 24 bytes
    const Case cases[] = {
        // 3 frames a second: [sync, big, big] [small, small, big] [small].
        {"three a second", rate3 + big + big + small + small + big + small, 3.0, 3, 224, 348},
        // 29.97 frames a second: 30 frames a second.
        {"ntsc", sync_frame("", "", 0x81) + std::string(), 30000.0 / 1001, 1, 24, 24},
        // The frames before the first rate all go into the first second.
        {"rate from the second sync frame",
         sync_frame("", "", 0x84) + big + big + rate3 + big + big + big, 3.0, 2, 300, 548},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NsvSummary summary = inspect_nsv(c.bytes);
        ASSERT_TRUE(summary.stream_frame_rate.has_value());
        EXPECT_NEAR(*summary.stream_frame_rate, c.rate, 1e-9);
        EXPECT_EQ(summary.seconds_sent, c.seconds);
        EXPECT_EQ(summary.peak_second_bytes, c.peak);
        EXPECT_EQ(summary.frame_bytes, c.total);
    }
    const NsvSummary unset = inspect_nsv(sync_frame("", "", 0) + big);
    EXPECT_FALSE(unset.stream_frame_rate.has_value());
    EXPECT_EQ(unset.seconds_sent, 1u);  // all at once
}

}  // namespace
}  // namespace tarnel::test
