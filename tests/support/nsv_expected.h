#pragma once

// A reference model of what a correct NSVReader sends for a file (with the choices for
// malformed input listed in src/nsv/nsv_reader.h): it works on the file's bytes in memory, second
// by second, in the driver's calling order (GetHeader; then GetSecond, GetFileInfo, GetData while
// GetSecond returns 0), so tests compare whole outputs:
//
//     NsvProcessState state;                        // like a fresh process
//     ExpectedFile expected = expected_stream(w.bytes(), offers, state);
//     EXPECT_EQ(expected.wire(), what_the_reader_or_driver_sent);
//
// The process-wide state of the reader (last frame lengths, subtitle countdown) is carried in an
// NsvProcessState, so several files can be modelled one after another like one process plays
// them.

#include <string>
#include <vector>

#include "nsv/nsv_format.h"
#include "nsv/nsv_reader.h"

namespace tarnel::test {

// Mirrors hex_video_sz, hex_audio_sz and frames_wait.
struct NsvProcessState {
    int last_video_length = 0;
    int last_audio_length = 0;
    int frames_wait = 0;
};

// What the driver hands GetData for one second.
struct SecondOffer {
    std::string subtitle;      // empty for none
    nsv::SubtitleStyle style;  // display time, x, y, red, green, blue
    bool next_track = false;   // the next-track flag as GetData finds it
};

enum class Inserted { kNone, kEndMarker, kSubtitle };

struct ExpectedSecond {
    // GetSecond
    long start = 0;
    long length = 0;
    double framerate = 0;
    int frames = 0;  // frames scanned in this call (0: the frame-count pointer stays unchanged)
    // GetFileInfo after it
    std::string video_format;
    std::string audio_format;
    int height = 0;
    int width = 0;
    // GetData
    int data_result = 0;  // bytes to send
    std::string wire;     // the bytes to send
    Inserted inserted = Inserted::kNone;
    int frames_wait_after = 0;
};

struct ExpectedFile {
    bool has_header = false;              // GetHeader's result
    std::string metadata;                 // its metadata text (when has_header)
    bool unreadable = false;              // bad header size: no second at all
    std::vector<ExpectedSecond> seconds;  // the calls of GetSecond that return 0
    bool stopped_by_next_track = false;   // the driver left the file after a skip request

    // Everything sent for the file, in order.
    std::string wire() const;
};

struct ExpectOptions {
    int frame_limit = 0;                // GetSecond's last argument (the driver passes 0)
    bool stop_after_next_track = true;  // like the driver: no second after one with the flag set
    // For run_reader alone (the expected stream is the same): a reader that played other files
    // before (nullptr: a new one), and the streaming loop's way of reading a second, ReadSecond
    // into a buffer kept from second to second, then FinishSecond, rather than GetData.
    NSVReader* reader = nullptr;
    bool in_two_steps = false;
};

// offers[i] is what the driver offers for second i (none beyond the vector's end).
ExpectedFile expected_stream(const std::string& file_bytes, const std::vector<SecondOffer>& offers,
                             NsvProcessState& state, const ExpectOptions& options = {});

// Runs the real NSVReader over the file at path in the same calling order with the same offers,
// and reports in the same form (for comparison with expected_stream). Uses and updates the real
// process-wide state (hex_video_sz, hex_audio_sz, frames_wait). A file that cannot be opened
// gives an ExpectedFile with unreadable set.
ExpectedFile run_reader(const std::string& path, const std::vector<SecondOffer>& offers,
                        const ExpectOptions& options = {});

// The same offer for every second.
std::vector<SecondOffer> same_offer(size_t seconds, const SecondOffer& offer);

}  // namespace tarnel::test
