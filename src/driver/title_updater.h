#pragma once

#include <sstream>
#include <string>
#include <thread>

#include "driver/loop_wait.h"
#include "net/title_update.h"

namespace tarnel {

// The title update of the file that plays, run on a thread of its own beside the stream, so that
// a slow or silent server never delays a second: the file's first second goes out on its tick
// while the update waits for the server.
//
// The console, the log and the status line stay the main thread's. The thread only carries the
// update out (run_title_update) and keeps what the socket layer would print on the console; when
// it has ended, the main flow's wait serves it: the kept console text is written out, then the
// outcome line ("Title Updated (...)" or "Error Updating Title(...)") is logged, in the order
// they had when the update ran in the main flow.
//
// At most one update runs. When the next one is to start, or the next entry is about to be
// chosen, or the connection ends, an update that still runs is given up: its waits end at once,
// as when its time limit runs out, so its outcome is the usual "Error Updating Title(...)" of the
// step it was in, logged before anything of the next entry. (A name lookup cannot be ended that
// way; it is waited for.) So no update is ever left behind, and each file's outcome line comes
// after its "Opened" lines and before the next entry's lines, as before. Destruction without a
// settle (the run ends by an exception) gives the update up and ends its thread, logging nothing.
class TitleUpdater {
  public:
    TitleUpdater();
    ~TitleUpdater();
    TitleUpdater(const TitleUpdater&) = delete;
    TitleUpdater& operator=(const TitleUpdater&) = delete;

    // Settles the update before (settle()) and starts this one.
    void start(TitleUpdateJob job);
    // When an update runs: gives it up, waits for its thread and logs its outcome. Nothing
    // otherwise.
    void settle();
    // When an update runs: waits for it to end by itself (within its time limit), then logs its
    // outcome. For a line of the file's own that followed its update's outcome when the update
    // ran in the main flow (the rest of the file skipped): the log keeps its order.
    void wait_for_outcome();
    bool running() const { return thread_.joinable(); }

    // Shows the status line (display()); while an update runs, keeps it instead and shows it
    // right after the update's outcome line, so the console has them in the order they had
    // when the update ran in the main flow (the outcome first).
    void display_status(const std::string& status_line);

  private:
    // A descriptor that can be made readable from another thread (an eventfd).
    class Event {
      public:
        Event();
        ~Event();
        Event(const Event&) = delete;
        Event& operator=(const Event&) = delete;
        int descriptor() const { return descriptor_; }
        void raise() const;
        void clear() const;

      private:
        int descriptor_ = -1;
    };

    // Joins the ended thread, then writes out its console text and logs its outcome.
    void finish();

    Event done_;     // raised by the thread when the update has ended
    Event give_up_;  // raised by the main flow to end the update's waits
    std::thread thread_;
    std::string outcome_;
    std::ostringstream console_text_;
    std::string held_status_;  // the latest status line kept while the update runs
    WaitWatch watch_;
};

}  // namespace tarnel
