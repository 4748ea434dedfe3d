#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace tarnel {

// The entries asked for over the control socket: a play-next queue, played in order after the
// file that plays, and one entry to play at once. Each plays once; the playlist then goes on
// where it was.
class PlayQueue {
  public:
    static constexpr size_t kCapacity = 100;

    // Adds entry at the end; false when the queue holds kCapacity entries already.
    bool add(std::string entry);
    // Removes the entry numbered number (from 1); false when there is none.
    bool remove(size_t number);
    // Sets the entry to play at once, in place of one still waiting.
    void play_now(std::string entry);
    // An entry whose play was cut by a lost connection: it plays first again once the stream is
    // back, as a playlist entry would.
    void put_back(std::string entry);

    // The entry to play now, taken out: the one to play at once, else the queue's first.
    std::optional<std::string> take_next();
    // The same without taking it.
    std::optional<std::string> peek_next() const;

    const std::deque<std::string>& entries() const { return entries_; }
    const std::optional<std::string>& pending_play() const { return play_now_; }
    bool empty() const { return entries_.empty() && !play_now_; }

  private:
    std::deque<std::string> entries_;
    std::optional<std::string> play_now_;
};

}  // namespace tarnel
