#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnel {

// What the command line asks for.
enum class CommandAction { kRun, kShowHelp, kShowVersion };

struct CommandLine {
    CommandAction action = CommandAction::kRun;
    // The configuration file named by the first argument; none: the default (tarnel.conf).
    std::optional<std::string> config_file;
    // --require-config: a configuration file that cannot be loaded at start-up ends the run
    // instead of leaving the defaults in force. The service unit passes it, so a station never
    // goes on air with the defaults' server and password.
    bool require_config = false;
};

// The word that asks for require_config. It is taken wherever it stands; the other arguments
// keep their meaning: the first of them is examined ("--version" exactly, anything containing
// "--help", or else the configuration file), and those after it are ignored.
constexpr const char* kRequireConfigOption = "--require-config";

// args: the arguments after the program's name.
CommandLine parse_command_line(const std::vector<std::string>& args);

}  // namespace tarnel
