// The seed corpus of tests/fuzz/nsv_reader_fuzz.cpp is made by the NSV writer; this test keeps the
// committed files equal to what the writer makes. To regenerate them after a change:
//     TARNEL_WRITE_CORPUS=1 build/tests/nsv_tests --gtest_filter='NsvCorpus.*'

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "support/nsv_writer.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

// A fuzz input: the file, then (read from the end by FuzzedDataProvider) the debug flag byte and
// the 4-byte seed of the subtitle and skip choices.
std::string fuzz_input(const NsvWriter& w, bool debug, uint32_t seed) {
    return w.bytes() + std::string(1, debug ? '\x01' : '\x00') + le32(seed);
}

std::map<std::string, std::string> seeds() {
    std::map<std::string, std::string> out;
    {
        NsvWriter w;
        w.file_header("TITLE='Seed' URL='http://example.org/'").frames(75, 0x1E, 4, 2, 30);
        out["header_75_frames_30fps"] = fuzz_input(w, false, 1);
    }
    {
        NsvWriter w;
        w.frames(31, 0x81, 3, 1, 10).raw("zz");
        out["no_header_2997_stray_bytes"] = fuzz_input(w, true, 2);
    }
    {
        NsvWriter w;
        w.file_header("TITLE='x'", false).frames(20, 0x84, 6, 2).cut(5);
        out["unset_rate_truncated"] = fuzz_input(w, false, 3);
    }
    {
        NsvWriter w;
        w.sync_frame(5, 3, 0x02).raw("GARBAGE!").continuation_frame(5, 3).continuation_frame(1, 0);
        out["fallback_and_short_final_piece"] = fuzz_input(w, true, 4);
    }
    {
        NsvWriter w;
        w.file_header_raw(12, "TITLE='bad'").frames(3, 0x1E, 2, 2);
        out["header_size_too_small"] = fuzz_input(w, false, 5);
    }
    {
        NsvWriter w;
        w.sync_frame(0, 0, 0x00).continuation_frame(0, 0).raw("XYZW").frames(2, 0x01, 2, 2);
        out["zero_payload_fallback"] = fuzz_input(w, false, 6);
    }
    {
        NsvWriter w;
        w.frames(4, 0x01, 8, 0).continuation_frame(2, 0);
        out["one_frame_seconds"] = fuzz_input(w, false, 7);
    }
    return out;
}

std::string corpus_dir() {
    return std::string(TARNEL_SOURCE_DIR) + "/tests/fuzz/corpus/nsv_reader_fuzz";
}

TEST(NsvCorpus, CommittedSeedsAreWhatTheWriterMakes) {
    const bool rewrite = std::getenv("TARNEL_WRITE_CORPUS") != nullptr;
    if (rewrite) {
        std::filesystem::create_directories(corpus_dir());
    }
    for (const auto& [name, bytes] : seeds()) {
        const std::string path = corpus_dir() + "/" + name;
        EXPECT_LE(bytes.size(), 2048u) << name;
        if (rewrite) {
            NsvWriter().raw(bytes).write(path);
        }
        ASSERT_TRUE(file_exists(path)) << path;
        EXPECT_EQ(read_file(path), bytes) << name;
    }
}

}  // namespace
}  // namespace tarnel::test
