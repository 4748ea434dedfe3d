#include "driver/play_queue.h"

#include <utility>

namespace tarnel {

bool PlayQueue::add(std::string entry) {
    if (entries_.size() >= kCapacity) {
        return false;
    }
    entries_.push_back(std::move(entry));
    return true;
}

bool PlayQueue::remove(size_t number) {
    if (number < 1 || number > entries_.size()) {
        return false;
    }
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(number - 1));
    return true;
}

void PlayQueue::play_now(std::string entry) {
    play_now_ = std::move(entry);
}

void PlayQueue::put_back(std::string entry) {
    // Ahead of everything, also of a play-now request made while the stream was down: it was
    // on air first.
    if (play_now_) {
        entries_.push_front(std::move(*play_now_));
    }
    play_now_ = std::move(entry);
}

std::optional<std::string> PlayQueue::take_next() {
    if (play_now_) {
        std::optional<std::string> next = std::move(play_now_);
        play_now_.reset();
        return next;
    }
    if (entries_.empty()) {
        return std::nullopt;
    }
    std::string next = std::move(entries_.front());
    entries_.pop_front();
    return next;
}

std::optional<std::string> PlayQueue::peek_next() const {
    if (play_now_) {
        return play_now_;
    }
    if (entries_.empty()) {
        return std::nullopt;
    }
    return entries_.front();
}

}  // namespace tarnel
