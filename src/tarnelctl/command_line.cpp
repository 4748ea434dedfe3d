#include "tarnelctl/command_line.h"

#include <nlohmann/json.hpp>

#include "config/port_number.h"

namespace tarnel::ctl {

namespace {

// A station name is one path component of /run/tarnel.
bool valid_station_name(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

ParsedCommandLine usage_error(std::string error) {
    ParsedCommandLine parsed;
    parsed.error = std::move(error);
    return parsed;
}

// The command and its arguments (words) into invocation; an error text or an empty string.
std::string read_command(const std::vector<std::string>& words, Invocation& invocation) {
    const std::string& name = words[0];
    const size_t arguments = words.size() - 1;
    const auto takes = [&](size_t least, size_t most) -> std::string {
        if (arguments < least) {
            return "'" + name + "' needs " +
                   (name == "reload"    ? std::string("config or playlist")
                    : name == "unqueue" ? std::string("the number of a queue item")
                    : name == "title"   ? std::string("a text")
                                        : std::string("a file"));
        }
        if (arguments > most) {
            return "too many arguments for '" + name + "'";
        }
        return "";
    };
    std::string error;
    if (name == "status" || name == "next" || name == "skip") {
        invocation.command = name == "status" ? Command::kStatus
                             : name == "next" ? Command::kNext
                                              : Command::kSkip;
        error = takes(0, 0);
    } else if (name == "queue") {
        invocation.command = arguments == 0 ? Command::kQueueList : Command::kQueueAdd;
        error = takes(0, 1);
    } else if (name == "play") {
        invocation.command = Command::kPlay;
        error = takes(1, 1);
    } else if (name == "unqueue") {
        invocation.command = Command::kUnqueue;
        error = takes(1, 1);
        if (error.empty()) {
            const std::optional<size_t> number = decimal_number_in(words[1], 100000);
            if (!number) {
                return "unqueue takes the number of a queue item, counted from 1";
            }
            invocation.number = *number;
        }
        return error;
    } else if (name == "title") {
        invocation.command = Command::kTitle;
        error = takes(1, words.size());
        for (size_t i = 1; error.empty() && i < words.size(); ++i) {
            invocation.argument += (i > 1 ? " " : "") + words[i];
        }
        return error;
    } else if (name == "reload") {
        invocation.command = Command::kReload;
        error = takes(1, 1);
        if (error.empty() && words[1] != "config" && words[1] != "playlist") {
            return "reload takes config or playlist";
        }
    } else if (name == "history") {
        invocation.command = Command::kHistory;
        invocation.number = kDefaultHistory;
        error = takes(0, 1);
        if (error.empty() && arguments == 1) {
            const std::optional<size_t> number = decimal_number_in(words[1], kMaxHistory);
            if (!number) {
                return "history takes a number of items from 1 to " + std::to_string(kMaxHistory);
            }
            invocation.number = *number;
        }
        return error;
    } else {
        return "unknown command '" + name + "'";
    }
    if (error.empty() && arguments == 1) {
        invocation.argument = words[1];
    }
    return error;
}

}  // namespace

std::string station_socket(const std::string& name) {
    return "/run/tarnel/" + name + "/control.sock";
}

ParsedCommandLine parse_command_line(const std::vector<std::string>& args) {
    Invocation invocation;
    std::vector<std::string> words;
    bool options_done = false;
    bool socket_given = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "--json") {
            invocation.json = true;
        } else if (arg == "-s" || arg == "--socket") {
            if (i + 1 == args.size()) {
                return usage_error(arg + " needs the path of a control socket");
            }
            invocation.socket_path = args[++i];
            socket_given = true;
        } else if (arg.rfind("--socket=", 0) == 0) {
            invocation.socket_path = arg.substr(9);
            socket_given = true;
        } else if (arg == "-h" || arg == "--help") {
            invocation.command = Command::kHelp;
            return ParsedCommandLine{invocation, ""};
        } else if (arg == "--version") {
            invocation.command = Command::kVersion;
            return ParsedCommandLine{invocation, ""};
        } else {
            return usage_error("unknown option '" + arg + "'");
        }
    }
    if (socket_given && invocation.socket_path.empty()) {
        return usage_error("-s needs the path of a control socket");
    }
    if (!socket_given) {
        if (words.empty()) {
            return usage_error("no station named");
        }
        if (!valid_station_name(words[0])) {
            return usage_error("'" + words[0] + "' is no station name (a name has no '/')");
        }
        invocation.socket_path = station_socket(words[0]);
        words.erase(words.begin());
    }
    if (words.empty()) {
        return usage_error("no command given");
    }
    const std::string error = read_command(words, invocation);
    if (!error.empty()) {
        return usage_error(error);
    }
    return ParsedCommandLine{invocation, ""};
}

ControlCall control_call(const Invocation& invocation) {
    const auto body = [](const char* key, const std::string& value) {
        return nlohmann::json{{key, value}}.dump(-1, ' ', false,
                                                 nlohmann::json::error_handler_t::replace);
    };
    switch (invocation.command) {
        case Command::kStatus:
        case Command::kNext:
            return {"GET", "/status", ""};
        case Command::kSkip:
            return {"POST", "/skip", ""};
        case Command::kQueueList:
            return {"GET", "/queue", ""};
        case Command::kQueueAdd:
            return {"POST", "/queue", body("entry", invocation.argument)};
        case Command::kUnqueue:
            return {"DELETE", "/queue/" + std::to_string(invocation.number), ""};
        case Command::kPlay:
            return {"POST", "/play", body("entry", invocation.argument)};
        case Command::kTitle:
            return {"POST", "/title", body("title", invocation.argument)};
        case Command::kReload:
            return {"POST", "/reload", body("what", invocation.argument)};
        case Command::kHistory:
            return {"GET", "/history?n=" + std::to_string(invocation.number), ""};
        case Command::kHelp:
        case Command::kVersion:
            break;
    }
    return {};
}

std::string usage_text() {
    return "Usage: tarnelctl [--json] NAME COMMAND [ARGUMENT...]\n"
           "       tarnelctl [--json] -s SOCKET COMMAND [ARGUMENT...]\n"
           "       tarnelctl --help | --version\n"
           "\n"
           "NAME is a station of the unit tarnel@NAME, whose control socket is\n"
           "/run/tarnel/NAME/control.sock; -s SOCKET names a control socket directly.\n"
           "\n"
           "Commands:\n"
           "  status            what the station does: state, file, next, queue, position\n"
           "  next              what plays next\n"
           "  skip              end the file that plays after the second in progress\n"
           "  queue             list the play-next queue\n"
           "  queue FILE        play FILE once after the file that plays\n"
           "  unqueue N         remove item N (counted from 1) from the queue\n"
           "  play FILE         play FILE now, then go on with the queue and the playlist\n"
           "  title TEXT        send TEXT as the title of the file that plays\n"
           "  reload config     reload the configuration file\n"
           "  reload playlist   reload the playlist\n"
           "  history [N]       the last N items that went on air (10 unless given)\n"
           "\n"
           "FILE is a path on the station's machine; a relative one starts in the station's\n"
           "working directory. --json prints the station's JSON reply.\n"
           "Exit status: 0 done, 1 the station refused, 2 usage error or station not reached.\n";
}

}  // namespace tarnel::ctl
