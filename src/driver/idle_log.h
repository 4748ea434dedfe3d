#pragma once

#include <string>
#include <vector>

#include "driver/quiet_passes.h"

namespace tarnel {

// Keeps the log quiet while nothing in the playlist can be played (see QuietPasses). The streamer
// says where each entry begins (before its selection), when it is about to send its first second,
// and when it ends without having played (after its title update's outcome); between begin and
// end the entry's log lines are held back while the log is quiet, copied otherwise. Lives in the
// driver's state, across source connections, so a reconnection does not log the same fruitless
// pass again.
class IdleLog {
  public:
    // Ends an entry still open when the streaming of a connection ends, also by an exception (a
    // failed send, a failed reload), so that no line stays held back.
    class Session {
      public:
        explicit Session(IdleLog& log) : log_(log) {}
        ~Session() { log_.end_entry(); }
        Session(const Session&) = delete;
        Session& operator=(const Session&) = delete;

      private:
        IdleLog& log_;
    };

    // An entry begins: its lines are collected from now (an entry still open ends first).
    void begin_entry();
    // The entry is about to send its first second: what was held back is written, and the log is
    // no longer quiet.
    void entry_plays();
    // The entry ended without playing: QuietPasses decides which of its lines to write.
    void end_entry();

    // A whole pass over the playlist sent nothing: the first time, and after a quiet pass that
    // logged something new, the notice says so and how often Tarnel tries again.
    void pass_fruitless(const std::string& notice);

  private:
    void stop_collecting();

    QuietPasses passes_;
    std::vector<std::string> lines_;  // the current entry's
    bool in_entry_ = false;
};

}  // namespace tarnel
