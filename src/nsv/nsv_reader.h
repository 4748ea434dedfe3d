#pragma once

// NSVReader: one open NSV file, read one second of frames at a time, with
// the subtitle or end marker chunk inserted into the last frame of a second.
//
// On malformed input the reader does this:
// - A file header whose size field is below 28, lies beyond the end of the file, or is cut off by
//   the end of the file: GetHeader returns true with the metadata text the file holds (empty for
//   a size below 28) and the file is unreadable: GetSecond returns -1 with length 0.
// - An unrecognised frame start while the last known payload length is 0 ends the second at that
//   frame start and the file there ("Finished Processing File" is traced after the usual "VIDEO
//   SIZE"/"AUDIO SIZE" lines); later calls return -1. Every other frame moves the position on,
//   so a call always ends.
// - No chunk is inserted (the second is sent as read, and a subtitle does not set frames_wait)
//   when the text is longer than 65,510 bytes, when the last frame's video length would reach
//   1,048,576, when the piece holds no frame (stray bytes), when its last frame was found by the
//   fallback, or when that frame's prefix or header was cut off by the end of the file. The
//   next-track flag is cleared on the end-marker path all the same.
// - The chunk goes at the last frame's payload as the scan found it. That is the length minus
//   frame_size, except when 1 to 3 stray bytes follow the last frame in the same
//   piece: they then stay behind the frame instead of shifting the insertion point. Counting the
//   insertion point back from the end of the piece would put it 1 to 3 bytes past the payload's
//   start: the new frame header would land over the end of the old one and the payload's first
//   bytes, and corrupt the frame.
// - GetData reads and writes only within the caller's buffer (the second's length plus the
//   inserted chunk) on any input; lengths that cannot be reported in its int result, or that
//   reach back before the start of the file, give -1 without reading.
// - The look-ahead of GetData is always undone, so a final piece shorter than 10 bytes is read
//   as a second of its own (and gets its own end marker if it is a frame).
// - Trace messages are formatted only when the debug switch is on; Debug writes to console().
// - A file that grows is read on: a read that met the end of the file does not stop later ones.
// - A file cut short while it is read (an operator overwriting it with cp): GetData stops at the
//   first byte of the second that neither the file nor the reader's ring holds any more (the
//   ring's bytes are those the scan read), so it never sends more than the second as scanned;
//   later calls see the file as it is then. A file no larger than the ring (256 KiB) is read
//   whole by its first read and so plays as it was then.
//
// The file is read with pread through a ring of 4 blocks of up to 64 KiB (see nsv_reader.cpp and
// docs/performance.md); the positions, lengths and bytes are exactly those of the stdio reads and
// seeks of a frame-by-frame scan, including positions beyond the end of the file after a seek
// over a cut payload. The file is never mapped into memory: a mapped file cut short would kill
// the process with SIGBUS.

#include <array>
#include <string>
#include <vector>

#include "config/stdio_file.h"
#include "config/uninitialised_allocator.h"

namespace tarnel {

// Process-wide state shared by every reader. Never reset by the program.
// The video and audio length of the most recent frame header any reader parsed (0 at start); only
// the fallback for an unrecognised frame start reads them.
extern int hex_video_sz;
extern int hex_audio_sz;
// The subtitle countdown in frames: lowered by ceil(framerate) for every second GetData reads,
// set to the display time when a subtitle is inserted; a subtitle goes in only while it is <= 0.
extern int frames_wait;

// Puts hex_video_sz, hex_audio_sz and frames_wait back to their start values (for tests).
void reset_nsv_state();

// The value of one hexadecimal digit: '0'-'9' give 0-9, 'a'-'f' and 'A'-'F' give 10-15, anything
// else 0.
int nibbleToInt(char digit);

class NSVReader {
  public:
    NSVReader();
    explicit NSVReader(bool debug_trace);
    virtual ~NSVReader();
    NSVReader(const NSVReader&) = delete;
    NSVReader& operator=(const NSVReader&) = delete;

    // Opens path for reading (stdio mode "r"); false if it cannot be opened. Reports nothing.
    // Everything the reader knew of a file opened before is forgotten, so one reader can play
    // file after file; it keeps only its ring's memory.
    bool Open(std::string path);

    // Reads the optional file header. Without "NSVf" at the start: false, *metadata untouched,
    // the file positioned at offset 0. With it: true, *metadata set to the metadata text, the
    // file positioned at the header size offset.
    // A header whose size field is below 28, lies beyond the end of the file, or is cut off by
    // the end of the file: still true, with the metadata text that the file actually holds (empty
    // for a size below 28), but the file is unreadable: every GetSecond returns -1.
    bool GetHeader(std::string* metadata);

    // Video and audio format codes (each at most 4 characters plus a zero byte; the buffers hold
    // at least 5) and height and width of the latest sync frame scanned.
    void GetFileInfo(char* video_type, char* audio_type, int* height_out, int* width_out);

    // "DEBUG: " + message + line feed to console() when the debug trace is on.
    void Debug(std::string message);

    // Scans one second (ceil(framerate) frames, or frame_limit frames if that is not 0, or up to
    // the end of the file). Reports the start offset, the length, the frame rate and the frames
    // scanned; returns 0, or -1 when the end was met and the length is below 1. The first
    // argument is not used.
    int GetSecond(char* unused, long* start, long* length, double* rate, int* frames,
                  int frame_limit);

    // Reads the second just scanned (length as GetSecond reported it) into buffer, which holds at
    // least length + subtitle.size() + 31 bytes, and inserts the end marker chunk (last second
    // of the file, or *next_track set; the flag is then cleared) or the subtitle chunk. Returns
    // the number of bytes to send, or -1 when length is 0 (or negative) and nothing was read.
    int GetData(char* buffer, long length, bool* next_track, std::string subtitle, int display_time,
                int x, int y, int red, int green, int blue);

    // GetData in two steps, for a caller that reads each second ahead of the moment it is sent.
    // ReadSecond reads the second just scanned (length as GetSecond reported it) into buffer,
    // which holds at least length bytes, and looks ahead; it returns the bytes read, or -1 as
    // GetData does. FinishSecond then inserts the chunk as GetData does into the bytes read, in
    // the same buffer, which must now hold at least their count + subtitle.size() + 31 bytes
    // (it may have been moved: only the bytes count), and returns the number of bytes to send;
    // -1 when no second was read or it was finished already. GetData is the two in a row.
    int ReadSecond(char* buffer, long length);
    int FinishSecond(char* buffer, bool* next_track, const std::string& subtitle, int display_time,
                     int x, int y, int red, int green, int blue);

    // Packs a 5-byte frame header into out; aux_flag != 0 gives an aux count of 1.
    static void CreateFrameHeader(char* out, int video_length, int audio_length, int aux_flag);

    // The byte as two uppercase hexadecimal digits, or only the high digit when high_only is set.
    static std::string IntToHex(char byte, bool high_only);

    static int nibbleToInt(char digit) { return tarnel::nibbleToInt(digit); }

    // Read-only views of the state, for tests and tools.
    double FrameRate() const { return framerate; }
    int FrameSize() const { return frame_size; }
    int VideoSize() const { return video_size; }
    int AudioSize() const { return audio_size; }
    bool IsOpen() const { return file != nullptr; }
    // True once GetHeader found a header size below 28 or beyond the end of the file.
    bool IsUnreadable() const { return unreadable_; }

  private:
    void Report(long start, long length, long* start_out, long* length_out, double* rate_out) const;
    // Offset in the second's buffer at which the last frame's payload starts, or -1 when the
    // second's last frame cannot carry an inserted chunk.
    long InsertionOffset(long length, long bytes_read) const;

    // File access through a ring of blocks (see nsv_reader.cpp). Each works like pread at a file
    // offset: it returns how many bytes the file holds there (fewer at its end).
    // Copies count bytes at offset into out, reading the blocks they lie in into the ring.
    long Peek(long offset, char* out, long count);
    // Copies count bytes at offset into out: what the ring holds from there, the rest read from
    // the file straight into out. Leaves the ring as it is.
    long ReadInto(long offset, char* out, long count) const;
    // Reads from the file itself, bypassing the ring.
    long FileRead(long offset, char* out, long count) const;
    // The file's size now (0 if it cannot be found out).
    long FileSize() const;

    // The reader's state.
    double framerate = 0;
    int frame_size = 0;
    StdioFile file;
    bool debug = false;
    char video_format[5] = {};
    char audio_format[5] = {};
    int height = 0;
    int width = 0;
    int audio_size = 0;
    int video_size = 0;

    // The logical file position (it may lie beyond the end of the file after a seek
    // over a payload the file does not hold).
    long position_ = 0;
    // The read ring: kRingBlocks slots of block_size_ bytes; slot i holds the file's block
    // blocks_[i].index (bytes from index * block_size_), of which the first blocks_[i].length
    // bytes have been read (fewer than block_size_ where the file ended).
    static constexpr long kRingBlocks = 4;
    struct Block {
        long index = -1;
        long length = 0;
    };
    // The ring, with room to start it at a page boundary; allocated once, never cleared.
    std::vector<char, UninitialisedAllocator<char>> ring_storage_;
    char* ring_ = nullptr;  // the ring: kRingBlocks * block_size_ bytes, page-aligned
    std::array<Block, kRingBlocks> blocks_{};
    // A power of two: file offset / block_size_ is offset >> block_shift_.
    long block_size_ = 0;
    int block_shift_ = 0;
    // The file was no larger than the ring when it was opened: its first read reads it whole.
    bool whole_file_ = false;
    // The slot that holds file block index, and where its bytes start in the ring.
    Block& BlockFor(long index) { return blocks_[static_cast<size_t>(index % kRingBlocks)]; }
    const Block& BlockFor(long index) const {
        return blocks_[static_cast<size_t>(index % kRingBlocks)];
    }
    char* SlotFor(long index) const { return ring_ + (index % kRingBlocks) * block_size_; }

    // Guards against malformed files.
    bool unreadable_ = false;  // bad header size: nothing is read from this file
    bool finished_ = false;    // a fallback that cannot move on ended the file
    // The last GetSecond call: its length, how many frames it scanned, and the offset within it
    // of its last frame's payload when that frame was found by a complete frame header (else -1).
    long second_length_ = 0;
    int second_frames_ = 0;
    long last_payload_offset_ = -1;
    // The second ReadSecond read and FinishSecond has not finished yet: its length as scanned
    // (-1: none), the bytes read and how many of the 10 look-ahead bytes followed it.
    long read_length_ = -1;
    long bytes_read_ = 0;
    long read_ahead_ = 0;
};

}  // namespace tarnel
