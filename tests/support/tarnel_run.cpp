#include "support/tarnel_run.h"

#include "support/console_capture.h"

namespace tarnel::test {

TarnelRun::TarnelRun(const LoopbackServer& server) : port_(server.port_text()) {}

TarnelRun::TarnelRun(int base_port) : port_(std::to_string(base_port)) {}

TarnelRun::~TarnelRun() = default;

void TarnelRun::configure(const std::string& extra_lines) {
    dir_.write("tarnel.conf",
               "Server=127.0.0.1\n"
               "Port=" +
                   port_ +
                   "\n"
                   "Password=swapthis\n"
                   "Playlist=list.plo\n"
                   "LogFile=tarnel.log\n"
                   "AutoReconnect=no\n"
                   "ScreenLog=yes\n"
                   "RealTime=yes\n"
                   "StreamName=Loopback\n" +
                   extra_lines);
}

void TarnelRun::playlist(const std::string& text) const {
    dir_.write("list.plo", text);
}

void TarnelRun::start(const std::vector<std::string>& wrapper) {
    if (wrapper.empty()) {
        process_ = std::make_unique<Process>(TARNEL_BINARY, std::vector<std::string>{"tarnel.conf"},
                                             dir_.path(), dir_.file("console.txt"));
        return;
    }
    std::vector<std::string> args(wrapper.begin() + 1, wrapper.end());
    args.insert(args.end(), {TARNEL_BINARY, "tarnel.conf"});
    process_ = std::make_unique<Process>(wrapper[0], args, dir_.path(), dir_.file("console.txt"));
}

std::string TarnelRun::log() const {
    return without_stamps(read_file(dir_.file("tarnel.log")));
}

std::string TarnelRun::console() const {
    return read_file(dir_.file("console.txt"));
}

bool TarnelRun::wait_for_log(const std::string& text, std::chrono::milliseconds timeout,
                             size_t count) const {
    return wait_until([&] { return count_of(log(), text) >= count; },
                      static_cast<int>(timeout.count()));
}

size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

LoopbackServer::Clock::time_point arrival_of(const LoopbackServer& server, size_t connection,
                                             size_t offset) {
    LoopbackServer::Clock::time_point time{};
    for (const auto& chunk : server.chunks(connection)) {
        if (chunk.offset > offset) {
            break;
        }
        time = chunk.time;
    }
    return time;
}

double seconds_between(LoopbackServer::Clock::time_point from,
                       LoopbackServer::Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace tarnel::test
