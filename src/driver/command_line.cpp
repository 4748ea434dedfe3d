#include "driver/command_line.h"

namespace tarnel {

CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine parsed;
    std::vector<std::string> rest;
    for (const std::string& arg : args) {
        if (arg == kRequireConfigOption) {
            parsed.require_config = true;
        } else {
            rest.push_back(arg);
        }
    }
    if (rest.empty()) {
        return parsed;
    }
    const std::string& first = rest[0];
    if (first == "--version") {
        parsed.action = CommandAction::kShowVersion;
    } else if (first.find("--help") != std::string::npos) {
        parsed.action = CommandAction::kShowHelp;
    } else {
        parsed.config_file = first;
    }
    return parsed;
}

}  // namespace tarnel
