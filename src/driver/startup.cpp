#include "driver/startup.h"

#include <malloc.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "config/log.h"
#include "config/playlist.h"
#include "config/settings.h"
#include "config/signals.h"
#include "config/strformat.h"
#include "control/control_socket_file.h"
#include "driver/command_line.h"
#include "driver/connection_loop.h"
#include "driver/control_session.h"
#include "driver/driver_state.h"
#include "driver/exit_status.h"
#include "driver/run_status.h"
#include "driver/service_notify.h"

namespace tarnel {

void print_banner(std::ostream& out) {
    const std::string rule = "/" + std::string(50, '*') + "/";
    out << rule << '\n'
        << "/** Tarnel v" << kVersion << '/' << kPlatform << '\n'
        << "/** Written by: the Tarnel developers\n"
        << "/** " << kHomePage << '\n'
        << rule << '\n'
        << '\n';
}

void print_help(std::ostream& out) {
    out << '\n'
        << "Tarnel was written to give Unix operators the ability to feed their\n"
        << "streaming servers with NSV content.\n"
        << '\n'
        << "Usage: tarnel [tarnel.conf]\n"
        << "       tarnel [--help]\n"
        << "       tarnel --version\n"
        << '\n';
}

void print_version(std::ostream& out) {
    out << "tarnel " << kVersion << '\n';
}

namespace {

// The end of the run: the status shows it stopped.
int stop(DriverState& state, int exit_status) {
    state.status.state = RunState::kStopped;
    publish_status(state.status);
    return exit_status;
}

}  // namespace

int run(int argc, char** argv) {
    const CommandLine command = parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
    if (command.action == CommandAction::kShowVersion) {
        print_version(std::cout);
        return kExitOrderly;
    }
#ifdef M_ARENA_MAX
    // One heap for the program's threads: the title update's short thread would otherwise get a
    // heap of its own, whose memory the process keeps.
    mallopt(M_ARENA_MAX, 1);
#endif
    install_signal_handlers();
    print_banner(std::cout);
    if (command.action == CommandAction::kShowHelp) {
        print_help(std::cout);
        return kExitOrderly;
    }
    if (command.config_file) {
        config_file = *command.config_file;
    }
    std::cout << std::flush;

    journal_console = stdout_is_journal();
    console_discarded = stdout_is_discarded();
    if (!load_config(command.require_config) && command.require_config) {
        return kExitFailure;
    }
    DriverState state;
    nsv_log("Source Program Started...");
    nsv_log(state.remember(strformat("pid: %d", static_cast<int>(getpid()))));
    publish_status(state.status);
    // The control socket is opened once, before the playlist, so a station can be asked what it
    // does from its start; a reloaded configuration does not move it.
    std::unique_ptr<ControlSession> control;
    if (!control_socket.empty()) {
        try {
            control = std::make_unique<ControlSession>(state, control_socket);
        } catch (const ControlSocketError& error) {
            const std::string failure =
                "Control socket (" + control_socket + ") could not be opened: " + error.text();
            nsv_log("FATAL ERROR: " + failure + "; exiting");
            record_error(state.status, failure);
            return stop(state, kExitFailure);
        }
        nsv_log("Listening for control requests on " + control_socket);
    }
    if (!load_playlist()) {
        nsv_log("FATAL ERROR: Playlist (" + playlist + ") could not be loaded!!; exiting");
        nsv_log(playlist_failure_line());
        record_playlist_failure(state.status);
        return stop(state, kExitFailure);
    }
    nsv_log("Connecting to " + server + ":" + port);
    notify_service("READY=1");
    try {
        return stop(state, run_connection_loop(state));
    } catch (const EndOfRun&) {
        // A playlist reload requested by signal failed; the fatal line is logged.
        record_playlist_failure(state.status);
        return stop(state, kExitFailure);
    }
}

}  // namespace tarnel
