#include "driver/quiet_passes.h"

#include "config/text_lines.h"

namespace tarnel {

bool is_progress_line(const std::string& line) {
    return starts_with(line, "Playlist Pos Changed to: ") ||
           starts_with(line, "Shuffle Found, however we have to wait ");
}

bool is_signal_line(const std::string& line) {
    return starts_with(line, "SIGHUP recieved") || starts_with(line, "SIGUSR1 recieved") ||
           starts_with(line, "SIGUSR2 recieved") || starts_with(line, "SIGWINCH recieved");
}

bool QuietPasses::remember(const std::vector<std::string>& lines) {
    bool found_new = false;
    for (const std::string& line : lines) {
        if (is_progress_line(line)) {
            continue;
        }
        if (seen_.size() >= kMaxRemembered) {
            seen_.clear();
        }
        found_new = seen_.insert(line).second || is_signal_line(line) || found_new;
    }
    return found_new;
}

std::vector<std::string> QuietPasses::fruitless_entry(const std::vector<std::string>& lines) {
    const bool found_new = remember(lines);
    if (!quiet_ || !found_new) {
        return {};
    }
    wrote_new_line_ = true;
    return lines;
}

std::vector<std::string> QuietPasses::entry_plays(const std::vector<std::string>& lines) {
    const bool was_quiet = quiet_;
    quiet_ = false;
    wrote_new_line_ = false;
    seen_.clear();
    return was_quiet ? lines : std::vector<std::string>{};
}

bool QuietPasses::pass_fruitless() {
    if (!quiet_) {
        quiet_ = true;
        wrote_new_line_ = false;
        return true;
    }
    const bool say_again = wrote_new_line_;
    wrote_new_line_ = false;
    return say_again;
}

}  // namespace tarnel
