#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace tarnel {

// Decides what the log shows while nothing in the playlist can be played. Without it, a playlist
// whose media disk is missing logs two lines per entry on every pass, once a second, forever: a
// 2,000-entry playlist fills a disk. The first pass that plays nothing is logged as usual; after
// it, the passes are quiet: an entry's lines are held back and written only when one of them is
// new (not seen in an earlier pass that played nothing), so what changes still shows. Quiet ends
// as soon as an entry plays. No I/O: the lines come in and the lines to write go out.
class QuietPasses {
  public:
    // The most distinct lines remembered; past it they are forgotten, and the next pass is
    // written once more. A pass gives about two per entry.
    static constexpr size_t kMaxRemembered = 20000;

    // Whether an entry's lines are held back now.
    bool quiet() const { return quiet_; }

    // An entry (its selection and its opening) ended without sending anything, having given these
    // lines: held back when quiet, already written otherwise. Returns the lines to write now:
    // when quiet, the entry's lines if one of them is new, otherwise none.
    std::vector<std::string> fruitless_entry(const std::vector<std::string>& lines);

    // An entry is about to send its first second, having given these lines so far. Quiet ends;
    // returns the lines to write now (those held back when it was quiet).
    std::vector<std::string> entry_plays(const std::vector<std::string>& lines);

    // A whole pass over the playlist sent nothing. Returns whether to say that nothing can be
    // played: after the first such pass (quiet starts), and after a quiet pass that wrote a new
    // line.
    bool pass_fruitless();

  private:
    // Remembers the lines; returns whether one of them is new.
    bool remember(const std::vector<std::string>& lines);

    bool quiet_ = false;
    bool wrote_new_line_ = false;  // in this pass
    std::set<std::string> seen_;
};

// Lines that only say where the traversal is (the position, a shuffle's wait), which every pass
// repeats differently: they are written with a new line of their entry, never as news themselves.
bool is_progress_line(const std::string& line);

// Lines that report a signal carried out: always news, so a reload or a skip asked for while the
// log is quiet always shows.
bool is_signal_line(const std::string& line);

}  // namespace tarnel
