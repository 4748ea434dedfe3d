#include "support/nsv_writer.h"

#include <fstream>
#include <stdexcept>

#include "nsv/nsv_format.h"

namespace tarnel::test {

std::string le16(unsigned value) {
    std::string out(2, '\0');
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>((value >> 8) & 0xFF);
    return out;
}

std::string le32(uint32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return out;
}

char NsvWriter::pattern_byte(size_t k, size_t i) {
    // Differs per payload and per position; the reader never looks inside payloads.
    return static_cast<char>((k * 37 + i * 11 + (i >> 8) * 3 + 1) & 0xFF);
}

std::string NsvWriter::pattern(size_t length) {
    std::string out(length, '\0');
    for (size_t i = 0; i < length; ++i) {
        out[i] = pattern_byte(payloads_, i);
    }
    ++payloads_;
    return out;
}

NsvWriter& NsvWriter::file_header(const std::string& metadata, bool zero_terminated,
                                  size_t padding) {
    std::string area = metadata;
    if (zero_terminated) {
        area.push_back('\0');
    }
    area.append(padding, '\x5A');
    return file_header_raw(static_cast<uint32_t>(nsv::kFileHeaderFixedSize + area.size()), area);
}

NsvWriter& NsvWriter::file_header_raw(uint32_t declared_size, const std::string& area) {
    bytes_ += "NSVf";
    bytes_ += le32(declared_size);
    for (uint32_t word = 1; word <= 5; ++word) {
        bytes_ += le32(word);
    }
    bytes_ += area;
    return *this;
}

void NsvWriter::add_frame(bool sync, const SyncFields& fields, int video_length, int audio_length,
                          int aux_count, const std::string& payload) {
    FrameRecord record;
    record.sync = sync;
    record.offset = bytes_.size();
    if (sync) {
        bytes_ += "NSVs";
        std::string video = fields.video_format.substr(0, 4);
        std::string audio = fields.audio_format.substr(0, 4);
        video.resize(4, '\0');
        audio.resize(4, '\0');
        bytes_ += video;
        bytes_ += audio;
        bytes_ += le16(static_cast<unsigned>(fields.width) & 0xFFFF);
        bytes_ += le16(static_cast<unsigned>(fields.height) & 0xFFFF);
        bytes_.push_back(static_cast<char>(fields.rate_code));
        bytes_.push_back(static_cast<char>(fields.unused[0]));
        bytes_.push_back(static_cast<char>(fields.unused[1]));
    } else {
        bytes_.push_back(static_cast<char>(nsv::kContinuationByte0));
        bytes_.push_back(static_cast<char>(nsv::kContinuationByte1));
    }
    record.header_offset = bytes_.size();
    char header[nsv::kFrameHeaderSize];
    nsv::encode_frame_header(header, video_length, audio_length, 0);
    header[0] =
        static_cast<char>((static_cast<unsigned char>(header[0]) & 0xF0) | (aux_count & 0x0F));
    bytes_.append(header, nsv::kFrameHeaderSize);
    record.payload_offset = bytes_.size();
    record.video_length = video_length;
    record.audio_length = audio_length;
    bytes_ += payload;
    frames_.push_back(record);
}

NsvWriter& NsvWriter::sync_frame(int video_length, int audio_length, const SyncFields& fields,
                                 int aux_count) {
    add_frame(true, fields, video_length, audio_length, aux_count,
              pattern(static_cast<size_t>(video_length + audio_length)));
    return *this;
}

NsvWriter& NsvWriter::sync_frame(int video_length, int audio_length, unsigned char rate_code) {
    SyncFields fields;
    fields.rate_code = rate_code;
    return sync_frame(video_length, audio_length, fields);
}

NsvWriter& NsvWriter::continuation_frame(int video_length, int audio_length, int aux_count) {
    add_frame(false, SyncFields{}, video_length, audio_length, aux_count,
              pattern(static_cast<size_t>(video_length + audio_length)));
    return *this;
}

NsvWriter& NsvWriter::frame_with_payload(bool sync, const std::string& payload, int video_length,
                                         const SyncFields& fields, int aux_count) {
    const int audio_length = static_cast<int>(payload.size()) - video_length;
    if (audio_length < 0) {
        throw std::invalid_argument("payload shorter than the video length");
    }
    add_frame(sync, fields, video_length, audio_length, aux_count, payload);
    return *this;
}

NsvWriter& NsvWriter::frames(int count, unsigned char rate_code, int video_length, int audio_length,
                             int sync_every) {
    SyncFields fields;
    fields.rate_code = rate_code;
    for (int i = 0; i < count; ++i) {
        if (i == 0 || (sync_every > 0 && i % sync_every == 0)) {
            sync_frame(video_length, audio_length, fields);
        } else {
            continuation_frame(video_length, audio_length);
        }
    }
    return *this;
}

NsvWriter& NsvWriter::raw(const std::string& bytes) {
    bytes_ += bytes;
    return *this;
}

NsvWriter& NsvWriter::truncate(size_t size) {
    if (size < bytes_.size()) {
        bytes_.resize(size);
    }
    return *this;
}

NsvWriter& NsvWriter::cut(size_t count) {
    return truncate(count < bytes_.size() ? bytes_.size() - count : 0);
}

std::string NsvWriter::write(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes_.data(), static_cast<std::streamsize>(bytes_.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

}  // namespace tarnel::test
