// tarnel-web: the stations of this machine as a web page and as Prometheus metrics.

#include <malloc.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "config/settings.h"
#include "driver/service_notify.h"
#include "web/web_security.h"
#include "web/web_server.h"
#include "web/web_settings.h"

namespace {

using tarnel::web::CommandLine;
using tarnel::web::WebSettings;

constexpr int kUsageError = 2;
constexpr int kRuntimeError = 1;

void fail(const std::string& message) {
    std::cerr << "tarnel-web: " << message << "\n";
}

// Reads the configuration file over settings. A missing default file means the defaults; a file
// named on the command line must exist. A file that holds a password must not be readable by
// every user.
bool load_config(const CommandLine& command, WebSettings& settings) {
    const bool named = !command.config_file.empty();
    const std::string path = named ? command.config_file : tarnel::web::kDefaultWebConfig;
    std::ifstream file(path);
    if (!file) {
        if (named || errno != ENOENT) {
            fail("cannot read the configuration file " + path + ": " + std::strerror(errno));
            return false;
        }
        return true;
    }
    std::ostringstream text;
    text << file.rdbuf();
    for (const std::string& problem : tarnel::web::apply_web_config(text.str(), settings)) {
        fail(path + ": " + problem);
    }
    struct stat info {};
    if (!settings.password.empty() && stat(path.c_str(), &info) == 0 && (info.st_mode & S_IROTH)) {
        fail(path + " holds a password and every user can read it: chmod o-r " + path +
             " (640, group tarnel)");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine command =
        tarnel::web::parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
    switch (command.action) {
        case CommandLine::Action::kHelp:
            std::cout << tarnel::web::usage_text();
            return 0;
        case CommandLine::Action::kVersion:
            std::cout << "tarnel-web " << tarnel::kVersion << "\n";
            return 0;
        case CommandLine::Action::kUsageError:
            fail(command.error);
            std::cerr << tarnel::web::usage_text();
            return kUsageError;
        case CommandLine::Action::kRun:
            break;
    }
    WebSettings settings;
    if (!load_config(command, settings)) {
        return kUsageError;
    }
    settings.listen = command.listen.value_or(settings.listen);
    settings.run_dir = command.run_dir.value_or(settings.run_dir);
    if (const std::string problem = tarnel::web::check_settings(settings); !problem.empty()) {
        fail(problem);
        return kUsageError;
    }

    // glibc gives each thread that allocates an arena of its own, and keeps what a request freed
    // in it: with the server's pool of threads each reading every station in turn, the peak
    // memory grew with the pool (72 MiB for /metrics of 1,000 stations, 16 MiB with one arena).
    mallopt(M_ARENA_MAX, 1);

    // SIGTERM and SIGINT end the program: blocked in every thread, and taken by sigwait below.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        tarnel::web::WebServer server(settings, tarnel::web::random_token());
        if (const std::string problem = server.bind(); !problem.empty()) {
            fail(problem);
            return kRuntimeError;
        }
        const std::string host = settings.listen;
        std::cout << "tarnel-web " << tarnel::kVersion << ": http://" << host << "/ (stations in "
                  << settings.run_dir << ")" << std::endl;
        std::thread serving([&server] { server.serve(); });
        // stop() ends only a server that runs: wait for it (bounded) before taking signals.
        for (int waited = 0; waited < 5000 && !server.running(); waited += 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        tarnel::notify_service("READY=1");
        int received = 0;
        sigwait(&stop_signals, &received);
        tarnel::notify_service("STOPPING=1");
        server.stop();
        serving.join();
    } catch (const std::exception& error) {
        fail(error.what());
        return kRuntimeError;
    }
    return 0;
}
