#include "nsv/nsv_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
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

// The read ring: the scan looks at a few bytes per frame and passes over payloads, so the file is
// read in blocks into memory instead of one small read per frame (a system call costs as much as
// copying several kilobytes). Block b of the file (bytes b * block size up to (b + 1) * block size)
// always goes into slot b % kRingBlocks (nsv_reader.h), so loading a block never moves anything,
// and the ring holds the most recent kRingBlocks blocks the scan has needed. GetData copies the
// parts of the second the ring holds and reads any part it no longer holds (a second larger than
// the ring) straight from the file into the caller's buffer. 4 x 64 KiB holds a whole second of
// ordinary video (130-200 KB) while the next block is read behind it, and keeps the reader's
// memory at 260 KiB (the ring and a page for its alignment); larger or more blocks measured no
// faster (docs/performance.md). A smaller file gets smaller blocks (a quarter of the file rounded
// up to a power of two, at least a page), so the ring is never much larger than the file. The
// ring starts at a page boundary, so each block lies at the same offset within a page as in the
// file: the kernel's copy into it runs at full speed (a destination 16 bytes past a page boundary
// made it five times slower, see copy_bytes).
constexpr long kMaxBlockSize = 64L * 1024;
constexpr int kPageShift = 12;
constexpr long kPageSize = 1L << kPageShift;

// Copies count bytes from in to out. glibc (and the kernel) copy large blocks with `rep movsb`,
// which on the AMD processor measured runs about 15 times slower (2-3 GB/s instead of 40) when out
// lies 1 to 31 bytes past in modulo 4 KiB (and somewhat slower up to 63); such copies go in
// pieces of kCopyPiece bytes, below glibc's threshold for `rep movsb`, which it copies with
// vector moves instead (37 GB/s at any distance).
constexpr size_t kCopyPiece = 2048;
void copy_bytes(char* out, const char* in, size_t count) {
    const auto distance =
        (reinterpret_cast<uintptr_t>(out) - reinterpret_cast<uintptr_t>(in)) % kPageSize;
    if (distance == 0 || distance >= 64) {
        std::memcpy(out, in, count);
        return;
    }
    for (size_t done = 0; done < count; done += kCopyPiece) {
        std::memcpy(out + done, in + done, std::min(kCopyPiece, count - done));
    }
}

// Trace lines go through Debug, but are only formatted when the debug switch is on.
#define TRACE(message)      \
    do {                    \
        if (debug) {        \
            Debug(message); \
        }                   \
    } while (false)

// The most GetData can add to a second; a second must leave room for it in the int result.
constexpr long kMaxInserted = nsv::kMaxSubtitleTextLength + nsv::kSubtitleChunkOverhead;

}  // namespace

NSVReader::NSVReader() = default;

NSVReader::NSVReader(bool debug_trace) : debug(debug_trace) {}

NSVReader::~NSVReader() = default;

bool NSVReader::Open(std::string path) {
    // Everything of the previous file is forgotten; only the ring's memory is kept.
    file = open_regular_file(path);
    framerate = 0;
    frame_size = 0;
    std::memset(video_format, 0, sizeof video_format);
    std::memset(audio_format, 0, sizeof audio_format);
    height = 0;
    width = 0;
    audio_size = 0;
    video_size = 0;
    position_ = 0;
    blocks_.fill(Block{});
    unreadable_ = false;
    finished_ = false;
    second_length_ = 0;
    second_frames_ = 0;
    last_payload_offset_ = -1;
    read_length_ = -1;
    if (file == nullptr) {
        return false;
    }
    // Blocks of a quarter of the file rounded up to a power of two, at least one page and at most
    // kMaxBlockSize.
    const long size = FileSize();
    const long quarter = (size + kRingBlocks - 1) / kRingBlocks;
    block_shift_ = kPageShift;
    while ((1L << block_shift_) < quarter && (1L << block_shift_) < kMaxBlockSize) {
        ++block_shift_;
    }
    block_size_ = 1L << block_shift_;
    whole_file_ = size <= kRingBlocks * block_size_;
    // The ring is allocated once, for the largest blocks, and not cleared: a slot is only ever
    // read after a read into it, and pages of it that no file needed are never touched, so they
    // take no memory. A reader that plays one file after another allocates nothing more.
    if (ring_ == nullptr) {
        ring_storage_.resize(static_cast<size_t>(kRingBlocks * kMaxBlockSize + kPageSize));
        void* start = ring_storage_.data();
        size_t room = ring_storage_.size();
        ring_ = static_cast<char*>(
            std::align(kPageSize, static_cast<size_t>(kRingBlocks * kMaxBlockSize), start, room));
    }
    return true;
}

long NSVReader::FileSize() const {
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0) {
        return 0;
    }
    return static_cast<long>(info.st_size);
}

long NSVReader::FileRead(long offset, char* out, long count) const {
    if (count <= 0 || offset < 0) {
        return 0;
    }
    // pread neither moves nor depends on a file position and has no end-of-file flag, so a read
    // after one that met the end sees what the file has gained since.
    const int descriptor = fileno(file.get());
    long done = 0;
    while (done < count) {
        const ssize_t got = pread(descriptor, out + done, static_cast<size_t>(count - done),
                                  static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += got;
    }
    return done;
}

long NSVReader::Peek(long offset, char* out, long count) {
    if (offset < 0) {
        return 0;
    }
    long done = 0;
    while (done < count) {
        const long at = offset + done;
        const long index = at >> block_shift_;
        const long within = at & (block_size_ - 1);
        const long wanted = std::min(count - done, block_size_ - within);
        Block& block = BlockFor(index);
        char* const slot = SlotFor(index);
        if (block.index == -1 && index == 0 && whole_file_) {
            // A file no larger than the ring is read whole by its first read: one system call,
            // and the file then plays as it was read even if it is cut short meanwhile.
            const long got = FileRead(0, ring_, kRingBlocks * block_size_);
            for (long i = 0; i < kRingBlocks; ++i) {
                BlockFor(i) = Block{i, std::clamp(got - i * block_size_, 0L, block_size_)};
            }
        } else if (block.index != index) {
            block.index = index;
            block.length = 0;
        }
        if (block.length < within + wanted) {
            // A block not read yet, or one cut short by the end of the file, which may have grown.
            block.length += FileRead((index << block_shift_) + block.length, slot + block.length,
                                     block_size_ - block.length);
        }
        const long got = std::clamp(block.length - within, 0L, wanted);
        std::memcpy(out + done, slot + within, static_cast<size_t>(got));
        done += got;
        if (got < wanted) {
            break;
        }
    }
    return done;
}

long NSVReader::ReadInto(long offset, char* out, long count) const {
    if (offset < 0) {
        return 0;
    }
    const long end = offset + count;
    long done = 0;
    while (done < count) {
        const long at = offset + done;
        const long index = at >> block_shift_;
        const long within = at & (block_size_ - 1);
        const Block& block = BlockFor(index);
        if (block.index == index && within < block.length) {
            const long n = std::min(count - done, block.length - within);
            copy_bytes(out + done, SlotFor(index) + within, static_cast<size_t>(n));
            done += n;
            continue;
        }
        // Not in the ring: one read from the file up to the next block the ring holds.
        long stop = std::min(end, (index + 1) << block_shift_);
        while (stop < end) {
            const long next = stop >> block_shift_;
            const Block& ahead = BlockFor(next);
            if (ahead.index == next && ahead.length > 0) {
                break;
            }
            stop = std::min(end, stop + block_size_);
        }
        const long got = FileRead(at, out + done, stop - at);
        done += got;
        if (got < stop - at) {
            break;
        }
    }
    return done;
}

bool NSVReader::GetHeader(std::string* metadata) {
    if (file == nullptr) {
        return false;
    }
    char marker[4] = {};
    if (Peek(0, marker, 4) < 4 || !nsv::is_file_header_marker(marker)) {
        position_ = 0;
        return false;
    }
    char fixed[nsv::kFileHeaderFixedSize - 4] = {};
    const long fixed_read = Peek(4, fixed, sizeof fixed);

    const long file_end = FileSize();
    // A size field cut off by the end of the file counts as invalid.
    const long header_size = fixed_read >= 4 ? static_cast<long>(nsv::read_u32(fixed)) : 0;
    const bool valid = header_size >= nsv::kFileHeaderFixedSize && header_size <= file_end;

    // The metadata area as far as the file holds it.
    const long area_end = std::min(header_size, file_end);
    std::string text;
    if (area_end > nsv::kFileHeaderFixedSize) {
        std::vector<char> area(static_cast<size_t>(area_end - nsv::kFileHeaderFixedSize));
        const long got =
            ReadInto(nsv::kFileHeaderFixedSize, area.data(), static_cast<long>(area.size()));
        text = nsv::metadata_text(area.data(), static_cast<size_t>(got));
    }
    if (metadata != nullptr) {
        *metadata = text;
    }
    if (valid) {
        position_ = header_size;
    } else {
        unreadable_ = true;
        position_ = file_end;
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
    const long start = position_;
    if (unreadable_ || finished_) {
        TRACE("Finished Processing File");
        Report(start, 0, start_out, length_out, rate_out);
        return -1;
    }

    // Ends the call at the current position (step 2 and the end-of-file steps).
    const auto finish = [&]() {
        const long length = position_ - start;
        second_length_ = length;
        Report(start, length, start_out, length_out, rate_out);
        return length < 1 ? -1 : 0;
    };
    // Reads like fread at the current position: as many bytes as the file holds, zeros after.
    const auto read = [&](char* out, long count) {
        const long got = Peek(position_, out, count);
        position_ += got;
        return got;
    };

    for (int n = 1;; ++n) {
        const int per_second = nsv::frames_per_second(framerate);
        if ((per_second != 0 && n > per_second) || (frame_limit != 0 && n > frame_limit)) {
            return finish();
        }
        TRACE(strformat("FRAME: %d/%.2f", n, framerate));

        const long frame_start = position_;
        // Zero-filled, so a prefix or header cut off by the end of the file reads as zeros.
        char prefix[nsv::kSyncPrefixSize] = {};
        char header[nsv::kFrameHeaderSize] = {};
        long header_read = 0;
        if (read(prefix, 4) < 4) {
            TRACE("Finished Processing File");
            return finish();
        }

        if (nsv::is_sync_marker(prefix)) {
            TRACE("NSVs HEADER FOUND");
            const long rest = read(prefix + 4, nsv::kSyncPrefixRest);
            std::memcpy(video_format, prefix + nsv::kSyncVideoFormatOffset, 4);
            video_format[4] = '\0';
            std::memcpy(audio_format, prefix + nsv::kSyncAudioFormatOffset, 4);
            audio_format[4] = '\0';
            width = nsv::read_i16(prefix + nsv::kSyncWidthOffset);
            height = nsv::read_i16(prefix + nsv::kSyncHeightOffset);
            TRACE(std::string("NSV VIDEO: ") + video_format);
            TRACE(std::string("NSV AUDIO: ") + audio_format);
            TRACE(strformat("HEIGHT: %d", height));
            TRACE(strformat("WIDTH: %d", width));
            if (framerate == 0) {
                framerate = nsv::decode_frame_rate(
                    static_cast<unsigned char>(prefix[nsv::kSyncRateOffset]));
            }
            header_read = read(header, nsv::kFrameHeaderSize);
            if (rest < nsv::kSyncPrefixRest) {
                header_read = 0;  // the header bytes are not where the prefix says
            }
        } else {
            // The continuation marker is the first two of the four bytes already read; the
            // other two are the start of the frame header.
            TRACE("Chunk Continuation found");
            TRACE(IntToHex(prefix[1], false) + IntToHex(prefix[0], false));
            if (nsv::is_continuation_marker(prefix)) {
                header[0] = prefix[2];
                header[1] = prefix[3];
                header_read = 2 + read(header + 2, nsv::kFrameHeaderSize - 2);
            } else {
                // Unrecognised frame start: advance by the last known payload length.
                position_ = frame_start;
                const int video = hex_video_sz;
                const int audio = hex_audio_sz;
                TRACE(strformat("VIDEO SIZE: %d", video));
                TRACE(strformat("AUDIO SIZE: %d", audio));
                if (video + audio == 0) {
                    // No progress possible: the second and the file end at this frame start.
                    TRACE("Finished Processing File");
                    finished_ = true;
                    return finish();
                }
                video_size = video;
                audio_size = audio;
                frame_size = video + audio;
                position_ += frame_size;
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
        TRACE("RAW FRAME HEADER: " + nsv::hex_text(header, nsv::kFrameHeaderSize));
        TRACE(strformat("VIDEO SIZE: %d", video_size));
        TRACE(strformat("AUDIO SIZE: %d", audio_size));

        frame_size = video_size + audio_size;
        last_payload_offset_ = header_read == nsv::kFrameHeaderSize ? position_ - start : -1;
        position_ += frame_size;
        second_frames_ = n;
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
    if (ReadSecond(buffer, length) == -1) {
        return -1;
    }
    return FinishSecond(buffer, next_track, subtitle, display_time, x, y, red, green, blue);
}

int NSVReader::ReadSecond(char* buffer, long length) {
    read_length_ = -1;
    if (file == nullptr || buffer == nullptr || length <= 0 || length > INT_MAX - kMaxInserted) {
        return -1;
    }
    if (position_ < length) {
        return -1;
    }
    position_ -= length;
    const long bytes_read = ReadInto(position_, buffer, length);
    position_ += bytes_read;
    // The look-ahead: whether 10 more bytes follow. It reads them through the ring (where the
    // next second is scanned) and leaves the position where it is, so it is always undone.
    char ahead_bytes[10];
    read_ahead_ = Peek(position_, ahead_bytes, sizeof ahead_bytes);
    read_length_ = length;
    bytes_read_ = bytes_read;
    return static_cast<int>(bytes_read);
}

int NSVReader::FinishSecond(char* buffer, bool* next_track, const std::string& subtitle,
                            int display_time, int x, int y, int red, int green, int blue) {
    if (read_length_ == -1 || buffer == nullptr) {
        return -1;
    }
    const long length = read_length_;
    const long bytes_read = bytes_read_;
    const long ahead = read_ahead_;
    read_length_ = -1;  // a second is finished once

    const int step = nsv::frames_per_second(framerate);
    frames_wait = frames_wait < INT_MIN + step ? INT_MIN : frames_wait - step;

    // Moves the last frame's payload up by the chunk's size, rewrites its header and returns
    // where the chunk goes.
    const auto make_room = [&](long p, int chunk_size) {
        char new_header[nsv::kFrameHeaderSize];
        CreateFrameHeader(new_header, video_size + chunk_size, audio_size, 1);
        TRACE("CREATED FRAME HEADER: " + nsv::hex_text(new_header, nsv::kFrameHeaderSize));
        std::memmove(buffer + p + chunk_size, buffer + p, static_cast<size_t>(bytes_read - p));
        std::memcpy(buffer + p - nsv::kFrameHeaderSize, new_header, nsv::kFrameHeaderSize);
        return buffer + p;
    };

    if (ahead < 10 || (next_track != nullptr && *next_track)) {
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
