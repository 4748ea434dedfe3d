#include "driver/idle_log.h"

#include "config/log.h"

namespace tarnel {

namespace {

void write_lines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        nsv_log(line);
    }
}

}  // namespace

void IdleLog::begin_entry() {
    end_entry();
    lines_.clear();
    in_entry_ = true;
    if (passes_.quiet()) {
        set_log_capture(&lines_);
    } else {
        set_log_copy(&lines_);
    }
}

void IdleLog::stop_collecting() {
    set_log_capture(nullptr);
    set_log_copy(nullptr);
    in_entry_ = false;
}

void IdleLog::entry_plays() {
    if (!in_entry_) {
        return;
    }
    stop_collecting();
    write_lines(passes_.entry_plays(lines_));
    lines_.clear();
}

void IdleLog::end_entry() {
    if (!in_entry_) {
        return;
    }
    stop_collecting();
    write_lines(passes_.fruitless_entry(lines_));
    lines_.clear();
}

void IdleLog::pass_fruitless(const std::string& notice) {
    end_entry();
    if (passes_.pass_fruitless()) {
        nsv_log(notice);
    }
}

}  // namespace tarnel
