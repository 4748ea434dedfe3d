#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tarnel::ctl {

enum class Command {
    kStatus,
    kNext,
    kSkip,
    kQueueList,
    kQueueAdd,
    kUnqueue,
    kPlay,
    kTitle,
    kReload,
    kHistory,
    kHelp,
    kVersion,
};

// What tarnelctl was asked to do.
struct Invocation {
    Command command = Command::kHelp;
    std::string socket_path;
    bool json = false;     // print the station's JSON rather than text
    std::string argument;  // the file, title text, or "config" / "playlist"
    size_t number = 0;     // unqueue's item, history's count
};

// The command line read, or a usage error (a message naming what is wrong).
struct ParsedCommandLine {
    std::optional<Invocation> invocation;
    std::string error;
};

// The most items history asks for, and the count without one.
constexpr size_t kMaxHistory = 1000;
constexpr size_t kDefaultHistory = 10;

// The control socket of the station NAME run by the unit tarnel@NAME.
std::string station_socket(const std::string& name);

// Reads the arguments after the program name: options (--json, -s PATH / --socket PATH,
// --help, --version; "--" ends them), then NAME unless -s was given, the command and its
// arguments. The words of a title are joined by spaces.
ParsedCommandLine parse_command_line(const std::vector<std::string>& args);

// The request that carries out an invocation.
struct ControlCall {
    std::string method;
    std::string target;
    std::string body;  // JSON, or empty
};
ControlCall control_call(const Invocation& invocation);

// The usage text.
std::string usage_text();

}  // namespace tarnel::ctl
