#include "config/signals.h"

#include <poll.h>

#include <cerrno>
#include <csignal>

#include "config/config_file.h"
#include "config/log.h"
#include "config/playlist.h"
#include "config/settings.h"
#include "config/stdio_file.h"

namespace tarnel {

bool next_track = false;

namespace {

// Set by the handlers, cleared by carry_out_signals(). A handler does nothing else, so it never
// meets the main flow half way through a log line, a file or a list.
volatile std::sig_atomic_t hup_pending = 0;
volatile std::sig_atomic_t usr2_pending = 0;
volatile std::sig_atomic_t usr1_pending = 0;
volatile std::sig_atomic_t winch_pending = 0;

// Returns whether the flag was set, and clears it.
bool take(volatile std::sig_atomic_t& flag) {
    if (flag == 0) {
        return false;
    }
    flag = 0;
    return true;
}

bool any_pending() {
    return hup_pending != 0 || usr2_pending != 0 || usr1_pending != 0 || winch_pending != 0;
}

void install(int signal_number, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
}

}  // namespace

void catch_hup(int /*signal_number*/) {
    hup_pending = 1;
}
void catch_usr2(int /*signal_number*/) {
    usr2_pending = 1;
}
void catch_usr1(int /*signal_number*/) {
    usr1_pending = 1;
}
void catch_winch(int /*signal_number*/) {
    winch_pending = 1;
}

void install_signal_handlers() {
    install(SIGHUP, catch_hup);
    install(SIGUSR2, catch_usr2);
    install(SIGUSR1, catch_usr1);
    install(SIGWINCH, catch_winch);
    install(SIGPIPE, SIG_IGN);
}

int poll_until_signal(pollfd* descriptors, nfds_t count, const timespec* timeout) {
    // A signal arriving between the look at the flags and the start of the sleep would otherwise
    // wait for the end of the sleep: the four are blocked for the look, and ppoll unblocks them
    // and sleeps in one step, returning early (EINTR) when a handler has run.
    sigset_t four;
    sigemptyset(&four);
    for (const int signal_number : {SIGHUP, SIGUSR2, SIGUSR1, SIGWINCH}) {
        sigaddset(&four, signal_number);
    }
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &four, &previous);
    int ready = -1;
    int error = EINTR;
    if (!any_pending()) {
        ready = ppoll(descriptors, count, timeout, &previous);
        error = errno;
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return ready;
}

void sleep_until_signal(std::chrono::nanoseconds duration) {
    if (duration <= std::chrono::nanoseconds::zero()) {
        return;
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    const timespec timeout{static_cast<std::time_t>(seconds.count()),
                           static_cast<long>((duration - seconds).count())};
    poll_until_signal(nullptr, 0, &timeout);
}

void carry_out_signals() {
    if (take(hup_pending)) {
        if (logfile != "NULL") {
            const StdioFile emptied = open_log_file(logfile, true);
        }
        nsv_log("SIGHUP recieved; flushing log files!");
    }
    if (take(usr2_pending)) {
        next_track = true;
        nsv_log("SIGUSR2 recieved; changing to next track position!");
    }
    if (take(usr1_pending)) {
        nsv_log("SIGUSR1 recieved; playlist reloading!");
        if (!load_playlist()) {
            nsv_log("FATAL ERROR: Playlist (" + playlist + ") could not be loaded!!");
            nsv_log(playlist_failure_line());
            throw EndOfRun{};
        }
    }
    if (take(winch_pending)) {
        nsv_log("SIGWINCH recieved; config file reloading!");
        load_config();
    }
}

void reset_signals() {
    hup_pending = usr2_pending = usr1_pending = winch_pending = 0;
    next_track = false;
}

}  // namespace tarnel
