#include "driver/title_updater.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>
#include <utility>

#include "config/log.h"
#include "net/socket.h"

namespace tarnel {

TitleUpdater::Event::Event() : descriptor_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (descriptor_ == -1) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

TitleUpdater::Event::~Event() {
    close(descriptor_);
}

void TitleUpdater::Event::raise() const {
    const std::uint64_t one = 1;
    // Cannot fail short of an overflow of the counter, which clear() keeps from happening.
    (void)!write(descriptor_, &one, sizeof one);
}

void TitleUpdater::Event::clear() const {
    std::uint64_t count = 0;
    (void)!read(descriptor_, &count, sizeof count);
}

TitleUpdater::TitleUpdater()
    : watch_(done_.descriptor(), POLLIN, [this](short /*revents*/) {
          done_.clear();
          if (running()) {
              finish();
          }
      }) {
    watch_.set_armed(false);  // watched only while an update runs
}

TitleUpdater::~TitleUpdater() {
    // The run or the connection ends without a settle (an exception): the update is given up
    // and its thread ended, without a line after the one that told why the run ends.
    if (running()) {
        give_up_.raise();
        thread_.join();
    }
}

void TitleUpdater::start(TitleUpdateJob job) {
    settle();
    give_up_.clear();
    done_.clear();
    console_text_.str("");
    outcome_.clear();
    watch_.set_armed(true);
    thread_ = std::thread([this, job = std::move(job)] {
        set_thread_cancel_descriptor(give_up_.descriptor());
        set_thread_console(&console_text_);
        outcome_ = run_title_update(job);
        done_.raise();
    });
}

void TitleUpdater::settle() {
    if (!running()) {
        return;
    }
    give_up_.raise();
    finish();
    done_.clear();
}

void TitleUpdater::wait_for_outcome() {
    if (!running()) {
        return;
    }
    finish();
    done_.clear();
}

void TitleUpdater::display_status(const std::string& status_line) {
    if (running()) {
        held_status_ = status_line;
    } else {
        display(status_line);
    }
}

void TitleUpdater::finish() {
    thread_.join();
    watch_.set_armed(false);
    const std::string printed = console_text_.str();
    if (!printed.empty()) {
        console() << printed << std::flush;
    }
    nsv_log(outcome_);
    if (!held_status_.empty()) {
        display(held_status_);
        held_status_.clear();
    }
}

}  // namespace tarnel
