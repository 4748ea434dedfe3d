#include "nsv/nsv_format.h"

#include <cmath>
#include <cstring>

namespace tarnel::nsv {

namespace {

char low_byte(long value) {
    return static_cast<char>(static_cast<unsigned long>(value) & 0xFFu);
}

void put_u16(char* out, unsigned value) {
    out[0] = low_byte(value);
    out[1] = low_byte(value >> 8);
}

}  // namespace

FrameHeader decode_frame_header(const unsigned char* b) {
    FrameHeader header;
    header.aux_count = b[0] & 0x0F;
    header.video_length = (b[2] << 12) | (b[1] << 4) | (b[0] >> 4);
    header.audio_length = b[3] | (b[4] << 8);
    return header;
}

void encode_frame_header(char* out, int video_length, int audio_length, int aux_flag) {
    const auto video = static_cast<unsigned>(video_length);
    const auto audio = static_cast<unsigned>(audio_length);
    out[0] = low_byte(((video & 0xFu) << 4) | (aux_flag != 0 ? 1u : 0u));
    out[1] = low_byte(video >> 4);
    out[2] = low_byte(video >> 12);
    out[3] = low_byte(audio);
    out[4] = low_byte(audio >> 8);
}

std::string encode_frame_header(int video_length, int audio_length, int aux_flag) {
    std::string header(kFrameHeaderSize, '\0');
    encode_frame_header(header.data(), video_length, audio_length, aux_flag);
    return header;
}

double decode_frame_rate(unsigned char code) {
    if (code < 0x80) {
        return code;
    }
    switch (code) {
        case 0x81:
            return 29.97;
        case 0x83:
            return 23.976;
        case 0x85:
            return 14.985;
        case 0xC5:
            return 59.94;
        case 0xC7:
            return 47.952;
        default:
            return 0.0;
    }
}

int frames_per_second(double framerate) {
    return framerate > 0 ? static_cast<int>(std::ceil(framerate)) : 0;
}

bool is_sync_marker(const char* p) {
    return std::memcmp(p, kSyncMarker, 4) == 0;
}

bool is_file_header_marker(const char* p) {
    return std::memcmp(p, kFileHeaderMarker, 4) == 0;
}

bool is_continuation_marker(const char* p) {
    return static_cast<unsigned char>(p[0]) == kContinuationByte0 &&
           static_cast<unsigned char>(p[1]) == kContinuationByte1;
}

uint32_t read_u32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

uint16_t read_u16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

int16_t read_i16(const char* p) {
    return static_cast<int16_t>(read_u16(p));
}

std::string format_code(const char* p) {
    return std::string(p, strnlen(p, 4));
}

std::string metadata_text(const char* area, size_t size) {
    const void* zero = std::memchr(area, '\0', size);
    return std::string(area, zero != nullptr ? static_cast<const char*>(zero) - area : size);
}

std::string hex_text(const char* bytes, size_t count) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text(count * 2, '0');
    for (size_t i = 0; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text[2 * i] = digits[byte >> 4];
        text[2 * i + 1] = digits[byte & 0x0F];
    }
    return text;
}

void write_end_marker_chunk(char* out) {
    std::memcpy(out, "\0\0ASYN", kEndMarkerChunkSize);
}

std::string end_marker_chunk() {
    return std::string("\0\0ASYN", kEndMarkerChunkSize);
}

size_t subtitle_chunk_size(const std::string& text) {
    return text.size() + kSubtitleChunkOverhead;
}

void write_subtitle_chunk(char* out, const std::string& text, const SubtitleStyle& style) {
    const size_t length = text.size();
    put_u16(out, static_cast<unsigned>(length + 25));
    std::memcpy(out + 2, "SUBT", 4);
    put_u16(out + 6, static_cast<unsigned>(length + 23));
    std::memcpy(out + 8, "english", 8);  // with its zero byte
    if (length > 0) {
        std::memcpy(out + 16, text.data(), length);
    }
    char* tail = out + 16 + length;
    const char style_bytes[15] = {0,
                                  0,
                                  0,
                                  low_byte(style.display_time),
                                  0,
                                  0,
                                  0,
                                  low_byte(style.x),
                                  low_byte(style.y),
                                  low_byte(style.red),
                                  low_byte(style.green),
                                  low_byte(style.blue),
                                  static_cast<char>(0xFF),
                                  static_cast<char>(0xFF),
                                  0};
    std::memcpy(tail, style_bytes, sizeof style_bytes);
}

std::string subtitle_chunk(const std::string& text, const SubtitleStyle& style) {
    std::string chunk(subtitle_chunk_size(text), '\0');
    write_subtitle_chunk(chunk.data(), text, style);
    return chunk;
}

}  // namespace tarnel::nsv
