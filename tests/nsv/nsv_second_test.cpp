// Scanning one second of frames.

#include <sstream>
#include <vector>

#include "nsv_test_util.h"
#include "support/console_capture.h"

namespace tarnel::test {
namespace {

using NsvSecondTest = NsvTest;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The trace lines of frame n of a call: from its "FRAME: n/..." line up to the next frame's.
std::vector<std::string> frame_trace(const std::string& text, int n) {
    const std::vector<std::string> lines = lines_of(text);
    std::vector<std::string> out;
    const std::string head = "DEBUG: FRAME: " + std::to_string(n) + "/";
    bool in = false;
    for (const std::string& line : lines) {
        if (line.rfind("DEBUG: FRAME: ", 0) == 0) {
            in = line.rfind(head, 0) == 0;
        }
        if (in) {
            out.push_back(line);
        }
    }
    return out;
}

TEST_F(NsvSecondTest, SecondsOf30_30_15FramesThenTheEnd) {
    NsvWriter w;
    w.frames(75, 0x1E, 100, 20, 10);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    std::string metadata;
    ASSERT_FALSE(reader.GetHeader(&metadata));
    const auto& frames = w.frame_records();

    SecondResult s = get_second(reader);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.start, 0);
    EXPECT_EQ(s.length, static_cast<long>(frames[30].offset));
    EXPECT_EQ(s.frames, 30);
    EXPECT_EQ(s.rate, 30.0);

    s = get_second(reader);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.start, static_cast<long>(frames[30].offset));
    EXPECT_EQ(s.length, static_cast<long>(frames[60].offset - frames[30].offset));
    EXPECT_EQ(s.frames, 30);

    s = get_second(reader);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.start, static_cast<long>(frames[60].offset));
    EXPECT_EQ(s.length, static_cast<long>(w.size() - frames[60].offset));
    EXPECT_EQ(s.frames, 15);

    s = get_second(reader);
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.start, static_cast<long>(w.size()));
    EXPECT_EQ(s.length, 0);
    EXPECT_EQ(s.frames, -7);
    EXPECT_EQ(s.rate, 30.0);
}

TEST_F(NsvSecondTest, ExactMultipleOfTheRate) {
    NsvWriter w;
    w.frames(60, 0x1E, 50, 10);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    SecondResult s = get_second(reader);
    EXPECT_EQ(s.frames, 30);
    s = get_second(reader);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.frames, 30);
    EXPECT_EQ(s.start + s.length, static_cast<long>(w.size()));
    s = get_second(reader);
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.length, 0);
    EXPECT_EQ(s.start, static_cast<long>(w.size()));
}

TEST_F(NsvSecondTest, FractionalRatesGiveTheCeilingInFrames) {
    const std::vector<std::pair<unsigned char, int>> cases = {{0x81, 30}, {0x83, 24}, {0x85, 15},
                                                              {0xC5, 60}, {0xC7, 48}, {0x05, 5}};
    for (const auto& [code, per_second] : cases) {
        NsvWriter w;
        w.frames(per_second * 2 + 1, code, 8, 2);
        NSVReader reader;
        ASSERT_TRUE(reader.Open(write(w)));
        EXPECT_EQ(get_second(reader).frames, per_second) << int(code);
        EXPECT_EQ(get_second(reader).frames, per_second) << int(code);
        EXPECT_EQ(get_second(reader).frames, 1) << int(code);
        EXPECT_EQ(get_second(reader).result, -1) << int(code);
    }
}

TEST_F(NsvSecondTest, UnusableRateGivesTheWholeRestInOnePiece) {
    for (int code_value : {0x00, 0x84, 0x80, 0xFF}) {
        const auto code = static_cast<unsigned char>(code_value);
        NsvWriter w;
        w.file_header("TITLE='x'").frames(200, code, 30, 10, 20);
        NSVReader reader;
        ASSERT_TRUE(reader.Open(write(w)));
        std::string metadata;
        ASSERT_TRUE(reader.GetHeader(&metadata));
        SecondResult s = get_second(reader);
        EXPECT_EQ(s.result, 0);
        EXPECT_EQ(s.start, static_cast<long>(w.frame_records()[0].offset));
        EXPECT_EQ(s.start + s.length, static_cast<long>(w.size()));
        EXPECT_EQ(s.frames, 200);
        EXPECT_EQ(s.rate, 0.0);
        EXPECT_EQ(get_second(reader).result, -1);
    }
}

TEST_F(NsvSecondTest, RateFromALaterSyncFrameAppliesFromThere) {
    NsvWriter w;
    w.sync_frame(10, 0, 0x00).continuation_frame(10, 0).sync_frame(10, 0, 0x02);
    w.sync_frame(10, 0, 0x05);  // the rate is fixed now: stays 2
    w.continuation_frame(10, 0).continuation_frame(10, 0).continuation_frame(10, 0);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    SecondResult s = get_second(reader);
    // n=1,2,3 scanned while the rate was 0 (the third sets it); n=4 > 2 stops.
    EXPECT_EQ(s.frames, 3);
    EXPECT_EQ(s.rate, 2.0);
    EXPECT_EQ(get_second(reader).frames, 2);
    EXPECT_EQ(get_second(reader).frames, 2);
    EXPECT_EQ(get_second(reader).result, -1);
}

TEST_F(NsvSecondTest, SyncFrameInTheMiddleDoesNotEndTheSecond) {
    NsvWriter w;
    w.frames(12, 0x04, 20, 4, 3);  // sync frames at 0, 3, 6, 9
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    for (int i = 0; i < 3; ++i) {
        const SecondResult s = get_second(reader);
        EXPECT_EQ(s.frames, 4);
        EXPECT_EQ(s.start, static_cast<long>(w.frame_records()[i * 4].offset));
    }
    EXPECT_EQ(get_second(reader).result, -1);
}

TEST_F(NsvSecondTest, FrameLimit) {
    NsvWriter w;
    w.frames(10, 0x00, 20, 4);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    EXPECT_EQ(get_second(reader, 4).frames, 4);
    EXPECT_EQ(get_second(reader, 4).frames, 4);
    EXPECT_EQ(get_second(reader, 4).frames, 2);
    EXPECT_EQ(get_second(reader, 4).result, -1);
}

TEST_F(NsvSecondTest, EmptyContinuationFrameIsSevenBytes) {
    NsvWriter w;
    w.sync_frame(3, 3, 0x02).continuation_frame(0, 0).continuation_frame(0, 0);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    SecondResult s = get_second(reader);
    EXPECT_EQ(s.length, 24 + 6 + 7);
    s = get_second(reader);
    EXPECT_EQ(s.length, 7);
    EXPECT_EQ(s.frames, 1);
    EXPECT_EQ(reader.FrameSize(), 0);
}

TEST_F(NsvSecondTest, StrayBytesBelongToThePieceInWhichTheEndIsMet) {
    for (size_t stray = 1; stray <= 3; ++stray) {
        NsvWriter w;
        w.frames(45, 0x1E, 40, 8).raw(std::string(stray, 'N'));
        NSVReader reader;
        ASSERT_TRUE(reader.Open(write(w)));
        EXPECT_EQ(get_second(reader).frames, 30);
        const SecondResult s = get_second(reader);
        EXPECT_EQ(s.result, 0);
        EXPECT_EQ(s.frames, 15);
        EXPECT_EQ(s.start + s.length, static_cast<long>(w.size())) << stray;
        EXPECT_EQ(get_second(reader).result, -1);
    }
}

TEST_F(NsvSecondTest, StrayBytesAfterAnExactSecondFormAPieceOfTheirOwn) {
    for (size_t stray = 1; stray <= 3; ++stray) {
        NsvWriter w;
        w.frames(30, 0x1E, 40, 8).raw(std::string(stray, '\x01'));
        NSVReader reader;
        ASSERT_TRUE(reader.Open(write(w)));
        SecondResult s = get_second(reader);
        EXPECT_EQ(s.frames, 30);
        s = get_second(reader, 0, 30);
        EXPECT_EQ(s.result, 0);
        EXPECT_EQ(s.length, static_cast<long>(stray));
        EXPECT_EQ(s.frames, 30);  // unchanged: no frame in this piece
        EXPECT_EQ(get_second(reader).result, -1);
    }
}

TEST_F(NsvSecondTest, LastFrameCutShortCountsItsDeclaredPayload) {
    NsvWriter w;
    w.frames(5, 0x1E, 100, 20).cut(50);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    const SecondResult s = get_second(reader);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.frames, 5);
    EXPECT_EQ(s.length, static_cast<long>(w.size() + 50));
    EXPECT_EQ(get_second(reader).result, -1);
}

TEST_F(NsvSecondTest, UnrecognisedFrameStartAdvancesByTheLastKnownPayload) {
    NsvWriter w;
    w.sync_frame(30, 10, 0x00).continuation_frame(30, 10);
    w.raw(std::string(80, 'G'));  // taken as two "frames" of 40 bytes
    w.continuation_frame(30, 10);
    NSVReader reader(true);
    ConsoleCapture capture;
    ASSERT_TRUE(reader.Open(write(w)));
    const SecondResult s = get_second(reader);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.start + s.length, static_cast<long>(w.size()));
    // sync, continuation, garbage (40 bytes), garbage (40 bytes), continuation.
    EXPECT_EQ(s.frames, 5);
    EXPECT_EQ(reader.VideoSize(), 30);
    const std::vector<std::string> third = frame_trace(capture.text(), 3);
    EXPECT_EQ(third, (std::vector<std::string>{"DEBUG: FRAME: 3/0.00",
                                               "DEBUG: Chunk Continuation found", "DEBUG: 4747",
                                               "DEBUG: VIDEO SIZE: 30", "DEBUG: AUDIO SIZE: 10"}));
}

TEST_F(NsvSecondTest, LastKnownLengthsCarryOverToTheNextReader) {
    NsvWriter first;
    first.frames(2, 0x1E, 12, 3);
    NSVReader reader1;
    ASSERT_TRUE(reader1.Open(write(first, "first.nsv")));
    ASSERT_EQ(get_second(reader1).result, 0);
    EXPECT_EQ(hex_video_sz, 12);
    EXPECT_EQ(hex_audio_sz, 3);

    NsvWriter second;
    second.raw(std::string(45, 'x'));
    NSVReader reader2;
    ASSERT_TRUE(reader2.Open(write(second, "second.nsv")));
    const SecondResult s = get_second(reader2);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.frames, 3);  // 15 bytes each
    EXPECT_EQ(s.length, 45);
    EXPECT_EQ(reader2.VideoSize(), 12);
    EXPECT_EQ(reader2.AudioSize(), 3);
}

TEST_F(NsvSecondTest, FallbackWithoutAKnownLengthEndsTheFileThere) {
    // The very first frame start of the process is unrecognised, no rate, no limit.
    NsvWriter w;
    w.raw("garbage that is no frame at all").frames(3, 0x1E, 10, 5);
    NSVReader reader(true);
    ConsoleCapture capture;
    ASSERT_TRUE(reader.Open(write(w)));
    SecondResult s = get_second(reader);
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.length, 0);
    EXPECT_EQ(s.frames, -7);
    EXPECT_EQ(get_second(reader).result, -1);
    EXPECT_NE(capture.text().find("DEBUG: VIDEO SIZE: 0\nDEBUG: AUDIO SIZE: 0\n"
                                  "DEBUG: Finished Processing File\n"),
              std::string::npos);
}

TEST_F(NsvSecondTest, FallbackWithoutAKnownLengthEndsTheSecondAfterEarlierFrames) {
    // Frames of length 0 make the last known payload 0; garbage follows.
    NsvWriter w;
    w.sync_frame(0, 0, 0x00).continuation_frame(0, 0).raw("XYZW....").frames(2, 0x1E, 10, 5);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    SecondResult s = get_second(reader);
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.frames, 2);
    EXPECT_EQ(s.length, 24 + 7);
    s = get_second(reader);
    EXPECT_EQ(s.result, -1);
    EXPECT_EQ(s.length, 0);
}

TEST_F(NsvSecondTest, TraceOfTheSeventhFrameAt2997) {
    NsvWriter w;
    w.frames(10, 0x81, 0x123, 0x45);
    NSVReader reader(true);
    ConsoleCapture capture;
    ASSERT_TRUE(reader.Open(write(w)));
    ASSERT_EQ(get_second(reader).frames, 10);
    EXPECT_EQ(frame_trace(capture.text(), 7),
              (std::vector<std::string>{"DEBUG: FRAME: 7/29.97", "DEBUG: Chunk Continuation found",
                                        "DEBUG: BEEF", "DEBUG: RAW FRAME HEADER: 3012004500",
                                        "DEBUG: VIDEO SIZE: 291", "DEBUG: AUDIO SIZE: 69"}));
}

TEST_F(NsvSecondTest, TraceOfASyncFrameAndTheRateShownPerFrame) {
    SyncFields fields;
    fields.video_format = "VP62";
    fields.audio_format = "MP3 ";
    fields.width = 352;
    fields.height = 288;
    fields.rate_code = 0x1E;
    NsvWriter w;
    w.sync_frame(19, 320, fields).continuation_frame(1, 2);
    NSVReader reader(true);
    ConsoleCapture capture;
    ASSERT_TRUE(reader.Open(write(w)));
    std::string metadata;
    reader.GetHeader(&metadata);
    ASSERT_EQ(get_second(reader).result, 0);
    EXPECT_EQ(capture.text(),
              "DEBUG: FRAME: 1/0.00\n"
              "DEBUG: NSVs HEADER FOUND\n"
              "DEBUG: NSV VIDEO: VP62\n"
              "DEBUG: NSV AUDIO: MP3 \n"
              "DEBUG: HEIGHT: 288\n"
              "DEBUG: WIDTH: 352\n"
              "DEBUG: RAW FRAME HEADER: 3001004001\n"
              "DEBUG: VIDEO SIZE: 19\n"
              "DEBUG: AUDIO SIZE: 320\n"
              "DEBUG: FRAME: 2/30.00\n"
              "DEBUG: Chunk Continuation found\n"
              "DEBUG: BEEF\n"
              "DEBUG: RAW FRAME HEADER: 1000000200\n"
              "DEBUG: VIDEO SIZE: 1\n"
              "DEBUG: AUDIO SIZE: 2\n"
              "DEBUG: FRAME: 3/30.00\n"
              "DEBUG: Finished Processing File\n");
}

TEST_F(NsvSecondTest, NoTraceWithTheDebugSwitchOff) {
    NsvWriter w;
    w.frames(40, 0x1E, 10, 2).raw("QQQQQQQQ");
    ConsoleCapture capture;
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    while (true) {
        const SecondResult s = get_second(reader);
        if (s.result != 0) {
            break;
        }
        std::string buffer(static_cast<size_t>(s.length) + 40, '\0');
        bool next = false;
        reader.GetData(buffer.data(), s.length, &next, "sub", 30, 1, 2, 3, 4, 5);
    }
    EXPECT_EQ(capture.text(), "");
}

TEST_F(NsvSecondTest, ModelAgreesOnScans) {
    std::vector<NsvWriter> files(6);
    files[0].frames(75, 0x1E, 100, 20, 10);
    files[1].frames(60, 0x81, 10, 20);
    files[2].frames(50, 0x84, 10, 20).raw("ab");
    files[3].frames(31, 0x1E, 10, 20).raw("abc");
    files[4].frames(31, 0x1E, 100, 20).cut(17);
    files[5].sync_frame(30, 10, 0x00).continuation_frame(30, 10).raw(std::string(47, 'G'));
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string path = write(files[i], "f" + std::to_string(i) + ".nsv");
        NsvProcessState state;
        const ExpectedFile expected = expected_stream(files[i].bytes(), {}, state);
        reset_nsv_state();
        const ExpectedFile actual = run_reader(path, {});
        ASSERT_EQ(actual.seconds.size(), expected.seconds.size()) << i;
        for (size_t k = 0; k < actual.seconds.size(); ++k) {
            EXPECT_EQ(actual.seconds[k].start, expected.seconds[k].start) << i << "/" << k;
            EXPECT_EQ(actual.seconds[k].length, expected.seconds[k].length) << i << "/" << k;
            EXPECT_EQ(actual.seconds[k].frames, expected.seconds[k].frames) << i << "/" << k;
            EXPECT_EQ(actual.seconds[k].framerate, expected.seconds[k].framerate) << i;
        }
        EXPECT_EQ(actual.wire(), expected.wire()) << i;
    }
}

}  // namespace
}  // namespace tarnel::test
