#pragma once

#include <poll.h>

#include <chrono>
#include <ctime>

namespace tarnel {

// The skip request: raised when SIGUSR2 has been carried out, taken (and cleared) by the streaming
// loop once per cycle.
extern bool next_track;

// Thrown when the run must end because a playlist reload requested by SIGUSR1 failed; main then
// ends with the failure status.
struct EndOfRun {};

// Handlers: each only records that its signal came. The work is done by carry_out_signals().
void catch_hup(int signal_number);
void catch_usr2(int signal_number);
void catch_usr1(int signal_number);
void catch_winch(int signal_number);

// Installs the four handlers (staying installed, interrupted system calls resumed) and ignores
// SIGPIPE, so a send to a closed connection fails with an error instead of ending the process.
void install_signal_handlers();

// Carries out, at a safe point of the main flow, every signal recorded since the last call, in
// the order SIGHUP, SIGUSR2, SIGUSR1, SIGWINCH. Throws EndOfRun when the playlist reload fails.
void carry_out_signals();

// Sleeps for at most duration, and less when one of the four signals arrives: at once when one
// has been recorded and not yet carried out. The caller carries them out afterwards.
void sleep_until_signal(std::chrono::nanoseconds duration);

// ppoll over descriptors (none when count is 0) with the four signals unblocked for the sleep
// only: returns ppoll's result, and -1 with errno EINTR at once when one of them has been recorded
// and not yet carried out. timeout nullptr: no limit.
int poll_until_signal(pollfd* descriptors, nfds_t count, const timespec* timeout);

// Forgets recorded signals and clears next_track (tests).
void reset_signals();

}  // namespace tarnel
