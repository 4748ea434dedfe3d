// Reading a second and inserting the end marker or the subtitle chunk.

#include <climits>
#include <cstdio>
#include <random>

#include "nsv_test_util.h"
#include "support/console_capture.h"

namespace tarnel::test {
namespace {

using NsvDataTest = NsvTest;

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out.push_back(static_cast<char>(v));
    }
    return out;
}

// The file's bytes from..to with chunk inserted into frame f (its header rewritten).
std::string with_chunk(const NsvWriter& w, size_t from, size_t to, const FrameRecord& f,
                       const std::string& chunk) {
    std::string out = w.bytes().substr(from, to - from);
    out.replace(f.header_offset - from, 5,
                nsv::encode_frame_header(f.video_length + static_cast<int>(chunk.size()),
                                         f.audio_length, 1));
    out.insert(f.payload_offset - from, chunk);
    return out;
}

// Reads a second with GetData into a buffer of exactly length + L + 31 bytes followed by a
// guard area, and checks the guard.
struct DataResult {
    int result = 0;
    std::string sent;
};

constexpr size_t kGuard = 64;

DataResult get_data(NSVReader& reader, long length, bool* next_track, const std::string& text,
                    const nsv::SubtitleStyle& style = {30, 1, 2, 3, 4, 5}) {
    const size_t size = static_cast<size_t>(length > 0 ? length : 0) + text.size() + 31;
    std::string buffer(size + kGuard, '\xA5');
    DataResult r;
    r.result = reader.GetData(buffer.data(), length, next_track, text, style.display_time, style.x,
                              style.y, style.red, style.green, style.blue);
    EXPECT_EQ(buffer.substr(size), std::string(kGuard, '\xA5')) << "write beyond the buffer";
    if (r.result > 0) {
        r.sent = buffer.substr(0, static_cast<size_t>(r.result));
    }
    return r;
}

TEST_F(NsvDataTest, LastSecondGetsTheEndMarker) {
    NsvWriter w;
    w.frames(45, 0x1E, 100, 20, 15);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    bool next_track = false;

    SecondResult s = get_second(reader);
    DataResult d = get_data(reader, s.length, &next_track, "");
    EXPECT_EQ(d.result, s.length);
    EXPECT_EQ(d.sent, w.bytes().substr(0, static_cast<size_t>(s.length)));

    s = get_second(reader);
    ASSERT_EQ(s.frames, 15);
    d = get_data(reader, s.length, &next_track, "");
    EXPECT_EQ(d.result, s.length + 6);
    const FrameRecord& last = w.frame_records().back();
    EXPECT_EQ(d.sent,
              with_chunk(w, static_cast<size_t>(s.start), w.size(), last, nsv::end_marker_chunk()));
    const size_t p = last.payload_offset - static_cast<size_t>(s.start);
    EXPECT_EQ(d.sent.substr(p, 6), bytes({0x00, 0x00, 0x41, 0x53, 0x59, 0x4E}));
    const nsv::FrameHeader header = nsv::decode_frame_header(d.sent.data() + p - 5);
    EXPECT_EQ(header.aux_count, 1);
    EXPECT_EQ(header.video_length, 106);
    EXPECT_EQ(header.audio_length, 20);
    EXPECT_EQ(get_second(reader).result, -1);
}

TEST_F(NsvDataTest, ExactMultipleStillGetsTheEndMarkerInItsLastSecond) {
    NsvWriter w;
    w.file_header("TITLE='x'").frames(60, 0x1E, 50, 10);
    NsvProcessState state;
    const ExpectedFile expected = expected_stream(w.bytes(), {}, state);
    ASSERT_EQ(expected.seconds.size(), 2u);
    EXPECT_EQ(expected.seconds[0].inserted, Inserted::kNone);
    EXPECT_EQ(expected.seconds[1].inserted, Inserted::kEndMarker);
    const ExpectedFile actual = run_reader(write(w), {});
    EXPECT_EQ(actual.wire(), expected.wire());
    const FrameRecord& last = w.frame_records().back();
    const size_t start = w.frame_records()[30].offset;
    EXPECT_EQ(actual.seconds[1].wire,
              with_chunk(w, start, w.size(), last, nsv::end_marker_chunk()));
}

TEST_F(NsvDataTest, SubtitleOfFiveBytesByteForByte) {
    NsvWriter w;
    w.frames(90, 0x1E, 100, 20, 30);
    NSVReader reader(true);
    ConsoleCapture capture;
    ASSERT_TRUE(reader.Open(write(w)));
    bool next_track = false;
    const SecondResult s = get_second(reader);
    const nsv::SubtitleStyle style{300, 20, -5, 255, 300, 0};
    const DataResult d = get_data(reader, s.length, &next_track, "Hello", style);
    EXPECT_EQ(d.result, s.length + 36);
    const FrameRecord& last = w.frame_records()[29];
    const std::string chunk = nsv::subtitle_chunk("Hello", style);
    ASSERT_EQ(chunk.size(), 36u);
    EXPECT_EQ(d.sent, with_chunk(w, 0, static_cast<size_t>(s.length), last, chunk));
    const size_t p = last.payload_offset;
    EXPECT_EQ(d.sent.substr(p, 8), bytes({0x1E, 0x00, 0x53, 0x55, 0x42, 0x54, 0x1C, 0x00}));
    EXPECT_EQ(d.sent.substr(p + 8, 8), std::string("english\0", 8));
    EXPECT_EQ(d.sent.substr(p + 16, 5), "Hello");
    EXPECT_EQ(d.sent.substr(p + 21, 15),
              bytes({0, 0, 0, 44, 0, 0, 0, 20, 0xFB, 0xFF, 0x2C, 0x00, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(nsv::decode_frame_header(d.sent.data() + p - 5).video_length, 136);
    EXPECT_EQ(frames_wait, 300);
    // The trace of the rewritten header: video 136 = 0x88, audio 20, aux 1.
    EXPECT_NE(capture.text().find("DEBUG: CREATED FRAME HEADER: 8108001400\n"), std::string::npos);
}

TEST_F(NsvDataTest, SecondWithASingleFrameAndALastSyncFrame) {
    NsvWriter w;
    SyncFields fields;
    fields.rate_code = 1;  // one frame per second
    w.sync_frame(19, 320, fields).sync_frame(40, 0, fields).continuation_frame(5, 5);
    NsvProcessState state;
    const std::vector<SecondOffer> offers = {{"ab", {30, 0, 0, 0, 0, 0}, false}};
    const ExpectedFile expected = expected_stream(w.bytes(), offers, state);
    const ExpectedFile actual = run_reader(write(w), offers);
    ASSERT_EQ(actual.seconds.size(), 3u);
    EXPECT_EQ(actual.wire(), expected.wire());
    // First second: one sync frame; its header at 19..23 is rewritten, the prefix kept.
    const std::string& first = actual.seconds[0].wire;
    EXPECT_EQ(first.substr(0, 19), w.bytes().substr(0, 19));
    EXPECT_EQ(first.substr(19, 5), bytes({0x41, 0x03, 0x00, 0x40, 0x01}));  // video 19 + 33
    EXPECT_EQ(first.substr(24, 33), nsv::subtitle_chunk("ab", {30, 0, 0, 0, 0, 0}));
    EXPECT_EQ(first.substr(57), w.bytes().substr(24, 339));
    EXPECT_EQ(actual.seconds[1].inserted, Inserted::kNone);  // frames_wait 30 - 1 > 0
    EXPECT_EQ(actual.seconds[2].inserted, Inserted::kEndMarker);
}

TEST_F(NsvDataTest, EndMarkerWinsOverAPendingSubtitle) {
    NsvWriter w;
    w.frames(40, 0x1E, 10, 10);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    bool next_track = false;
    SecondResult s = get_second(reader);
    get_data(reader, s.length, &next_track, "");
    s = get_second(reader);
    const DataResult d = get_data(reader, s.length, &next_track, "dropped");
    EXPECT_EQ(d.result, s.length + 6);
    EXPECT_EQ(d.sent.find("SUBT"), std::string::npos);
    EXPECT_EQ(frames_wait, -60);  // untouched by the end marker, lowered twice
}

TEST_F(NsvDataTest, EmptyTextNeverInsertsAndTheCountdownRuns) {
    NsvWriter w;
    w.frames(100, 0x1E, 10, 10);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    bool next_track = false;
    frames_wait = 45;
    SecondResult s = get_second(reader);
    DataResult d = get_data(reader, s.length, &next_track, "");
    EXPECT_EQ(d.result, s.length);
    EXPECT_EQ(frames_wait, 15);
    s = get_second(reader);
    d = get_data(reader, s.length, &next_track, "");
    EXPECT_EQ(d.result, s.length);
    EXPECT_EQ(frames_wait, -15);
}

TEST_F(NsvDataTest, CountdownOf300FramesBlocksNineSecondsAt30) {
    NsvWriter w;
    w.frames(30 * 14, 0x1E, 10, 10, 30);
    NsvProcessState state;
    const std::vector<SecondOffer> offers = same_offer(14, {"text", {300, 1, 1, 1, 1, 1}, false});
    const ExpectedFile expected = expected_stream(w.bytes(), offers, state);
    const ExpectedFile actual = run_reader(write(w), offers);
    ASSERT_EQ(actual.seconds.size(), 14u);
    std::vector<int> subtitled;
    for (size_t i = 0; i < actual.seconds.size(); ++i) {
        if (actual.seconds[i].inserted == Inserted::kSubtitle) {
            subtitled.push_back(static_cast<int>(i));
        }
        EXPECT_EQ(actual.seconds[i].frames_wait_after, expected.seconds[i].frames_wait_after);
    }
    EXPECT_EQ(subtitled, (std::vector<int>{0, 10}));
    EXPECT_EQ(actual.seconds[13].inserted, Inserted::kEndMarker);
    EXPECT_EQ(actual.wire(), expected.wire());
}

TEST_F(NsvDataTest, CountdownCarriesAcrossFilesAndStandsStillWithoutARate) {
    NsvWriter a;
    a.frames(60, 0x1E, 10, 10);
    NsvWriter b;
    b.frames(120, 0x1E, 10, 10);
    NsvWriter no_rate;
    no_rate.frames(20, 0x00, 10, 10);
    const std::vector<SecondOffer> offers = same_offer(5, {"sub", {120, 1, 1, 1, 1, 1}, false});

    NsvProcessState state;
    std::vector<ExpectedFile> expected;
    expected.push_back(expected_stream(a.bytes(), offers, state));
    expected.push_back(expected_stream(no_rate.bytes(), offers, state));
    expected.push_back(expected_stream(b.bytes(), offers, state));
    std::vector<ExpectedFile> actual;
    actual.push_back(run_reader(write(a, "a.nsv"), offers));
    actual.push_back(run_reader(write(no_rate, "n.nsv"), offers));
    actual.push_back(run_reader(write(b, "b.nsv"), offers));

    // a: subtitle in its first second (wait 120), end marker in its second (wait 90).
    EXPECT_EQ(actual[0].seconds[0].inserted, Inserted::kSubtitle);
    EXPECT_EQ(actual[0].seconds[0].frames_wait_after, 120);
    EXPECT_EQ(actual[0].seconds[1].inserted, Inserted::kEndMarker);
    EXPECT_EQ(actual[0].seconds[1].frames_wait_after, 90);
    // no rate: one piece, countdown unchanged.
    EXPECT_EQ(actual[1].seconds.size(), 1u);
    EXPECT_EQ(actual[1].seconds[0].frames_wait_after, 90);
    // b: 60, 30, then 0 in its third second, which carries the next subtitle.
    ASSERT_EQ(actual[2].seconds.size(), 4u);
    EXPECT_EQ(actual[2].seconds[0].inserted, Inserted::kNone);
    EXPECT_EQ(actual[2].seconds[1].inserted, Inserted::kNone);
    EXPECT_EQ(actual[2].seconds[2].inserted, Inserted::kSubtitle);
    EXPECT_EQ(actual[2].seconds[3].inserted, Inserted::kEndMarker);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(actual[i].wire(), expected[i].wire()) << i;
    }
    EXPECT_EQ(frames_wait, state.frames_wait);
}

TEST_F(NsvDataTest, NextTrackInsertsTheEndMarkerAndClearsTheFlag) {
    NsvWriter w;
    w.frames(150, 0x81, 30, 10, 30);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    bool next_track = false;
    SecondResult s = get_second(reader);
    get_data(reader, s.length, &next_track, "");
    s = get_second(reader);
    next_track = true;
    const DataResult d = get_data(reader, s.length, &next_track, "not shown");
    EXPECT_FALSE(next_track);
    EXPECT_EQ(d.result, s.length + 6);
    EXPECT_EQ(d.sent,
              with_chunk(w, static_cast<size_t>(s.start), static_cast<size_t>(s.start + s.length),
                         w.frame_records()[59], nsv::end_marker_chunk()));
    // The reader goes on where it was (the driver would stop).
    EXPECT_EQ(get_second(reader).start, static_cast<long>(w.frame_records()[60].offset));

    const std::vector<SecondOffer> offers = {{}, {"x", {}, true}};
    NsvProcessState state;
    reset_nsv_state();
    const ExpectedFile expected = expected_stream(w.bytes(), offers, state);
    const ExpectedFile actual = run_reader(write(w, "again.nsv"), offers);
    EXPECT_TRUE(expected.stopped_by_next_track);
    EXPECT_EQ(actual.seconds.size(), 2u);
    EXPECT_EQ(actual.wire(), expected.wire());
}

TEST_F(NsvDataTest, LengthZeroReadsNothing) {
    NsvWriter w;
    w.frames(40, 0x1E, 10, 10);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    SecondResult s = get_second(reader);
    bool next_track = true;
    char buffer[64];
    EXPECT_EQ(reader.GetData(buffer, 0, &next_track, "x", 1, 1, 1, 1, 1, 1), -1);
    EXPECT_TRUE(next_track);
    EXPECT_EQ(frames_wait, 0);
    EXPECT_EQ(reader.GetData(buffer, -5, &next_track, "x", 1, 1, 1, 1, 1, 1), -1);
    // Position unchanged: the next second follows the first.
    EXPECT_EQ(get_second(reader).start, s.start + s.length);
}

TEST_F(NsvDataTest, FinalPieceShorterThanTenBytesGetsItsOwnEndMarker) {
    for (int payload = 0; payload <= 2; ++payload) {
        NsvWriter w;
        w.frames(30, 0x1E, 40, 10).continuation_frame(payload, 0);
        NsvProcessState state;
        const ExpectedFile expected = expected_stream(w.bytes(), {}, state);
        reset_nsv_state();
        const ExpectedFile actual = run_reader(write(w), {});
        ASSERT_EQ(actual.seconds.size(), 2u) << payload;
        EXPECT_EQ(actual.seconds[0].inserted, Inserted::kEndMarker);
        EXPECT_EQ(actual.seconds[1].inserted, Inserted::kEndMarker);
        EXPECT_EQ(actual.seconds[1].length, 7 + payload);
        const FrameRecord& last = w.frame_records().back();
        EXPECT_EQ(actual.seconds[1].wire,
                  with_chunk(w, last.offset, w.size(), last, nsv::end_marker_chunk()));
        EXPECT_EQ(actual.wire(), expected.wire());
    }
}

TEST_F(NsvDataTest, StrayBytesAloneAreSentUnchanged) {
    for (size_t stray = 1; stray <= 3; ++stray) {
        NsvWriter w;
        w.frames(30, 0x1E, 40, 10).raw(std::string(stray, '\xEF'));
        NSVReader reader;
        ASSERT_TRUE(reader.Open(write(w)));
        bool next_track = false;
        SecondResult s = get_second(reader);
        DataResult d = get_data(reader, s.length, &next_track, "");
        EXPECT_EQ(d.result, s.length + 6);  // the look-ahead met the end
        s = get_second(reader);
        ASSERT_EQ(s.length, static_cast<long>(stray));
        next_track = true;
        d = get_data(reader, s.length, &next_track, "also not");
        EXPECT_FALSE(next_track);
        EXPECT_EQ(d.result, static_cast<int>(stray));
        EXPECT_EQ(d.sent, w.bytes().substr(w.size() - stray));
        EXPECT_EQ(get_second(reader).result, -1);
    }
}

TEST_F(NsvDataTest, StrayBytesBehindTheLastFrameStayBehindTheInsertedChunk) {
    NsvWriter w;
    w.frames(40, 0x1E, 40, 10).raw("zz");
    const ExpectedFile actual = run_reader(write(w), {});
    ASSERT_EQ(actual.seconds.size(), 2u);
    const size_t start = w.frame_records()[30].offset;
    EXPECT_EQ(actual.seconds[1].wire,
              with_chunk(w, start, w.size(), w.frame_records().back(), nsv::end_marker_chunk()));
    NsvProcessState state;
    EXPECT_EQ(actual.wire(), expected_stream(w.bytes(), {}, state).wire());
}

TEST_F(NsvDataTest, TruncatedLastFrameGetsTheMarkerAtItsPayloadStart) {
    NsvWriter w;
    w.frames(40, 0x1E, 100, 20).cut(70);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    bool next_track = false;
    SecondResult s = get_second(reader);
    get_data(reader, s.length, &next_track, "");
    s = get_second(reader);
    const long held = static_cast<long>(w.size()) - s.start;
    ASSERT_EQ(s.length, held + 70);
    const DataResult d = get_data(reader, s.length, &next_track, "");
    EXPECT_EQ(d.result, held + 6);
    EXPECT_EQ(d.sent, with_chunk(w, static_cast<size_t>(s.start), w.size(),
                                 w.frame_records().back(), nsv::end_marker_chunk()));
    EXPECT_EQ(get_second(reader).result, -1);
}

TEST_F(NsvDataTest, CutInsideTheLastFrameHeaderIsSentUnchanged) {
    // 1 to 3 bytes are stray bytes behind a complete frame, which takes the marker; 4 to 6 are
    // the 2-byte prefix and 2 to 4 header bytes of a frame that cannot.
    for (size_t keep = 1; keep <= 6; ++keep) {
        NsvWriter w;
        w.frames(10, 0x1E, 100, 20).continuation_frame(50, 5);
        w.truncate(w.frame_records().back().offset + keep);
        NsvProcessState state;
        const ExpectedFile expected = expected_stream(w.bytes(), {}, state);
        reset_nsv_state();
        const ExpectedFile actual = run_reader(write(w), {});
        ASSERT_FALSE(actual.seconds.empty());
        const ExpectedSecond& last = actual.seconds.back();
        if (keep >= 4) {
            EXPECT_EQ(last.inserted, Inserted::kNone) << keep;
            EXPECT_EQ(last.wire, w.bytes().substr(static_cast<size_t>(last.start))) << keep;
        } else {
            EXPECT_EQ(last.inserted, Inserted::kEndMarker) << keep;
        }
        EXPECT_EQ(actual.wire(), expected.wire()) << keep;
    }
    for (size_t keep = 4; keep <= 23; ++keep) {  // a sync frame cut in its prefix or header
        NsvWriter w;
        w.frames(10, 0x1E, 100, 20).sync_frame(50, 5, 0x1E);
        w.truncate(w.frame_records().back().offset + keep);
        NsvProcessState state;
        const ExpectedFile expected = expected_stream(w.bytes(), {}, state);
        reset_nsv_state();
        const ExpectedFile actual = run_reader(write(w), {});
        ASSERT_FALSE(actual.seconds.empty());
        EXPECT_EQ(actual.seconds.back().inserted, Inserted::kNone) << keep;
        EXPECT_EQ(actual.wire(), w.bytes()) << keep;
        EXPECT_EQ(actual.wire(), expected.wire()) << keep;
    }
}

TEST_F(NsvDataTest, LastFrameFoundByTheFallbackIsSentUnchanged) {
    NsvWriter w;
    w.frames(5, 0x1E, 20, 10).raw(std::string(60, 'q'));  // two fallback "frames"
    const ExpectedFile actual = run_reader(write(w), same_offer(1, {"t", {}, true}));
    ASSERT_EQ(actual.seconds.size(), 1u);
    EXPECT_EQ(actual.seconds[0].frames, 7);
    EXPECT_EQ(actual.seconds[0].inserted, Inserted::kNone);
    EXPECT_EQ(actual.seconds[0].wire, w.bytes());
}

TEST_F(NsvDataTest, TooLongTextIsNotInserted) {
    NsvWriter w;
    w.frames(90, 0x1E, 10, 10);
    const std::string longest(nsv::kMaxSubtitleTextLength, 's');
    const std::string too_long(nsv::kMaxSubtitleTextLength + 1, 's');
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    bool next_track = false;
    SecondResult s = get_second(reader);
    DataResult d = get_data(reader, s.length, &next_track, too_long, {30, 0, 0, 0, 0, 0});
    EXPECT_EQ(d.result, s.length);
    EXPECT_EQ(frames_wait, -30);  // not set: nothing was shown
    s = get_second(reader);
    d = get_data(reader, s.length, &next_track, longest, {30, 0, 0, 0, 0, 0});
    EXPECT_EQ(d.result, s.length + nsv::kMaxSubtitleTextLength + 31);
    EXPECT_EQ(nsv::read_u16(d.sent.data() + w.frame_records()[59].payload_offset -
                            static_cast<size_t>(s.start)),
              65535);
}

TEST_F(NsvDataTest, VideoLengthMustStayBelow20Bits) {
    // Last frame of the second with video length 1,048,575 - 36: a 5-byte text fits exactly,
    // a 6-byte one does not; the end marker fits up to 1,048,569.
    const int fits = nsv::kMaxVideoLength - 36;
    NsvWriter w;
    w.sync_frame(fits, 0, 0x01).sync_frame(fits + 1, 0, 0x01);
    w.sync_frame(nsv::kMaxVideoLength - 6, 0, 0x01).sync_frame(nsv::kMaxVideoLength - 5, 0, 0x01);
    const std::vector<SecondOffer> offers = {{"12345", {1, 0, 0, 0, 0, 0}, false},
                                             {"12345", {1, 0, 0, 0, 0, 0}, false},
                                             {"", {}, true},
                                             {"", {}, true}};
    ExpectOptions options;
    options.stop_after_next_track = false;
    const ExpectedFile actual = run_reader(write(w), offers, options);
    ASSERT_EQ(actual.seconds.size(), 4u);
    EXPECT_EQ(actual.seconds[0].inserted, Inserted::kSubtitle);
    EXPECT_EQ(actual.seconds[1].inserted, Inserted::kNone);
    EXPECT_EQ(actual.seconds[2].inserted, Inserted::kEndMarker);
    EXPECT_EQ(actual.seconds[3].inserted, Inserted::kNone);
    EXPECT_EQ(nsv::decode_frame_header(actual.seconds[0].wire.data() + 19).video_length,
              nsv::kMaxVideoLength);
    NsvProcessState state;
    reset_nsv_state();
    EXPECT_EQ(actual.wire(), expected_stream(w.bytes(), offers, state, options).wire());
}

TEST_F(NsvDataTest, SecondsTooLargeForTheResultAreRefused) {
    NsvWriter w;
    w.frames(3, 0x1E, 10, 10);
    NSVReader reader;
    ASSERT_TRUE(reader.Open(write(w)));
    get_second(reader);
    bool next_track = false;
    std::string buffer(100000 + 31, '\0');
    EXPECT_EQ(reader.GetData(buffer.data(), static_cast<long>(INT_MAX), &next_track, "", 0, 0, 0, 0,
                             0, 0),
              -1);
    // More than the position: the seek back fails, nothing is read.
    EXPECT_EQ(reader.GetData(buffer.data(), 100000, &next_track, "", 0, 0, 0, 0, 0, 0), -1);
    EXPECT_EQ(buffer, std::string(100000 + 31, '\0'));
}

// Random files, well formed and not, with random offers: the reader and the model agree on
// every second, and no write goes beyond the buffer.
TEST_F(NsvDataTest, ReaderMatchesTheModelOnRandomFiles) {
    std::mt19937 random(20240611);
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const unsigned char codes[] = {0x00, 0x01, 0x03, 0x1E, 0x81, 0x85, 0x84, 0xFF};
    NsvProcessState state;
    // Every other file is played as the streaming loop plays it: one reader for all of them,
    // each second read ahead and finished later.
    NSVReader shared_reader;
    for (int round = 0; round < 300; ++round) {
        NsvWriter w;
        if (pick(0, 3) == 0) {
            w.file_header("TITLE='r" + std::to_string(round) + "'", pick(0, 1) == 1,
                          static_cast<size_t>(pick(0, 5)));
        }
        const int frame_count = pick(0, 80);
        for (int i = 0; i < frame_count; ++i) {
            const int kind = pick(0, 40);
            if (kind == 0) {
                w.raw(
                    std::string(static_cast<size_t>(pick(1, 12)), static_cast<char>(pick(0, 255))));
            } else if (kind < 6 || i == 0) {
                SyncFields fields;
                fields.rate_code = codes[pick(0, 7)];
                w.sync_frame(pick(0, 300), pick(0, 50), fields, pick(0, 2));
            } else {
                w.continuation_frame(pick(0, 300), pick(0, 50));
            }
        }
        if (pick(0, 3) == 0) {
            w.raw(std::string(static_cast<size_t>(pick(1, 12)), 'S'));
        }
        if (pick(0, 3) == 0) {
            w.cut(static_cast<size_t>(pick(0, 40)));
        }
        std::vector<SecondOffer> offers;
        for (int i = 0; i < 20; ++i) {
            SecondOffer offer;
            if (pick(0, 2) == 0) {
                offer.subtitle = std::string(static_cast<size_t>(pick(1, 40)), 'a');
            }
            offer.style = {pick(-50, 400), pick(-5, 300), 2, 3, 4, 5};
            offer.next_track = pick(0, 15) == 0;
            offers.push_back(offer);
        }
        ExpectOptions options;
        options.stop_after_next_track = pick(0, 1) == 0;
        if (round % 2 == 1) {
            options.reader = &shared_reader;
            options.in_two_steps = true;
        }
        const ExpectedFile expected = expected_stream(w.bytes(), offers, state, options);
        const ExpectedFile actual = run_reader(write(w), offers, options);
        ASSERT_EQ(actual.seconds.size(), expected.seconds.size()) << round;
        for (size_t k = 0; k < actual.seconds.size(); ++k) {
            const ExpectedSecond& a = actual.seconds[k];
            const ExpectedSecond& e = expected.seconds[k];
            ASSERT_EQ(a.start, e.start) << round << "/" << k;
            ASSERT_EQ(a.length, e.length) << round << "/" << k;
            ASSERT_EQ(a.framerate, e.framerate) << round << "/" << k;
            ASSERT_EQ(a.frames, e.frames) << round << "/" << k;
            ASSERT_EQ(a.video_format, e.video_format) << round << "/" << k;
            ASSERT_EQ(a.height, e.height) << round << "/" << k;
            ASSERT_EQ(a.inserted, e.inserted) << round << "/" << k;
            ASSERT_EQ(hex(a.wire), hex(e.wire)) << round << "/" << k;
            ASSERT_EQ(a.frames_wait_after, e.frames_wait_after) << round << "/" << k;
        }
        ASSERT_EQ(hex_video_sz, state.last_video_length) << round;
        ASSERT_EQ(hex_audio_sz, state.last_audio_length) << round;
    }
}

}  // namespace
}  // namespace tarnel::test

namespace tarnel::test {
namespace {

// Files larger than the reader's 2 MiB read window: seconds that straddle its refills, a piece
// larger than the window, frames larger than it.
TEST_F(NsvDataTest, LargeFilesMatchTheModel) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> video(500, 20000);
    NsvWriter many;
    many.file_header("TITLE='large'");
    for (int i = 0; i < 900; ++i) {
        if (i % 30 == 0) {
            many.sync_frame(video(random), 418, 0x81);
        } else {
            many.continuation_frame(video(random), 418);
        }
    }
    NsvWriter no_rate;
    for (int i = 0; i < 300; ++i) {
        no_rate.continuation_frame(video(random), 100);
    }
    NsvWriter huge_frames;
    huge_frames.frames(7, 0x03, 1000000, 60000).cut(1000);
    const std::vector<SecondOffer> offers =
        same_offer(40, {"subtitle", {45, 1, 2, 3, 4, 5}, false});
    NsvProcessState state;
    int index = 0;
    for (const NsvWriter* w : {&many, &no_rate, &huge_frames}) {
        ASSERT_GT(w->size(), 2u * 1024 * 1024);
        const ExpectedFile expected = expected_stream(w->bytes(), offers, state);
        const ExpectedFile actual =
            run_reader(write(*w, "large" + std::to_string(index) + ".nsv"), offers);
        ASSERT_EQ(actual.seconds.size(), expected.seconds.size()) << index;
        for (size_t k = 0; k < actual.seconds.size(); ++k) {
            EXPECT_EQ(actual.seconds[k].length, expected.seconds[k].length) << index << "/" << k;
            EXPECT_EQ(actual.seconds[k].inserted, expected.seconds[k].inserted)
                << index << "/" << k;
            EXPECT_TRUE(actual.seconds[k].wire == expected.seconds[k].wire) << index << "/" << k;
        }
        EXPECT_EQ(frames_wait, state.frames_wait);
        ++index;
    }
    EXPECT_EQ(run_reader(dir.file("large0.nsv"), {}).seconds.size(), 30u);
}

}  // namespace
}  // namespace tarnel::test
