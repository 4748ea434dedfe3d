#include "support/subtitle_chunks.h"

namespace tarnel::test {

namespace {

unsigned byte_at(const std::string& bytes, size_t at) {
    return static_cast<unsigned char>(bytes[at]);
}

unsigned le16_at(const std::string& bytes, size_t at) {
    return byte_at(bytes, at) | (byte_at(bytes, at + 1) << 8);
}

}  // namespace

std::vector<FoundSubtitle> find_subtitles(const std::string& bytes) {
    std::vector<FoundSubtitle> found;
    for (size_t at = bytes.find("SUBT"); at != std::string::npos; at = bytes.find("SUBT", at + 1)) {
        // Layout from the chunk's length field: length L + 25, "SUBT", L + 23, "english\0", the
        // text, 3 zero bytes, display time, 3 zero bytes, x, y, red, green, blue, FF FF 00.
        if (at < 2 || at + 29 > bytes.size()) {
            continue;
        }
        const unsigned chunk_length = le16_at(bytes, at - 2);
        if (chunk_length < 25 || le16_at(bytes, at + 4) != chunk_length - 2 ||
            bytes.compare(at + 6, 8, std::string("english\0", 8)) != 0) {
            continue;
        }
        const size_t text_length = chunk_length - 25;
        const size_t text_at = at + 14;
        const size_t tail = text_at + text_length;
        if (tail + 15 > bytes.size()) {
            continue;
        }
        FoundSubtitle subtitle;
        subtitle.offset = at;
        subtitle.text = bytes.substr(text_at, text_length);
        subtitle.display_time = static_cast<int>(byte_at(bytes, tail + 3));
        subtitle.x = static_cast<int>(byte_at(bytes, tail + 7));
        subtitle.y = static_cast<int>(byte_at(bytes, tail + 8));
        subtitle.red = static_cast<int>(byte_at(bytes, tail + 9));
        subtitle.green = static_cast<int>(byte_at(bytes, tail + 10));
        subtitle.blue = static_cast<int>(byte_at(bytes, tail + 11));
        found.push_back(subtitle);
    }
    return found;
}

size_t count_end_markers(const std::string& bytes) {
    const std::string marker("\0\0ASYN", 6);
    size_t count = 0;
    for (size_t at = bytes.find(marker); at != std::string::npos; at = bytes.find(marker, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace tarnel::test
