#pragma once

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "config/uninitialised_allocator.h"
#include "driver/as_run_record.h"
#include "driver/driver_state.h"
#include "driver/source_connection.h"
#include "driver/title_updater.h"
#include "nsv/nsv_reader.h"

namespace tarnel {

// The text after the last "/" of a playlist entry, or the whole entry.
std::string base_name(const std::string& entry);

// The value of "TITLE=" or "URL=" in a file's metadata text: it starts one delimiter character
// after the key and ends at the next occurrence of that delimiter, or at the end of the text.
// Nothing when the key is missing or nothing follows it.
std::optional<std::string> metadata_value(const std::string& metadata, const std::string& key);

// The most bytes of a title or URL taken from a file's header. The header allows 4 GB; the title
// goes to the log, the console, the status file (rewritten every second) and the server, where
// 1 KiB is plenty.
constexpr size_t kMaxTitleBytes = 1024;

// A header value cut to at most kMaxTitleBytes at a UTF-8 character boundary; nothing when it is
// no longer than that.
std::optional<std::string> cut_header_value(const std::string& value);

// What streaming keeps across files and connections, so that neither a second nor a file change
// allocates or clears memory: the reader (its ring) and the buffer a second is sent from. The
// title update runs beside the stream (TitleUpdater).
using SecondBuffer = std::vector<char, UninitialisedAllocator<char>>;
struct StreamingResources {
    NSVReader reader;
    SecondBuffer buffer;
    TitleUpdater titles;
};

// Streams the playlist over one source connection, one second per wall-clock second. Entries
// asked for over the control socket (state.queue) come before the playlist's next entry and go
// the same way, without moving the playlist or the clock; every entry taken up gets its line in
// the as-run log when it ends.
//
// The shape of each cycle: at the tick, only what must be done then: the skip request is taken,
// the subtitle composed and its chunk (or the end marker) put into the second that was read
// before, which is sent at once; then the next second is read (and at the end of a file the next
// entry chosen and opened, its title update started beside the stream) before the program
// sleeps until the next tick (pacing.h, loop_wait.h). A second shorter than the file's frame
// rate (a file's last piece) is followed at once by the next. The bytes sent are those of
// reading and sending each second at its tick: a skip request (SIGUSR2) that arrives while the
// program sleeps still ends the file with the second sent at the next tick.
class PlaylistStreamer {
  public:
    PlaylistStreamer(DriverState& state, SourceConnection& connection,
                     StreamingResources& resources);

    // Streams until a "#reload" marker cannot reload the playlist (returns); a failed send or a
    // reply from the server that ends the stream throws SocketException (a queued entry that was
    // cut goes back to the queue's front, to play again from its start after reconnecting).
    void run();

  private:
    enum class Read { kReady, kFileEnded };

    // Reads the next second to send into the buffer, from the open file or the entries after
    // it; false when the run must end.
    bool prepare_next_second();
    // The next second of the open file: scanned and read into the buffer, or the file's end.
    Read read_second_of_file();
    // Chooses the next entry (the queue's first, else the playlist's) and opens it; false when
    // the run must end.
    bool choose_and_open_entry();
    bool open_entry(bool queued);
    // The open file ended (how: ending_): its as-run line, and the playlist moves on after a
    // playlist entry.
    void end_file();
    // Records the open file's end in the as-run log.
    void record_file_end(ItemEnd ended);
    // Sends the title asked for over the control socket, by the file's own title update.
    void start_requested_title();
    // A whole pass over the playlist that streamed nothing is followed by a pause.
    void count_selection(bool streamed);
    // Waits for the second's tick when it is due on one, then finishes and sends it.
    void send_prepared_second();
    void show_status_line(double framerate, long length);

    DriverState& state_;
    SourceConnection& connection_;
    StreamingResources& resources_;
    size_t idle_selections_ = 0;
    bool file_open_ = false;
    bool file_sent_ = false;             // a second of the open file went out
    AsRunRecord item_;                   // the open file's as-run line, as far as it has gone
    ItemEnd ending_ = ItemEnd::kPlayed;  // how the open file ends when end_file() comes
    // The second read into the buffer: its length as scanned, the bytes read, its frame rate
    // and frames.
    long length_ = 0;
    int bytes_read_ = 0;
    double framerate_ = 0;
    int frames_ = 0;
    // After a whole second sent in wall-clock second sent_in_: the next one waits for the tick
    // that ends it.
    bool wait_for_tick_ = false;
    std::time_t sent_in_ = 0;
};

}  // namespace tarnel
