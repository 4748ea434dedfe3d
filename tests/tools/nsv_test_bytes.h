#pragma once

// Builders and a small frame lister for handcrafted NSV, IVF and MP3 bytes in the tests. They
// are written out field by field, independently of the code under test.

#include <cstdint>
#include <string>
#include <vector>

namespace tarnel::test {

inline std::string le16(uint32_t value) {
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

inline std::string le32(uint32_t value) {
    return le16(value & 0xFFFF) + le16(value >> 16);
}

// 5-byte frame header: aux count and video length bits 0-3 in byte 0, then video bits 4-19,
// then the 16-bit audio length.
inline std::string frame_header(uint32_t video, uint32_t audio, uint32_t aux = 0) {
    std::string out;
    out.push_back(static_cast<char>(((video & 0xF) << 4) | aux));
    out.push_back(static_cast<char>((video >> 4) & 0xFF));
    out.push_back(static_cast<char>((video >> 12) & 0xFF));
    return out + le16(audio);
}

inline std::string sync_frame(const std::string& video, const std::string& audio,
                              uint8_t rate_code = 0x1E, uint16_t width = 160,
                              uint16_t height = 120) {
    return "NSVsVP80MP3 " + le16(width) + le16(height) +
           std::string(1, static_cast<char>(rate_code)) + std::string(2, '\0') +
           frame_header(static_cast<uint32_t>(video.size()), static_cast<uint32_t>(audio.size())) +
           video + audio;
}

inline std::string continuation_frame(const std::string& video, const std::string& audio) {
    return "\xEF\xBE" +
           frame_header(static_cast<uint32_t>(video.size()), static_cast<uint32_t>(audio.size())) +
           video + audio;
}

// "NSVf" file header whose header size field is 28 + area size unless size is given.
inline std::string file_header(const std::string& area, int64_t size = -1) {
    const uint32_t header_size =
        size >= 0 ? static_cast<uint32_t>(size) : static_cast<uint32_t>(28 + area.size());
    return "NSVf" + le32(header_size) + std::string(20, '\0') + area;
}

// One frame of an NSV file as a test reads it back.
struct ListedFrame {
    bool sync = false;
    std::string prefix;
    std::string video;
    std::string audio;
};

// Lists the frames that follow the file header; stops quietly at anything it cannot read.
inline std::vector<ListedFrame> list_frames(const std::string& bytes) {
    std::vector<ListedFrame> frames;
    size_t position = 0;
    if (bytes.compare(0, 4, "NSVf") == 0 && bytes.size() >= 8) {
        position = static_cast<unsigned char>(bytes[4]) |
                   (static_cast<unsigned char>(bytes[5]) << 8) |
                   (static_cast<unsigned char>(bytes[6]) << 16);
    }
    for (int guard = 0; guard < 100000 && position < bytes.size(); ++guard) {
        ListedFrame frame;
        frame.sync = bytes.compare(position, 4, "NSVs") == 0;
        const size_t prefix = frame.sync ? 19 : 2;
        if (!frame.sync && bytes.compare(position, 2, "\xEF\xBE") != 0) {
            break;
        }
        if (position + prefix + 5 > bytes.size()) {
            break;
        }
        auto byte = [&](size_t i) {
            return static_cast<size_t>(static_cast<unsigned char>(bytes[position + prefix + i]));
        };
        const size_t video = (byte(2) << 12) | (byte(1) << 4) | (byte(0) >> 4);
        const size_t audio = byte(3) | (byte(4) << 8);
        const size_t start = position + prefix + 5;
        if (start + video + audio > bytes.size()) {
            break;
        }
        frame.prefix = bytes.substr(position, prefix);
        frame.video = bytes.substr(start, video);
        frame.audio = bytes.substr(start + video, audio);
        frames.push_back(frame);
        position = start + video + audio;
    }
    return frames;
}

// A 32-byte IVF header followed by the frames, each with its 12-byte header (pts = index).
inline std::string ivf_file(const std::vector<std::string>& frames, uint32_t rate = 30,
                            uint32_t scale = 1, const std::string& fourcc = "VP80",
                            uint16_t width = 160, uint16_t height = 120) {
    std::string out = "DKIF" + le16(0) + le16(32) + fourcc + le16(width) + le16(height) +
                      le32(rate) + le32(scale) + le32(static_cast<uint32_t>(frames.size())) +
                      le32(0);
    for (size_t i = 0; i < frames.size(); ++i) {
        out += le32(static_cast<uint32_t>(frames[i].size())) + le32(static_cast<uint32_t>(i)) +
               le32(0) + frames[i];
    }
    return out;
}

// An MPEG audio frame: the 4 header bytes, then filler up to size bytes.
inline std::string mpeg_frame(const std::string& header, size_t size, char filler = 'a') {
    return header + std::string(size - header.size(), filler);
}

// MPEG 1 layer III, 128 kbit/s, 44100 Hz, no padding: 417 bytes, 1152 samples.
inline const std::string kMp3Header128k("\xFF\xFB\x90\x00", 4);

}  // namespace tarnel::test
