#pragma once

// Shared by the NSV reader tests: a fixture with a fresh temporary directory and a fresh
// process-wide reader state, and a one-call scan helper.

#include <gtest/gtest.h>

#include <string>

#include "nsv/nsv_reader.h"
#include "support/nsv_expected.h"
#include "support/nsv_writer.h"
#include "support/temp_dir.h"

namespace tarnel::test {

class NsvTest : public ::testing::Test {
  protected:
    void SetUp() override { reset_nsv_state(); }
    void TearDown() override { reset_nsv_state(); }

    std::string write(const NsvWriter& writer, const std::string& name = "clip.nsv") {
        return writer.write(dir.file(name));
    }

    TempDir dir;
};

// One GetSecond call's outputs.
struct SecondResult {
    int result = 0;
    long start = -7;
    long length = -7;
    double rate = -7;
    int frames = -7;  // stays -7 when the call scans no frame
};

inline SecondResult get_second(NSVReader& reader, int frame_limit = 0, int frames_before = -7) {
    SecondResult r;
    r.frames = frames_before;
    char line_buffer[256] = {};
    r.result = reader.GetSecond(line_buffer, &r.start, &r.length, &r.rate, &r.frames, frame_limit);
    return r;
}

inline std::string hex(const std::string& bytes) {
    return tarnel::nsv::hex_text(bytes.data(), bytes.size());
}

}  // namespace tarnel::test
