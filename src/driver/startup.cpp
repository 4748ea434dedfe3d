#include "driver/startup.h"

#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>

#include "config/config_file.h"
#include "config/log.h"
#include "config/playlist.h"
#include "config/settings.h"
#include "config/signals.h"
#include "config/strformat.h"
#include "driver/connection_loop.h"
#include "driver/driver_state.h"

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
        << '\n';
}

int run(int argc, char** argv) {
    install_signal_handlers();
    print_banner(std::cout);
    if (argc > 1) {
        if (std::strstr(argv[1], "--help") != nullptr) {
            print_help(std::cout);
            return 0;
        }
        config_file = argv[1];
    }
    std::cout << std::flush;

    load_config();
    DriverState state;
    nsv_log("Source Program Started...");
    nsv_log(state.remember(strformat("pid: %d", static_cast<int>(getpid()))));
    if (!load_playlist()) {
        nsv_log("FATAL ERROR: Playlist (" + playlist + ") could not be loaded!!; exiting");
        return 0;
    }
    nsv_log("Connecting to " + server + ":" + port);
    try {
        return run_connection_loop(state);
    } catch (const EndOfRun&) {
        return 0;  // a playlist reload requested by signal failed; the fatal line is logged
    }
}

}  // namespace tarnel
