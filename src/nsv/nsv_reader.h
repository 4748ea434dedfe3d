#pragma once

// NSVReader (Parts 2.2, 2.3, 2.4): one open NSV file, read one second of frames at a time, with
// the subtitle or end marker chunk inserted into the last frame of a second.

#include <memory>
#include <string>

#include "config/stdio_file.h"

namespace tarnel {

// Process-wide state shared by every reader (Parts 2.3 and 2.4). Never reset by the program.
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
    int GetData(char* buffer, long length, bool* next_track, std::string subtitle,
                int display_time, int x, int y, int red, int green, int blue);

    // Packs a 5-byte frame header into out (Part 2.1); aux_flag != 0 gives an aux count of 1.
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

    // The members of Part 2.2, in its order.
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

    // Soundness state, not part of Part 2.2.
    std::unique_ptr<char[]> stdio_buffer_;  // the file's stdio buffer; outlives file (see ~)
    bool unreadable_ = false;  // bad header size: nothing is read from this file
    bool finished_ = false;    // a fallback that cannot move on ended the file
    // The last GetSecond call: its length, how many frames it scanned, and the offset within it
    // of its last frame's payload when that frame was found by a complete frame header (else -1).
    long second_length_ = 0;
    int second_frames_ = 0;
    long last_payload_offset_ = -1;
};

}  // namespace tarnel
