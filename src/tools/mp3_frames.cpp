#include "tools/mp3_frames.h"

#include "tools/byte_order.h"

namespace tarnel {
namespace {

// Bit rates in kbit/s by bit-rate index 1..14 (0 is free format, 15 is invalid).
constexpr uint32_t kBitRates[5][14] = {
    {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG 1 layer I
    {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG 1 layer II
    {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG 1 layer III
    {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG 2/2.5 layer I
    {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG 2/2.5 II, III
};

constexpr uint32_t kMpeg1SampleRates[3] = {44100, 48000, 32000};
constexpr size_t kId3v2HeaderSize = 10;
constexpr size_t kId3v1TagSize = 128;

// Length of an ID3v2 tag at the start of bytes (0 when there is none): 10-byte header, a
// 28-bit size in four 7-bit bytes, and a 10-byte footer when flag bit 4 is set.
size_t id3v2_length(std::string_view bytes) {
    if (bytes.size() < kId3v2HeaderSize || bytes.substr(0, 3) != "ID3") {
        return 0;
    }
    size_t size = 0;
    for (size_t i = 6; i < 10; ++i) {
        size = (size << 7) | (byte_at(bytes, i) & 0x7F);
    }
    const bool has_footer = (byte_at(bytes, 5) & 0x10) != 0;
    return kId3v2HeaderSize + size + (has_footer ? kId3v2HeaderSize : 0);
}

}  // namespace

std::optional<MpegAudioHeader> parse_mpeg_audio_header(std::string_view bytes) {
    if (bytes.size() < 4) {
        return std::nullopt;
    }
    const uint32_t header = (static_cast<uint32_t>(byte_at(bytes, 0)) << 24) |
                            (static_cast<uint32_t>(byte_at(bytes, 1)) << 16) |
                            (static_cast<uint32_t>(byte_at(bytes, 2)) << 8) | byte_at(bytes, 3);
    if ((header >> 21) != 0x7FF) {
        return std::nullopt;
    }
    const uint32_t version = (header >> 19) & 3;  // 0: MPEG 2.5, 1: reserved, 2: MPEG 2, 3: MPEG 1
    const uint32_t layer_bits = (header >> 17) & 3;  // 1: III, 2: II, 3: I, 0: reserved
    const uint32_t bit_rate_index = (header >> 12) & 0xF;
    const uint32_t sample_rate_index = (header >> 10) & 3;
    const uint32_t padding = (header >> 9) & 1;
    if (version == 1 || layer_bits == 0 || bit_rate_index == 0 || bit_rate_index == 15 ||
        sample_rate_index == 3) {
        return std::nullopt;
    }
    const uint32_t layer = 4 - layer_bits;
    const bool mpeg1 = version == 3;
    const size_t table = mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4);
    const uint32_t bit_rate = kBitRates[table][bit_rate_index - 1] * 1000;

    MpegAudioHeader result;
    result.sample_rate =
        kMpeg1SampleRates[sample_rate_index] >> (mpeg1 ? 0 : (version == 2 ? 1 : 2));
    if (layer == 1) {
        // Layer I counts 4-byte slots: 384 samples = 12 * 32 slots.
        result.samples = 384;
        result.frame_size = (12 * bit_rate / result.sample_rate + padding) * 4;
    } else {
        result.samples = (layer == 3 && !mpeg1) ? 576 : 1152;
        result.frame_size = result.samples / 8 * bit_rate / result.sample_rate + padding;
    }
    return result;
}

std::optional<Mp3Stream> split_mp3_frames(std::string_view bytes, std::string& error) {
    size_t position = id3v2_length(bytes);
    size_t end = bytes.size();
    if (end >= kId3v1TagSize && bytes.substr(end - kId3v1TagSize, 3) == "TAG") {
        end -= kId3v1TagSize;
    }
    if (position > end) {
        error = "the ID3v2 tag is longer than the file";
        return std::nullopt;
    }
    const std::string_view audio = bytes.substr(0, end);
    Mp3Stream stream;
    while (position < audio.size()) {
        const std::optional<MpegAudioHeader> header =
            parse_mpeg_audio_header(audio.substr(position));
        if (!header) {
            error = "no MPEG audio frame header at offset " + std::to_string(position);
            return std::nullopt;
        }
        if (!fits(audio, position, header->frame_size)) {
            error = "MPEG audio frame at offset " + std::to_string(position) + " is cut short";
            return std::nullopt;
        }
        if (stream.sample_rate != 0 && header->sample_rate != stream.sample_rate) {
            error = "sample rate changes at offset " + std::to_string(position);
            return std::nullopt;
        }
        stream.sample_rate = header->sample_rate;
        stream.frames.push_back(audio.substr(position, header->frame_size));
        stream.samples_per_frame.push_back(header->samples);
        position += header->frame_size;
    }
    if (stream.frames.empty()) {
        error = "no MPEG audio frame";
        return std::nullopt;
    }
    return stream;
}

}  // namespace tarnel
