#pragma once

// The NSV byte layouts and the chunks Tarnel inserts, as pure functions over
// bytes: no file, no process-wide state.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnel::nsv {

// File header: "NSVf", header size (u32), five u32 words, then header size - 28 bytes of metadata
// text and further data.
constexpr char kFileHeaderMarker[] = "NSVf";
constexpr long kFileHeaderFixedSize = 28;

// Sync frame prefix: "NSVs", video code, audio code, width (i16), height (i16), frame-rate code,
// two bytes; then the 5-byte frame header.
constexpr char kSyncMarker[] = "NSVs";
constexpr int kSyncPrefixSize = 19;
constexpr int kSyncPrefixRest = kSyncPrefixSize - 4;  // after the four marker bytes
constexpr int kSyncVideoFormatOffset = 4;
constexpr int kSyncAudioFormatOffset = 8;
constexpr int kSyncWidthOffset = 12;
constexpr int kSyncHeightOffset = 14;
constexpr int kSyncRateOffset = 16;

// Continuation frame prefix: the 16-bit value 0xBEEF, stored EF BE.
constexpr unsigned char kContinuationByte0 = 0xEF;
constexpr unsigned char kContinuationByte1 = 0xBE;
constexpr int kContinuationPrefixSize = 2;

constexpr int kFrameHeaderSize = 5;
constexpr int kMaxVideoLength = (1 << 20) - 1;  // 20 bits
constexpr int kMaxAudioLength = (1 << 16) - 1;  // 16 bits

// Inserted chunks.
constexpr int kEndMarkerChunkSize = 6;         // 00 00 "ASYN"
constexpr int kSubtitleChunkOverhead = 31;     // a subtitle chunk is L + 31 bytes
constexpr int kMaxSubtitleTextLength = 65510;  // L + 25 must fit in 16 bits

struct FrameHeader {
    int video_length = 0;  // 0 .. 1,048,575; counts aux chunks and video data
    int audio_length = 0;  // 0 .. 65,535
    int aux_count = 0;     // 0 .. 15

    int payload_length() const { return video_length + audio_length; }
};

// Unpacks five header bytes b0..b4 (file order).
FrameHeader decode_frame_header(const unsigned char* bytes);
inline FrameHeader decode_frame_header(const char* bytes) {
    return decode_frame_header(reinterpret_cast<const unsigned char*>(bytes));
}

// Packs a header into out[0..4]: video length V (bits 0..19 kept), audio length A (bits 0..15
// kept), aux count 1 when aux_flag is not 0, else 0.
void encode_frame_header(char* out, int video_length, int audio_length, int aux_flag);
std::string encode_frame_header(int video_length, int audio_length, int aux_flag);

// Frames per second for a frame-rate code; 0 for "unset" (code 0 and the unknown codes >= 0x80).
double decode_frame_rate(unsigned char code);

// Frames in one second at a rate: ceil(rate); 0 while the rate is unset.
int frames_per_second(double framerate);

// True when the four bytes at p are "NSVs" / "NSVf"; true when the two bytes are EF BE.
bool is_sync_marker(const char* p);
bool is_file_header_marker(const char* p);
bool is_continuation_marker(const char* p);

// Little-endian readers.
uint32_t read_u32(const char* p);
uint16_t read_u16(const char* p);
int16_t read_i16(const char* p);

// A format code of at most four characters, cut at its first zero byte.
std::string format_code(const char* p);

// The metadata text of a file header area (the bytes from offset 28 to the header's end): up to
// the first zero byte, or all of it.
std::string metadata_text(const char* area, size_t size);

// Bytes as uppercase hexadecimal digits, two per byte, in order ("30014001" ...).
std::string hex_text(const char* bytes, size_t count);

// The end marker chunk: 00 00 41 53 59 4E.
std::string end_marker_chunk();
void write_end_marker_chunk(char* out);

// The subtitle chunk for a text of L bytes (L <= kMaxSubtitleTextLength): L + 31 bytes, numbers
// cut to their low 8 bits.
struct SubtitleStyle {
    int display_time = 0;  // frames
    int x = 0;
    int y = 0;
    int red = 0;
    int green = 0;
    int blue = 0;
};
size_t subtitle_chunk_size(const std::string& text);
std::string subtitle_chunk(const std::string& text, const SubtitleStyle& style);
void write_subtitle_chunk(char* out, const std::string& text, const SubtitleStyle& style);

}  // namespace tarnel::nsv
