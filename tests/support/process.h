#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace tarnel::test {

// A child process running a program (a path, or a name looked up in PATH) with its standard output
// and error sent to a file. The destructor stops it (SIGKILL) by its PID if it still runs, so no
// test leaves a process behind.
class Process {
  public:
    Process(const std::string& program, const std::vector<std::string>& args,
            const std::string& working_directory, const std::string& output_file);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int signal_number) const;
    // Waits up to timeout_ms for the process to end; returns its exit status, or -1 if it still
    // runs (or ended by a signal).
    int wait(int timeout_ms);
    bool running();
    void kill();
    // The processor time and other figures of the process's whole life, once it has ended and
    // been waited for (zeros before).
    const rusage& usage() const { return usage_; }

  private:
    void reap(int options);

    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    rusage usage_{};
};

// Runs a program to its end (at most timeout_ms) and returns its exit status; output goes to
// output_file.
int run_program(const std::string& program, const std::vector<std::string>& args,
                const std::string& working_directory, const std::string& output_file,
                int timeout_ms = 10000);

// Polls predicate every 20 ms for at most timeout_ms; returns its last value.
template <typename Predicate>
bool wait_until(Predicate predicate, int timeout_ms);

void sleep_ms(int milliseconds);

template <typename Predicate>
bool wait_until(Predicate predicate, int timeout_ms) {
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (predicate()) {
            return true;
        }
        sleep_ms(20);
    }
    return predicate();
}

}  // namespace tarnel::test
