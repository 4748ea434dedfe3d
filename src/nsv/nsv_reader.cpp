#include "nsv/nsv_reader.h"

#include <climits>
#include <cstring>
#include <vector>

#include "config/log.h"
#include "config/strformat.h"
#include "nsv/nsv_format.h"

namespace tarnel {

int hex_video_sz = 0;
int hex_audio_sz = 0;
int frames_wait = 0;

void reset_nsv_state() {
    hex_video_sz = 0;
    hex_audio_sz = 0;
    frames_wait = 0;
}

int nibbleToInt(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return 0;
}

namespace {

// The stdio buffer of an open file. The scan reads a few bytes per frame and seeks over payloads;
// with a buffer this size a whole second normally stays in it, so the scan costs few system
// calls and GetData copies the second out of memory instead of reading it again.
constexpr size_t kStdioBufferSize = 256 * 1024;

// The most GetData can add to a second; a second must leave room for it in the int result.
constexpr long kMaxInserted = nsv::kMaxSubtitleTextLength + nsv::kSubtitleChunkOverhead;

}  // namespace

NSVReader::NSVReader() = default;

NSVReader::NSVReader(bool debug_trace) : debug(debug_trace) {}

NSVReader::~NSVReader() {
    // Closed before stdio_buffer_ is released: the stream uses that buffer until fclose.
    file.reset();
}

bool NSVReader::Open(std::string path) {
    file.reset();
    unreadable_ = false;
    finished_ = false;
    second_frames_ = 0;
    last_payload_offset_ = -1;
    file = open_file(path, "r");
    if (file == nullptr) {
        return false;
    }
    if (stdio_buffer_ == nullptr) {
        stdio_buffer_.reset(new char[kStdioBufferSize]);
    }
    std::setvbuf(file.get(), stdio_buffer_.get(), _IOFBF, kStdioBufferSize);
    return true;
}

bool NSVReader::GetHeader(std::string* metadata) {
    if (file == nullptr) {
        return false;
    }
    std::FILE* f = file.get();
    std::fseek(f, 0, SEEK_SET);
    char marker[4] = {};
    if (std::fread(marker, 1, 4, f) < 4 || !nsv::is_file_header_marker(marker)) {
        std::fseek(f, 0, SEEK_SET);
        return false;
    }
    char fixed[nsv::kFileHeaderFixedSize - 4] = {};
    const size_t fixed_read = std::fread(fixed, 1, sizeof fixed, f);

    std::fseek(f, 0, SEEK_END);
    const long file_end = std::ftell(f);
    // A size field cut off by the end of the file counts as invalid.
    const long header_size = fixed_read >= 4 ? static_cast<long>(nsv::read_u32(fixed)) : 0;
    const bool valid = header_size >= nsv::kFileHeaderFixedSize && header_size <= file_end;

    // The metadata area as far as the file holds it.
    const long area_end = header_size < file_end ? header_size : file_end;
    std::string text;
    if (area_end > nsv::kFileHeaderFixedSize) {
        std::vector<char> area(static_cast<size_t>(area_end - nsv::kFileHeaderFixedSize));
        std::fseek(f, nsv::kFileHeaderFixedSize, SEEK_SET);
        const size_t got = std::fread(area.data(), 1, area.size(), f);
        text = nsv::metadata_text(area.data(), got);
    }
    if (metadata != nullptr) {
        *metadata = text;
    }
    if (valid) {
        std::fseek(f, header_size, SEEK_SET);
    } else {
        unreadable_ = true;
        std::fseek(f, 0, SEEK_END);
    }
    return true;
}

void NSVReader::GetFileInfo(char* video_type, char* audio_type, int* height_out, int* width_out) {
    if (video_type != nullptr) {
        std::memcpy(video_type, video_format, std::strlen(video_format) + 1);
    }
    if (audio_type != nullptr) {
        std::memcpy(audio_type, audio_format, std::strlen(audio_format) + 1);
    }
    if (height_out != nullptr) {
        *height_out = height;
    }
    if (width_out != nullptr) {
        *width_out = width;
    }
}

void NSVReader::Debug(std::string message) {
    if (debug) {
        console() << "DEBUG: " << message << '\n';
    }
}

std::string NSVReader::IntToHex(char byte, bool high_only) {
    const std::string digits = nsv::hex_text(&byte, 1);
    return high_only ? digits.substr(0, 1) : digits;
}

void NSVReader::CreateFrameHeader(char* out, int video_length, int audio_length, int aux_flag) {
    nsv::encode_frame_header(out, video_length, audio_length, aux_flag);
}

void NSVReader::Report(long start, long length, long* start_out, long* length_out,
                       double* rate_out) const {
    if (start_out != nullptr) {
        *start_out = start;
    }
    if (length_out != nullptr) {
        *length_out = length;
    }
    if (rate_out != nullptr) {
        *rate_out = framerate;
    }
}

int NSVReader::GetSecond(char* /*unused*/, long* start_out, long* length_out, double* rate_out,
                         int* frames_out, int frame_limit) {
    second_length_ = 0;
    second_frames_ = 0;
    last_payload_offset_ = -1;
    if (file == nullptr) {
        Report(0, 0, start_out, length_out, rate_out);
        return -1;
    }
    std::FILE* f = file.get();
    const long start = std::ftell(f);
    if (start < 0 || unreadable_ || finished_) {
        Debug("Finished Processing File");
        Report(start < 0 ? 0 : start, 0, start_out, length_out, rate_out);
        return -1;
    }

    // Ends the call at the current position (step 2 and the end-of-file steps).
    const auto finish = [&](long end) {
        const long length = end - start;
        second_length_ = length;
        Report(start, length, start_out, length_out, rate_out);
        return length < 1 ? -1 : 0;
    };

    for (int n = 1;; ++n) {
        const int per_second = nsv::frames_per_second(framerate);
        if ((per_second != 0 && n > per_second) || (frame_limit != 0 && n > frame_limit)) {
            return finish(std::ftell(f));
        }
        Debug(strformat("FRAME: %d/%.2f", n, framerate));

        const long frame_start = std::ftell(f);
        // Zero-filled, so a prefix or header cut off by the end of the file reads as zeros.
        char prefix[nsv::kSyncPrefixSize] = {};
        char header[nsv::kFrameHeaderSize] = {};
        size_t header_read = 0;
        if (std::fread(prefix, 1, 4, f) < 4) {
            Debug("Finished Processing File");
            return finish(std::ftell(f));
        }

        if (nsv::is_sync_marker(prefix)) {
            Debug("NSVs HEADER FOUND");
            const size_t rest = std::fread(prefix + 4, 1, nsv::kSyncPrefixRest, f);
            std::memcpy(video_format, prefix + nsv::kSyncVideoFormatOffset, 4);
            video_format[4] = '\0';
            std::memcpy(audio_format, prefix + nsv::kSyncAudioFormatOffset, 4);
            audio_format[4] = '\0';
            width = nsv::read_i16(prefix + nsv::kSyncWidthOffset);
            height = nsv::read_i16(prefix + nsv::kSyncHeightOffset);
            Debug(std::string("NSV VIDEO: ") + video_format);
            Debug(std::string("NSV AUDIO: ") + audio_format);
            Debug(strformat("HEIGHT: %d", height));
            Debug(strformat("WIDTH: %d", width));
            if (framerate == 0) {
                framerate = nsv::decode_frame_rate(
                    static_cast<unsigned char>(prefix[nsv::kSyncRateOffset]));
            }
            header_read = std::fread(header, 1, nsv::kFrameHeaderSize, f);
            if (rest < static_cast<size_t>(nsv::kSyncPrefixRest)) {
                header_read = 0;  // the header bytes are not where the prefix says
            }
        } else {
            // The spec seeks back four bytes and reads two; the first two of the four already
            // read are those bytes, and the other two are the start of the frame header.
            Debug("Chunk Continuation found");
            Debug(IntToHex(prefix[1], false) + IntToHex(prefix[0], false));
            if (nsv::is_continuation_marker(prefix)) {
                header[0] = prefix[2];
                header[1] = prefix[3];
                header_read = 2 + std::fread(header + 2, 1, nsv::kFrameHeaderSize - 2, f);
            } else {
                // Unrecognised frame start: advance by the last known payload length.
                const int video = hex_video_sz;
                const int audio = hex_audio_sz;
                Debug(strformat("VIDEO SIZE: %d", video));
                Debug(strformat("AUDIO SIZE: %d", audio));
                if (video + audio == 0) {
                    // No progress possible: the second and the file end at this frame start.
                    Debug("Finished Processing File");
                    finished_ = true;
                    std::fseek(f, frame_start, SEEK_SET);
                    return finish(frame_start);
                }
                video_size = video;
                audio_size = audio;
                frame_size = video + audio;
                std::fseek(f, frame_start + frame_size, SEEK_SET);
                second_frames_ = n;
                last_payload_offset_ = -1;
                if (frames_out != nullptr) {
                    *frames_out = n;
                }
                continue;
            }
        }

        const nsv::FrameHeader decoded = nsv::decode_frame_header(header);
        video_size = decoded.video_length;
        audio_size = decoded.audio_length;
        hex_video_sz = video_size;
        hex_audio_sz = audio_size;
        Debug("RAW FRAME HEADER: " + nsv::hex_text(header, nsv::kFrameHeaderSize));
        Debug(strformat("VIDEO SIZE: %d", video_size));
        Debug(strformat("AUDIO SIZE: %d", audio_size));

        frame_size = video_size + audio_size;
        const long payload_start = std::ftell(f);
        std::fseek(f, frame_size, SEEK_CUR);
        second_frames_ = n;
        last_payload_offset_ =
            header_read == static_cast<size_t>(nsv::kFrameHeaderSize) ? payload_start - start : -1;
        if (frames_out != nullptr) {
            *frames_out = n;
        }
    }
}

long NSVReader::InsertionOffset(long length, long bytes_read) const {
    if (second_frames_ == 0 || last_payload_offset_ < 0 || length != second_length_) {
        return -1;
    }
    const long p = last_payload_offset_;
    if (p < nsv::kFrameHeaderSize || p > bytes_read) {
        return -1;
    }
    return p;
}

int NSVReader::GetData(char* buffer, long length, bool* next_track, std::string subtitle,
                       int display_time, int x, int y, int red, int green, int blue) {
    if (file == nullptr || buffer == nullptr || length <= 0 || length > INT_MAX - kMaxInserted) {
        return -1;
    }
    std::FILE* f = file.get();
    if (std::fseek(f, -length, SEEK_CUR) != 0) {
        return -1;
    }
    const auto bytes_read = static_cast<long>(std::fread(buffer, 1, static_cast<size_t>(length), f));
    char look_ahead[10];
    const size_t ahead = std::fread(look_ahead, 1, sizeof look_ahead, f);
    if (ahead > 0) {
        std::fseek(f, -static_cast<long>(ahead), SEEK_CUR);
    }

    const int step = nsv::frames_per_second(framerate);
    frames_wait = frames_wait < INT_MIN + step ? INT_MIN : frames_wait - step;

    // Moves the last frame's payload up by the chunk's size, rewrites its header and returns
    // where the chunk goes.
    const auto make_room = [&](long p, int chunk_size) {
        char new_header[nsv::kFrameHeaderSize];
        CreateFrameHeader(new_header, video_size + chunk_size, audio_size, 1);
        Debug("CREATED FRAME HEADER: " + nsv::hex_text(new_header, nsv::kFrameHeaderSize));
        std::memmove(buffer + p + chunk_size, buffer + p, static_cast<size_t>(bytes_read - p));
        std::memcpy(buffer + p - nsv::kFrameHeaderSize, new_header, nsv::kFrameHeaderSize);
        return buffer + p;
    };

    if (ahead < sizeof look_ahead || (next_track != nullptr && *next_track)) {
        if (next_track != nullptr) {
            *next_track = false;
        }
        const long p = InsertionOffset(length, bytes_read);
        if (p < 0 || video_size + nsv::kEndMarkerChunkSize > nsv::kMaxVideoLength) {
            return static_cast<int>(bytes_read);
        }
        nsv::write_end_marker_chunk(make_room(p, nsv::kEndMarkerChunkSize));
        return static_cast<int>(bytes_read + nsv::kEndMarkerChunkSize);
    }

    if (subtitle.empty() || frames_wait > 0 || subtitle.size() > nsv::kMaxSubtitleTextLength) {
        return static_cast<int>(bytes_read);
    }
    const int chunk_size = static_cast<int>(nsv::subtitle_chunk_size(subtitle));
    const long p = InsertionOffset(length, bytes_read);
    if (p < 0 || video_size + chunk_size > nsv::kMaxVideoLength) {
        return static_cast<int>(bytes_read);
    }
    frames_wait = display_time;
    nsv::write_subtitle_chunk(make_room(p, chunk_size), subtitle,
                              nsv::SubtitleStyle{display_time, x, y, red, green, blue});
    return static_cast<int>(bytes_read + chunk_size);
}

}  // namespace tarnel
