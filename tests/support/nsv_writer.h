#pragma once

// Builds NSV test files byte for byte: an optional file header with its metadata text,
// sync and continuation frames of given lengths and frame-rate codes, stray bytes and truncation.
//
//     NsvWriter w;
//     w.file_header("TITLE='Clip'").frames(75, 0x1E, 100, 20);  // 75 frames at 30 fps
//     std::string path = w.write(dir.file("clip.nsv"));
//
// Payload bytes are a deterministic pattern that differs from frame to frame, so bytes that end
// up in the wrong place show in a comparison.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::test {

// The fields of a sync frame prefix after its "NSVs" marker.
struct SyncFields {
    std::string video_format = "VP62";  // at most 4 bytes, padded with zero bytes
    std::string audio_format = "MP3 ";
    int width = 320;   // written as 16 bits
    int height = 240;  // written as 16 bits
    unsigned char rate_code = 0x1E;
    unsigned char unused[2] = {0, 0};  // the two bytes after the rate code
};

// Where a frame was put in the file.
struct FrameRecord {
    bool sync = false;
    size_t offset = 0;          // first byte of the frame prefix
    size_t header_offset = 0;   // first byte of the 5-byte frame header
    size_t payload_offset = 0;  // first byte of the payload
    int video_length = 0;
    int audio_length = 0;
    size_t end() const { return payload_offset + video_length + audio_length; }
};

class NsvWriter {
  public:
    // A file header whose size field is exact: 28 + metadata (+ a zero byte when terminated) +
    // padding bytes. The five words after the size are 1..5.
    NsvWriter& file_header(const std::string& metadata, bool zero_terminated = true,
                           size_t padding = 0);
    // A file header with any size field (also a wrong one) and any area after the 28 bytes.
    NsvWriter& file_header_raw(uint32_t declared_size, const std::string& area);

    // One frame; the payload is the pattern unless given (then its length must be video + audio).
    NsvWriter& sync_frame(int video_length, int audio_length, const SyncFields& fields = {},
                          int aux_count = 0);
    NsvWriter& sync_frame(int video_length, int audio_length, unsigned char rate_code);
    NsvWriter& continuation_frame(int video_length, int audio_length, int aux_count = 0);
    NsvWriter& frame_with_payload(bool sync, const std::string& payload, int video_length,
                                  const SyncFields& fields = {}, int aux_count = 0);

    // count frames of the given lengths: the first a sync frame with rate_code, then a sync
    // frame every sync_every frames (0: no further ones), the others continuation frames.
    NsvWriter& frames(int count, unsigned char rate_code, int video_length, int audio_length,
                      int sync_every = 0);

    // Bytes that are not a frame (stray bytes, garbage).
    NsvWriter& raw(const std::string& bytes);
    // Cuts the file to size bytes / drops its last count bytes.
    NsvWriter& truncate(size_t size);
    NsvWriter& cut(size_t count);

    const std::string& bytes() const { return bytes_; }
    size_t size() const { return bytes_.size(); }
    const std::vector<FrameRecord>& frame_records() const { return frames_; }
    // Writes the file and returns path.
    std::string write(const std::string& path) const;

    // The pattern byte at index i of payload number k.
    static char pattern_byte(size_t k, size_t i);

  private:
    std::string pattern(size_t length);
    void add_frame(bool sync, const SyncFields& fields, int video_length, int audio_length,
                   int aux_count, const std::string& payload);

    std::string bytes_;
    std::vector<FrameRecord> frames_;
    size_t payloads_ = 0;
};

// Little-endian helpers for building odd files by hand.
std::string le16(unsigned value);
std::string le32(uint32_t value);

}  // namespace tarnel::test
