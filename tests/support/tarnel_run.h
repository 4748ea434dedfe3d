#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/loopback_server.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {

// One run of the real build/tarnel in a temporary directory against a loopback server: writes
// its configuration (pointing at the server, logging to tarnel.log) and playlist, starts it, and
// reads back its log and console. The process is stopped by its PID when the run ends.
class TarnelRun {
  public:
    explicit TarnelRun(const LoopbackServer& server);
    // Against any server listening on 127.0.0.1 at base_port (and base_port + 1).
    explicit TarnelRun(int base_port);
    ~TarnelRun();
    TarnelRun(const TarnelRun&) = delete;
    TarnelRun& operator=(const TarnelRun&) = delete;

    const TempDir& dir() const { return dir_; }

    // The configuration: the server's address and port, password "swapthis", playlist
    // "list.plo", log "tarnel.log",
    // no reconnection, console echo and status line on; extra lines come after, so they win.
    void configure(const std::string& extra_lines = "");
    void playlist(const std::string& text) const;
    // Starts the program; a launcher (a program and its arguments, such as prlimit with a limit)
    // runs it instead, given the program's path and arguments after its own; it must end by
    // executing them, so that the process stays the one started.
    void start(const std::vector<std::string>& launcher = {});

    Process& process() { return *process_; }
    // The log file without time stamps.
    std::string log() const;
    // Everything the program wrote to its standard output.
    std::string console() const;
    // Waits until the log holds text (count times at least).
    bool wait_for_log(const std::string& text, std::chrono::milliseconds timeout,
                      size_t count = 1) const;

  private:
    std::string port_;
    TempDir dir_;
    std::unique_ptr<Process> process_;
};

size_t count_of(const std::string& text, const std::string& part);

// When the byte at offset of a connection arrived at the server.
LoopbackServer::Clock::time_point arrival_of(const LoopbackServer& server, size_t connection,
                                             size_t offset);

double seconds_between(LoopbackServer::Clock::time_point from,
                       LoopbackServer::Clock::time_point to);

}  // namespace tarnel::test
