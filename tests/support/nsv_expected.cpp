#include "support/nsv_expected.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace tarnel::test {

namespace {

// The file as the reader sees it through stdio: bytes past the end read as nothing, and a field
// cut off by the end counts as zero bytes.
class Bytes {
  public:
    explicit Bytes(const std::string& bytes) : bytes_(bytes) {}
    long size() const { return static_cast<long>(bytes_.size()); }
    unsigned char at(long i) const {
        return i >= 0 && i < size() ? static_cast<unsigned char>(bytes_[static_cast<size_t>(i)])
                                    : 0;
    }
    // How many of count bytes from pos the file holds.
    long available(long pos, long count) const { return std::clamp(size() - pos, 0L, count); }
    std::string slice(long pos, long count) const {
        const long n = available(pos, count);
        return n > 0 ? bytes_.substr(static_cast<size_t>(pos), static_cast<size_t>(n)) : "";
    }
    // Copies count bytes from pos, zeros past the end.
    std::string field(long pos, long count) const {
        std::string out(static_cast<size_t>(count), '\0');
        for (long i = 0; i < count; ++i) {
            out[static_cast<size_t>(i)] = static_cast<char>(at(pos + i));
        }
        return out;
    }

  private:
    const std::string& bytes_;
};

struct ScanState {
    double framerate = 0;
    std::string video_format;
    std::string audio_format;
    int height = 0;
    int width = 0;
    int video_size = 0;  // of the last frame scanned
    int audio_size = 0;
    bool finished = false;
};

struct Scan {
    int result = -1;
    long start = 0;
    long length = 0;
    int frames = 0;
    long last_payload_offset = -1;  // -1: last frame cannot carry a chunk
};

Scan scan_second(const Bytes& file, long start, int frame_limit, ScanState& s,
                 NsvProcessState& process) {
    Scan scan;
    scan.start = start;
    if (s.finished) {
        return scan;
    }
    long pos = start;
    const auto stop = [&](long end) {
        scan.length = end - start;
        scan.result = scan.length < 1 ? -1 : 0;
        return scan;
    };
    for (int n = 1;; ++n) {
        const int per_second = s.framerate > 0 ? static_cast<int>(std::ceil(s.framerate)) : 0;
        if ((per_second != 0 && n > per_second) || (frame_limit != 0 && n > frame_limit)) {
            return stop(pos);
        }
        if (file.available(pos, 4) < 4) {
            return stop(std::max(pos, file.size()));
        }
        const std::string marker = file.field(pos, 4);
        long header_pos = 0;
        bool header_complete = false;
        if (marker == "NSVs") {
            const std::string prefix = file.field(pos, nsv::kSyncPrefixSize);
            const bool prefix_complete =
                file.available(pos, nsv::kSyncPrefixSize) == nsv::kSyncPrefixSize;
            s.video_format = nsv::format_code(prefix.data() + 4);
            s.audio_format = nsv::format_code(prefix.data() + 8);
            s.width = nsv::read_i16(prefix.data() + 12);
            s.height = nsv::read_i16(prefix.data() + 14);
            if (s.framerate == 0) {
                s.framerate = nsv::decode_frame_rate(static_cast<unsigned char>(prefix[16]));
            }
            // After a cut prefix the header is read at the end of the file: nothing.
            header_pos = prefix_complete ? pos + nsv::kSyncPrefixSize : file.size();
            header_complete = prefix_complete && file.available(header_pos, 5) == 5;
        } else if (file.at(pos) == 0xEF && file.at(pos + 1) == 0xBE) {
            header_pos = pos + 2;
            header_complete = file.available(header_pos, 5) == 5;
        } else {
            const int payload = process.last_video_length + process.last_audio_length;
            if (payload == 0) {
                s.finished = true;
                return stop(pos);
            }
            s.video_size = process.last_video_length;
            s.audio_size = process.last_audio_length;
            pos += payload;
            scan.frames = n;
            scan.last_payload_offset = -1;
            continue;
        }
        const nsv::FrameHeader header = nsv::decode_frame_header(file.field(header_pos, 5).data());
        s.video_size = header.video_length;
        s.audio_size = header.audio_length;
        process.last_video_length = header.video_length;
        process.last_audio_length = header.audio_length;
        const long payload_pos = header_pos + file.available(header_pos, 5);
        pos = payload_pos + header.payload_length();
        scan.frames = n;
        scan.last_payload_offset = header_complete ? payload_pos - start : -1;
    }
}

}  // namespace

std::string ExpectedFile::wire() const {
    std::string out;
    for (const ExpectedSecond& second : seconds) {
        out += second.wire;
    }
    return out;
}

std::vector<SecondOffer> same_offer(size_t seconds, const SecondOffer& offer) {
    return std::vector<SecondOffer>(seconds, offer);
}

ExpectedFile expected_stream(const std::string& file_bytes, const std::vector<SecondOffer>& offers,
                             NsvProcessState& process, const ExpectOptions& options) {
    const Bytes file(file_bytes);
    ExpectedFile expected;
    long pos = 0;

    // GetHeader
    if (file.available(0, 4) == 4 && file.field(0, 4) == "NSVf") {
        expected.has_header = true;
        const long header_size = file.available(4, 4) == 4
                                     ? static_cast<long>(nsv::read_u32(file.field(4, 4).data()))
                                     : 0;
        const long area_end = std::min(header_size, file.size());
        if (area_end > nsv::kFileHeaderFixedSize) {
            const std::string area =
                file.slice(nsv::kFileHeaderFixedSize, area_end - nsv::kFileHeaderFixedSize);
            expected.metadata = nsv::metadata_text(area.data(), area.size());
        }
        if (header_size < nsv::kFileHeaderFixedSize || header_size > file.size()) {
            expected.unreadable = true;
            return expected;
        }
        pos = header_size;
    }

    ScanState state;
    for (size_t index = 0;; ++index) {
        const Scan scan = scan_second(file, pos, options.frame_limit, state, process);
        if (scan.result != 0) {
            break;
        }
        const SecondOffer offer = index < offers.size() ? offers[index] : SecondOffer{};
        ExpectedSecond second;
        second.start = scan.start;
        second.length = scan.length;
        second.framerate = state.framerate;
        second.frames = scan.frames;
        second.video_format = state.video_format;
        second.audio_format = state.audio_format;
        second.height = state.height;
        second.width = state.width;

        // GetData: the bytes the file holds, a look-ahead of up to 10 bytes behind them.
        std::string data = file.slice(scan.start, scan.length);
        const long read = static_cast<long>(data.size());
        const bool at_end = file.available(scan.start + read, 10) < 10;
        const int step = state.framerate > 0 ? static_cast<int>(std::ceil(state.framerate)) : 0;
        process.frames_wait =
            process.frames_wait < INT_MIN + step ? INT_MIN : process.frames_wait - step;

        const long p = scan.last_payload_offset;
        const bool can_insert = scan.frames > 0 && p >= nsv::kFrameHeaderSize && p <= read;
        const auto insert = [&](const std::string& chunk) {
            const std::string header = nsv::encode_frame_header(
                state.video_size + static_cast<int>(chunk.size()), state.audio_size, 1);
            data.replace(static_cast<size_t>(p - nsv::kFrameHeaderSize), nsv::kFrameHeaderSize,
                         header);
            data.insert(static_cast<size_t>(p), chunk);
        };
        if (at_end || offer.next_track) {
            if (can_insert && state.video_size + nsv::kEndMarkerChunkSize <= nsv::kMaxVideoLength) {
                insert(nsv::end_marker_chunk());
                second.inserted = Inserted::kEndMarker;
            }
        } else if (!offer.subtitle.empty() && process.frames_wait <= 0 &&
                   offer.subtitle.size() <= nsv::kMaxSubtitleTextLength && can_insert &&
                   state.video_size + static_cast<long>(nsv::subtitle_chunk_size(offer.subtitle)) <=
                       nsv::kMaxVideoLength) {
            process.frames_wait = offer.style.display_time;
            insert(nsv::subtitle_chunk(offer.subtitle, offer.style));
            second.inserted = Inserted::kSubtitle;
        }
        second.data_result = static_cast<int>(data.size());
        second.wire = data;
        second.frames_wait_after = process.frames_wait;
        expected.seconds.push_back(second);

        // GetData leaves the file just after the bytes it read.
        pos = scan.start + read;
        if (offer.next_track && options.stop_after_next_track) {
            expected.stopped_by_next_track = true;
            break;
        }
    }
    return expected;
}

}  // namespace tarnel::test

#include <filesystem>

#include "nsv/nsv_reader.h"

namespace tarnel::test {

ExpectedFile run_reader(const std::string& path, const std::vector<SecondOffer>& offers,
                        const ExpectOptions& options) {
    ExpectedFile actual;
    NSVReader own_reader;
    NSVReader& reader = options.reader != nullptr ? *options.reader : own_reader;
    std::string kept_buffer;
    if (!reader.Open(path)) {
        actual.unreadable = true;
        return actual;
    }
    actual.has_header = reader.GetHeader(&actual.metadata);
    actual.unreadable = reader.IsUnreadable();
    const auto file_size = static_cast<long>(std::filesystem::file_size(path));
    char line_buffer[256] = {};
    for (size_t index = 0;; ++index) {
        ExpectedSecond second;
        if (reader.GetSecond(line_buffer, &second.start, &second.length, &second.framerate,
                             &second.frames, options.frame_limit) != 0) {
            break;
        }
        char video[16] = {};
        char audio[16] = {};
        reader.GetFileInfo(video, audio, &second.height, &second.width);
        second.video_format = video;
        second.audio_format = audio;
        const SecondOffer offer = index < offers.size() ? offers[index] : SecondOffer{};
        bool next_track = offer.next_track;
        std::string buffer(static_cast<size_t>(second.length) + offer.subtitle.size() + 35, '\0');
        int result = -1;
        if (options.in_two_steps) {
            // The bytes of the second before are still in the buffer, as in the streaming loop.
            kept_buffer.resize(std::max(kept_buffer.size(), buffer.size()), 'K');
            if (reader.ReadSecond(kept_buffer.data(), second.length) != -1) {
                result = reader.FinishSecond(kept_buffer.data(), &next_track, offer.subtitle,
                                             offer.style.display_time, offer.style.x, offer.style.y,
                                             offer.style.red, offer.style.green, offer.style.blue);
            }
            buffer = kept_buffer;
        } else {
            result = reader.GetData(buffer.data(), second.length, &next_track, offer.subtitle,
                                    offer.style.display_time, offer.style.x, offer.style.y,
                                    offer.style.red, offer.style.green, offer.style.blue);
        }
        second.data_result = result;
        if (result > 0) {
            second.wire = buffer.substr(0, static_cast<size_t>(result));
        }
        // The bytes the file holds for the second; what the result has beyond them was inserted.
        const long held = std::clamp(file_size - second.start, 0L, second.length);
        const long grown = result - held;
        second.inserted = grown == nsv::kEndMarkerChunkSize ? Inserted::kEndMarker
                          : grown > 0                       ? Inserted::kSubtitle
                                                            : Inserted::kNone;
        second.frames_wait_after = frames_wait;
        actual.seconds.push_back(second);
        if (offer.next_track && options.stop_after_next_track) {
            actual.stopped_by_next_track = true;
            break;
        }
    }
    return actual;
}

}  // namespace tarnel::test
