#include "driver/file_streamer.h"

#include <ctime>
#include <new>
#include <utility>
#include <vector>

#include "config/log.h"
#include "config/signals.h"
#include "config/strformat.h"
#include "config/wall_clock.h"
#include "driver/pacing.h"
#include "driver/playlist_traversal.h"
#include "driver/run_status.h"
#include "driver/service_notify.h"
#include "driver/subtitle.h"
#include "nsv/nsv_format.h"
#include "nsv/nsv_reader.h"

namespace tarnel {

namespace {

// Room the frame output needs beyond the second and its text: the subtitle chunk adds 31 bytes.
constexpr size_t kInsertionRoom = 35;

// The largest second that real media can have: 127 frames (the highest whole frame rate), each a
// sync frame with the largest video (20-bit) and audio (16-bit) lengths, 141,495,018 bytes or
// about 135 MiB. Only a file whose frame rate is unset gives more: its whole rest is one second.
constexpr long kMaxSecondBytes = 127L * (nsv::kSyncPrefixSize + nsv::kFrameHeaderSize +
                                         nsv::kMaxVideoLength + nsv::kMaxAudioLength);

// Allocates without clearing: GetData writes every byte that is sent, so clearing each second's
// buffer (100 to 300 KB at usual bit rates) first would be work for nothing.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U>
    explicit UninitialisedAllocator(const UninitialisedAllocator<U>& /*other*/) {}

    template <typename U>
    void construct(U* place) {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};
using SecondBuffer = std::vector<char, UninitialisedAllocator<char>>;

void choose_title(DriverState& state, NSVReader& reader, const std::string& name) {
    std::string metadata;
    if (!reader.GetHeader(&metadata)) {
        state.file_url.clear();
        nsv_log("file has no headers");
        state.file_title = name;
        return;
    }
    nsv_log("file has headers, they were skipped");
    state.file_title = metadata_value(metadata, "TITLE=").value_or(name);
    state.file_url = metadata_value(metadata, "URL=").value_or("");
}

// A second went out: the stream is alive, also when sending runs behind the clock and no wait
// comes between two seconds.
void count_second_sent(RunStatus& status, int bytes) {
    status.state = RunState::kStreaming;
    ++status.second;
    ++status.seconds_sent;
    status.bytes_sent += static_cast<uint64_t>(bytes);
    publish_status(status);
    notify_watchdog();
}

// Sends the file one second per cycle; returns true when any data was sent.
bool stream_seconds(DriverState& state, NSVReader& reader, const SourceConnection& connection) {
    long start = 0;
    long length = 0;
    double framerate = 0;
    int frames = 0;
    char video[16] = {};
    char audio[16] = {};
    int height = 0;
    int width = 0;
    bool sent = false;
    char unused_line[1] = {};
    for (;;) {
        carry_out_signals();
        if (reader.GetSecond(unused_line, &start, &length, &framerate, &frames, 0) == -1) {
            return sent;
        }
        // A second that no real media has, or one whose buffer cannot be had (below), is not
        // sent: the rest of the file is skipped rather than the process aborted.
        if (length > kMaxSecondBytes) {
            nsv_log(
                strformat("Skipping the rest of %s: a second of %ld bytes is more than real "
                          "media can have (%ld); is its frame rate unset?",
                          state.current_entry.c_str(), length, kMaxSecondBytes));
            return sent;
        }
        reader.GetFileInfo(video, audio, &height, &width);
        const std::time_t second_start = wall_clock_second();
        // The skip request is taken at this one place, so a request arriving later in the
        // cycle is kept whole for the next one.
        const bool stop_after_second = next_track;
        next_track = false;
        const SubtitleOffer offer = compose_subtitle(state, framerate, second_start);

        SecondBuffer buffer;
        try {
            buffer.resize(static_cast<size_t>(length) + offer.text.size() + kInsertionRoom);
        } catch (const std::bad_alloc&) {
            nsv_log(strformat("Skipping the rest of %s: no memory for a second of %ld bytes",
                              state.current_entry.c_str(), length));
            return sent;
        }
        bool end_marker = stop_after_second;
        const int produced = reader.GetData(buffer.data(), length, &end_marker, offer.text,
                                            offer.style.display_time, offer.style.x, offer.style.y,
                                            offer.style.red, offer.style.green, offer.style.blue);
        if (produced == -1) {
            nsv_log("Couldn't read from " + state.file_title);
        } else {
            connection.swrite(buffer.data(), static_cast<size_t>(produced));
            sent = true;
            count_second_sent(state.status, produced);
            if (static_cast<double>(frames) >= framerate) {
                const std::time_t now = wall_clock_second();
                display(state.remember(strformat("Video: %dkbps, %s %dx%d @%.2ffps, Audio: %s",
                                                 static_cast<int>(length / 128), video, height,
                                                 width, framerate, audio)));
                if (now == second_start) {
                    wait_for_next_second(second_start);
                }
            }
        }
        if (stop_after_second) {
            return sent;
        }
    }
}

}  // namespace

std::string base_name(const std::string& entry) {
    const size_t slash = entry.rfind('/');
    return slash == std::string::npos ? entry : entry.substr(slash + 1);
}

std::optional<std::string> metadata_value(const std::string& metadata, const std::string& key) {
    const size_t found = metadata.find(key);
    if (found == std::string::npos) {
        return std::nullopt;
    }
    const size_t delimiter_at = found + key.size();
    if (delimiter_at >= metadata.size()) {
        return std::nullopt;
    }
    const char delimiter = metadata[delimiter_at];
    const size_t value_at = delimiter_at + 1;
    const size_t end = metadata.find(delimiter, value_at);
    return metadata.substr(value_at, end == std::string::npos ? std::string::npos : end - value_at);
}

bool stream_entry(DriverState& state, const SourceConnection& connection) {
    NSVReader reader;
    if (!reader.Open(state.current_entry)) {
        nsv_log("Unable to open " + state.current_entry);
        advance_after_failed_open(state);
        return false;
    }
    const std::string name = base_name(state.current_entry);
    nsv_log("Opened " + name + " successfully!");
    choose_title(state, reader, name);
    state.status.entry = state.current_entry;
    state.status.title = state.file_title;
    state.status.second = 0;
    publish_status(state.status);
    connection.update_title(state.file_title, state.file_url);
    const bool sent = stream_seconds(state, reader, connection);
    advance_after_file(state);
    return sent;
}

}  // namespace tarnel
