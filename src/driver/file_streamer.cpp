#include "driver/file_streamer.h"

#include <ctime>
#include <new>

#include "config/log.h"
#include "config/printable_text.h"
#include "config/settings.h"
#include "config/signals.h"
#include "config/strformat.h"
#include "config/wall_clock.h"
#include "driver/as_run_log.h"
#include "driver/loop_wait.h"
#include "driver/pacing.h"
#include "driver/playlist_traversal.h"
#include "driver/run_status.h"
#include "driver/service_notify.h"
#include "driver/subtitle.h"
#include "net/socket_exception.h"
#include "nsv/nsv_format.h"

namespace tarnel {

namespace {

// Room the frame output needs beyond the second and its text: the subtitle chunk adds 31 bytes.
constexpr size_t kInsertionRoom = 35;

// The largest second that real media can have: 127 frames (the highest whole frame rate), each a
// sync frame with the largest video (20-bit) and audio (16-bit) lengths, 141,495,018 bytes or
// about 135 MiB. Only a file whose frame rate is unset gives more: its whole rest is one second.
constexpr long kMaxSecondBytes = 127L * (nsv::kSyncPrefixSize + nsv::kFrameHeaderSize +
                                         nsv::kMaxVideoLength + nsv::kMaxAudioLength);

// The send buffer is kept from one second to the next up to this size; a larger one (a second of
// more than 32 Mbit/s) is given back after it was sent, so that one huge second does not keep
// its memory for the rest of the run.
constexpr size_t kKeptBufferBytes = 4 * 1024 * 1024;

// A pass over the playlist that streamed nothing (every entry failed, nothing to play, only
// markers) is followed by this pause, so a missing media disk cannot spin the processor; the log
// stays quiet after the first such pass (IdleLog), so it cannot fill the log disk either.
constexpr std::chrono::seconds kIdlePassPause{1};
static_assert(kIdlePassPause == std::chrono::seconds(1), "the notice below says every second");
constexpr const char* kNothingPlayableNotice =
    "Nothing in the playlist could be played; Tarnel tries again every second, and logs only "
    "what changes until something plays";

// Cuts a title or URL of the file's header that is too long, and says so.
void cap_header_value(std::string& value, const char* what, const std::string& name) {
    if (const std::optional<std::string> cut = cut_header_value(value)) {
        nsv_log(
            strformat("Warning: the %s of %s is %zu bytes long; only its first %zu bytes are used",
                      what, name.c_str(), value.size(), cut->size()));
        value = *cut;
    }
}

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
    cap_header_value(state.file_title, "title", name);
    cap_header_value(state.file_url, "URL", name);
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

// Whether anyone reads the status line: the console shows it, or the debug subtitle mode sends
// the last one. Otherwise it is not even formatted.
bool status_line_read() {
    return (realtime && !journal_console && !console_discarded) || subtitle_mode == kSubtitleDebug;
}

// Makes the buffer hold at least size bytes, keeping those it holds; throws std::bad_alloc.
void make_room(SecondBuffer& buffer, size_t size) {
    if (buffer.size() < size) {
        buffer.resize(size);
    }
}

double seconds_since(const timespec& now, std::time_t tick) {
    return static_cast<double>(now.tv_sec - tick) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

std::string base_name(const std::string& entry) {
    const size_t slash = entry.rfind('/');
    return slash == std::string::npos ? entry : entry.substr(slash + 1);
}

std::optional<std::string> cut_header_value(const std::string& value) {
    if (value.size() <= kMaxTitleBytes) {
        return std::nullopt;
    }
    return std::string(cut_at_character(value, kMaxTitleBytes));
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

PlaylistStreamer::PlaylistStreamer(DriverState& state, SourceConnection& connection,
                                   StreamingResources& resources)
    : state_(state), connection_(connection), resources_(resources) {}

void PlaylistStreamer::run() {
    // What the server sends while the stream goes on is taken during the waits; a reply that
    // ends the stream, or a close, leaves by SocketException as a failed send does.
    const WaitWatch server_replies(connection_.descriptor(), POLLIN,
                                   [this](short /*revents*/) { connection_.take_server_reply(); });
    const IdleLog::Session idle_session(state_.idle_log);
    try {
        while (prepare_next_second()) {
            send_prepared_second();
        }
    } catch (const SocketException&) {
        if (file_open_) {
            record_file_end(ItemEnd::kConnectionLost);
            if (state_.file_queued) {
                state_.queue.put_back(state_.current_entry);
            }
        }
        throw;
    } catch (const EndOfRun&) {
        if (file_open_) {
            record_file_end(ItemEnd::kSkippedBySignal);  // a failed SIGUSR1 reload ends the run
        }
        throw;
    }
    resources_.titles.settle();
}

bool PlaylistStreamer::prepare_next_second() {
    for (;;) {
        if (!file_open_ && !choose_and_open_entry()) {
            return false;
        }
        if (read_second_of_file() == Read::kReady) {
            return true;
        }
        end_file();
    }
}

PlaylistStreamer::Read PlaylistStreamer::read_second_of_file() {
    NSVReader& reader = resources_.reader;
    long start = 0;
    char unused_line[1] = {};
    for (;;) {
        carry_out_signals();
        if (reader.GetSecond(unused_line, &start, &length_, &framerate_, &frames_, 0) == -1) {
            return Read::kFileEnded;
        }
        // A second that no real media has, or one whose buffer cannot be had (below), is not
        // sent: the rest of the file is skipped rather than the process aborted.
        if (length_ > kMaxSecondBytes) {
            ending_ = ItemEnd::kOversizedSecond;
            resources_.titles.wait_for_outcome();
            nsv_log(
                strformat("Skipping the rest of %s: a second of %ld bytes is more than real "
                          "media can have (%ld); is its frame rate unset?",
                          state_.current_entry.c_str(), length_, kMaxSecondBytes));
            return Read::kFileEnded;
        }
        try {
            make_room(resources_.buffer, static_cast<size_t>(length_) + kInsertionRoom);
        } catch (const std::bad_alloc&) {
            ending_ = ItemEnd::kOversizedSecond;
            resources_.titles.wait_for_outcome();
            nsv_log(strformat("Skipping the rest of %s: no memory for a second of %ld bytes",
                              state_.current_entry.c_str(), length_));
            next_track = false;  // the skip request went with the rest of the file
            state_.skip_requested = false;
            return Read::kFileEnded;
        }
        bytes_read_ = reader.ReadSecond(resources_.buffer.data(), length_);
        if (bytes_read_ != -1) {
            return Read::kReady;
        }
        resources_.titles.wait_for_outcome();
        nsv_log("Couldn't read from " + state_.file_title);
        if (next_track || state_.skip_requested) {
            ending_ = next_track ? ItemEnd::kSkippedBySignal : ItemEnd::kSkippedByRequest;
            next_track = false;
            state_.skip_requested = false;
            return Read::kFileEnded;
        }
    }
}

bool PlaylistStreamer::choose_and_open_entry() {
    for (;;) {
        // The last file's title update ends before anything of the next entry is logged.
        resources_.titles.settle();
        carry_out_signals();
        state_.idle_log.begin_entry();
        // Entries asked for over the control socket come before the playlist's next.
        if (std::optional<std::string> queued = state_.queue.take_next()) {
            nsv_log(state_.remember("Playing " + *queued + " from the queue"));
            state_.current_entry = std::move(*queued);
            if (open_entry(true)) {
                return true;
            }
            count_selection(false);
            continue;
        }
        switch (select_entry(state_)) {
            case Selection::kReloadFailed:
                state_.idle_log.end_entry();
                record_playlist_failure(state_.status);
                return false;
            case Selection::kPlay:
                if (open_entry(false)) {
                    return true;
                }
                count_selection(false);
                break;
            case Selection::kMarker:
            case Selection::kNothing:
                count_selection(false);
                break;
        }
    }
}

bool PlaylistStreamer::open_entry(bool queued) {
    item_ = AsRunRecord{};
    item_.entry = state_.current_entry;
    item_.queued = queued;
    item_.start = wall_clock_now();
    if (!resources_.reader.Open(state_.current_entry)) {
        nsv_log("Unable to open " + state_.current_entry);
        item_.ended = ItemEnd::kNotOpened;
        item_.end = item_.start;
        record_on_air(item_);
        if (!queued) {
            advance_after_failed_open(state_);
        }
        return false;
    }
    const std::string name = base_name(state_.current_entry);
    nsv_log("Opened " + name + " successfully!");
    choose_title(state_, resources_.reader, name);
    item_.title = state_.file_title;
    state_.requested_title.reset();  // one asked for the file before goes with it
    state_.in_file = true;
    state_.file_queued = queued;
    state_.status.entry = state_.current_entry;
    state_.status.title = state_.file_title;
    state_.status.second = 0;
    publish_status(state_.status);
    resources_.titles.start(connection_.title_update(state_.file_title, state_.file_url));
    file_open_ = true;
    file_sent_ = false;
    ending_ = ItemEnd::kPlayed;
    return true;
}

void PlaylistStreamer::record_file_end(ItemEnd ended) {
    file_open_ = false;
    state_.in_file = false;
    item_.ended = ended;
    item_.end = wall_clock_now();
    record_on_air(item_);
}

void PlaylistStreamer::end_file() {
    record_file_end(ending_);
    // A queued file moves neither the playlist nor the clock.
    if (!state_.file_queued) {
        advance_after_file(state_);
    }
    count_selection(file_sent_);
}

void PlaylistStreamer::start_requested_title() {
    state_.file_title = std::move(*state_.requested_title);
    state_.requested_title.reset();
    state_.status.title = state_.file_title;
    publish_status(state_.status);
    resources_.titles.start(connection_.title_update(state_.file_title, state_.file_url));
}

void PlaylistStreamer::count_selection(bool streamed) {
    if (!streamed) {
        // The entry played nothing: its title update's outcome is its last line.
        resources_.titles.settle();
        state_.idle_log.end_entry();
    }
    if (streamed) {
        idle_selections_ = 0;
    } else if (++idle_selections_ >= playlist_pass_length()) {
        idle_selections_ = 0;
        state_.status.state = RunState::kIdle;
        publish_status(state_.status);
        state_.idle_log.pass_fruitless(kNothingPlayableNotice);
        // Nothing is sent while idle; a server that drops the silent source (Icecast after its
        // source timeout) is noticed during this pause, which watches the connection.
        pause_handling_signals(kIdlePassPause);
    }
}

void PlaylistStreamer::send_prepared_second() {
    std::optional<std::time_t> tick;  // the tick the second is sent on, if it waits for one
    if (wait_for_tick_) {
        wait_for_next_second(sent_in_);
        tick = sent_in_ + 1;
    }
    const std::time_t second_start = wall_clock_second();
    // The skip request (by signal or by the control socket) is taken at this one place, at the
    // tick, so a request arriving later in the cycle (or while the second was read) is kept whole
    // for the next one.
    const bool skip_by_signal = next_track;
    const bool stop_after_second = skip_by_signal || state_.skip_requested;
    next_track = false;
    state_.skip_requested = false;
    const SubtitleOffer offer = compose_subtitle(state_, framerate_, second_start);
    SecondBuffer& buffer = resources_.buffer;
    try {
        make_room(buffer, static_cast<size_t>(bytes_read_) + offer.text.size() + kInsertionRoom);
    } catch (const std::bad_alloc&) {
        resources_.titles.wait_for_outcome();
        nsv_log(strformat("Skipping the rest of %s: no memory for a second of %ld bytes",
                          state_.current_entry.c_str(), length_));
        ending_ = ItemEnd::kOversizedSecond;
        end_file();
        return;
    }
    bool end_marker = stop_after_second;
    const int produced = resources_.reader.FinishSecond(
        buffer.data(), &end_marker, offer.text, offer.style.display_time, offer.style.x,
        offer.style.y, offer.style.red, offer.style.green, offer.style.blue);
    if (tick) {
        state_.status.first_byte_delay.add(seconds_since(wall_clock_now(), *tick));
    }
    if (!file_sent_) {
        state_.idle_log.entry_plays();
        item_.start = wall_clock_now();
    }
    connection_.swrite(buffer.data(), static_cast<size_t>(produced));
    file_sent_ = true;
    ++item_.seconds;
    item_.bytes += static_cast<uint64_t>(produced);
    count_second_sent(state_.status, produced);
    // A title asked for over the control socket goes out right after a second, when the file's
    // own title update has ended (one runs at a time; the next second tries again).
    if (state_.requested_title && !resources_.titles.running()) {
        start_requested_title();
    }
    wait_for_tick_ = static_cast<double>(frames_) >= framerate_;
    sent_in_ = second_start;
    if (wait_for_tick_) {
        show_status_line(framerate_, length_);
    }
    if (buffer.capacity() > kKeptBufferBytes) {
        SecondBuffer().swap(buffer);
    }
    if (stop_after_second) {
        ending_ = skip_by_signal ? ItemEnd::kSkippedBySignal : ItemEnd::kSkippedByRequest;
        end_file();
    }
}

void PlaylistStreamer::show_status_line(double framerate, long length) {
    if (!status_line_read()) {
        return;
    }
    char video[16] = {};
    char audio[16] = {};
    int height = 0;
    int width = 0;
    resources_.reader.GetFileInfo(video, audio, &height, &width);
    resources_.titles.display_status(state_.remember(
        strformat("Video: %dkbps, %s %dx%d @%.2ffps, Audio: %s", static_cast<int>(length / 128),
                  video, height, width, framerate, audio)));
}

}  // namespace tarnel
