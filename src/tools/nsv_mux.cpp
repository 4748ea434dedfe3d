#include "tools/nsv_mux.h"

#include <limits>
#include <numeric>

#include "config/strformat.h"
#include "nsv/nsv_frame_rate.h"
#include "tools/byte_order.h"

namespace tarnel {
namespace {

constexpr size_t kFileHeaderFixedSize = 28;
constexpr size_t kFileSizeWordOffset = 8;
constexpr uint32_t kMaxPictureSide = 0x7FFF;  // width and height are signed 16-bit fields

std::string quoted_field(const std::string& key, const std::string& raw_value) {
    std::string value;
    for (const char c : raw_value) {
        if (c != '\0') {
            value.push_back(c);
        }
    }
    char delimiter = '"';
    for (const char candidate : std::string_view("\"'|`~^")) {
        if (value.find(candidate) == std::string::npos) {
            delimiter = candidate;
            break;
        }
    }
    if (value.find(delimiter) != std::string::npos) {
        // Every candidate occurs in the value: drop the double quotes rather than end early.
        std::string without;
        for (const char c : value) {
            if (c != '"') {
                without.push_back(c);
            }
        }
        value = without;
    }
    return key + "=" + delimiter + value + delimiter;
}

uint32_t clamp_to_32_bits(uint64_t value) {
    return static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

void write_sync_prefix(std::string& out, const IvfStream& video, bool has_audio,
                       uint8_t rate_code) {
    out += "NSVs";
    out += "VP80";
    out += has_audio ? "MP3 " : "NONE";
    append_le16(out, video.width);
    append_le16(out, video.height);
    append_byte(out, rate_code);
    append_le16(out, 0);  // audio/video sync offset: none
}

}  // namespace

std::string encode_nsv_frame_header(uint32_t video_length, uint32_t audio_length,
                                    uint32_t aux_count) {
    std::string out;
    append_byte(out, ((video_length & 0xF) << 4) | (aux_count & 0xF));
    append_byte(out, video_length >> 4);
    append_byte(out, video_length >> 12);
    append_le16(out, audio_length);
    return out;
}

std::string nsv_metadata_text(const std::string& title, const std::string& url) {
    std::string text;
    if (!title.empty()) {
        text += quoted_field("TITLE", title);
    }
    if (!url.empty()) {
        text += (text.empty() ? "" : " ") + quoted_field("URL", url);
    }
    return text;
}

std::optional<NsvMuxResult> mux_nsv(const IvfStream& video, const Mp3Stream* audio,
                                    const std::string& metadata, std::string& error) {
    if (video.fourcc != "VP80") {
        error = "the video is not VP8 (IVF fourcc \"" + video.fourcc + "\", expected \"VP80\")";
        return std::nullopt;
    }
    if (video.frames.empty()) {
        error = "the video has no frames";
        return std::nullopt;
    }
    if (video.width > kMaxPictureSide || video.height > kMaxPictureSide) {
        error = strformat("picture size %ux%u is beyond 32767", video.width, video.height);
        return std::nullopt;
    }
    const std::optional<uint8_t> rate_code = nsv_frame_rate_code(video.time_rate, video.time_scale);
    if (!rate_code) {
        error = strformat(
            "frame rate %u/%u cannot be stored in NSV (use a whole rate from 1 to 127, or "
            "15000/1001, 24000/1001, 30000/1001, 48000/1001, 60000/1001)",
            video.time_rate, video.time_scale);
        return std::nullopt;
    }
    // Frame i ends at (i + 1) * scale / rate seconds; audio frame k starts at
    // samples_before_k / sample_rate seconds. Reduced, the products below stay far below 2^64.
    const uint32_t divisor = std::gcd(video.time_rate, video.time_scale);
    const uint64_t rate = video.time_rate / divisor;
    const uint64_t scale = video.time_scale / divisor;

    std::string text = metadata;
    text.push_back('\0');
    NsvMuxResult result;
    std::string& out = result.bytes;
    out += "NSVf";
    append_le32(out, clamp_to_32_bits(kFileHeaderFixedSize + text.size()));
    append_le32(out, 0);  // file size, written when known
    append_le32(out, clamp_to_32_bits(video.frames.size() * 1000 * scale / rate));
    append_le32(out, clamp_to_32_bits(text.size()));
    append_le32(out, 0);  // index entries: none
    append_le32(out, 0);  // index entries used: none
    out += text;

    size_t audio_next = 0;
    uint64_t audio_samples = 0;  // samples before audio frame audio_next
    for (size_t i = 0; i < video.frames.size(); ++i) {
        const std::string_view picture = video.frames[i].data;
        const size_t audio_first = audio_next;
        size_t audio_length = 0;
        while (audio != nullptr && audio_next < audio->frames.size() &&
               audio_samples * rate < (i + 1) * scale * audio->sample_rate) {
            audio_length += audio->frames[audio_next].size();
            audio_samples += audio->samples_per_frame[audio_next];
            ++audio_next;
        }
        if (picture.size() > kMaxNsvVideoLength) {
            error = strformat("video frame %zu is %zu bytes; an NSV frame holds at most 1048575", i,
                              picture.size());
            return std::nullopt;
        }
        if (audio_length > kMaxNsvAudioLength) {
            error =
                strformat("the audio of frame %zu is %zu bytes; an NSV frame holds at most 65535",
                          i, audio_length);
            return std::nullopt;
        }
        if (i == 0 || is_vp8_key_frame(picture)) {
            write_sync_prefix(out, video, audio != nullptr, *rate_code);
            ++result.sync_frames;
        } else {
            out += "\xEF\xBE";
        }
        out += encode_nsv_frame_header(static_cast<uint32_t>(picture.size()),
                                       static_cast<uint32_t>(audio_length), 0);
        out += picture;
        for (size_t k = audio_first; k < audio_next; ++k) {
            out += audio->frames[k];
        }
        ++result.frames;
    }
    if (audio != nullptr) {
        result.dropped_audio_frames = audio->frames.size() - audio_next;
    }
    std::string file_size;
    append_le32(file_size, clamp_to_32_bits(out.size()));
    out.replace(kFileSizeWordOffset, file_size.size(), file_size);
    return result;
}

}  // namespace tarnel
