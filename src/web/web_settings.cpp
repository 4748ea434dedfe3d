#include "web/web_settings.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <sstream>

namespace tarnel::web {

namespace {

bool parse_port(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    port = std::atoi(text.c_str());
    return port > 0 && port <= 65535;
}

bool ipv4_loopback(const in_addr& address) {
    return (ntohl(address.s_addr) >> 24) == 127;
}

}  // namespace

std::optional<ListenAddress> parse_listen_address(const std::string& text, std::string& reason) {
    ListenAddress address;
    std::string port_text;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            reason = "\"" + text + "\" is not [IPv6 address]:port";
            return std::nullopt;
        }
        address.host = text.substr(1, close - 1);
        port_text = text.substr(close + 2);
        in6_addr ipv6{};
        if (inet_pton(AF_INET6, address.host.c_str(), &ipv6) != 1) {
            reason = "\"" + address.host + "\" is not an IPv6 address";
            return std::nullopt;
        }
        address.loopback = IN6_IS_ADDR_LOOPBACK(&ipv6);
    } else {
        const size_t colon = text.rfind(':');
        if (colon == std::string::npos) {
            reason = "\"" + text + "\" is not address:port";
            return std::nullopt;
        }
        address.host = text.substr(0, colon);
        port_text = text.substr(colon + 1);
        in_addr ipv4{};
        if (inet_pton(AF_INET, address.host.c_str(), &ipv4) != 1) {
            reason = "\"" + address.host + "\" is not an IPv4 address (IPv6 goes in brackets)";
            return std::nullopt;
        }
        address.loopback = ipv4_loopback(ipv4);
    }
    if (!parse_port(port_text, address.port)) {
        reason = "\"" + port_text + "\" is not a port (1 to 65535)";
        return std::nullopt;
    }
    return address;
}

std::vector<std::string> apply_web_config(const std::string& text, WebSettings& settings) {
    std::vector<std::string> problems;
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == ';' || line[0] == '#') {
            continue;
        }
        const size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        if (equals != std::string::npos && key == "Listen") {
            settings.listen = value;
        } else if (equals != std::string::npos && key == "RunDir") {
            settings.run_dir = value;
        } else if (equals != std::string::npos && key == "User") {
            settings.user = value;
        } else if (equals != std::string::npos && key == "Password") {
            settings.password = value;
        } else {
            problems.push_back("line " + std::to_string(number) + ": \"" + line +
                               "\" is no key; ignored");
        }
    }
    return problems;
}

CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine command;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            command.action = CommandLine::Action::kHelp;
            return command;
        }
        if (arg == "--version") {
            command.action = CommandLine::Action::kVersion;
            return command;
        }
        if (arg == "--config" || arg == "--listen" || arg == "--run-dir") {
            if (i + 1 == args.size() || args[i + 1].empty()) {
                command.action = CommandLine::Action::kUsageError;
                command.error = arg + " needs a value";
                return command;
            }
            const std::string& value = args[++i];
            if (arg == "--config") {
                command.config_file = value;
            } else if (arg == "--listen") {
                command.listen = value;
            } else {
                command.run_dir = value;
            }
            continue;
        }
        command.action = CommandLine::Action::kUsageError;
        command.error = "unknown argument \"" + arg + "\"";
        return command;
    }
    return command;
}

std::string usage_text() {
    return "Usage: tarnel-web [--config FILE] [--listen ADDRESS:PORT] [--run-dir DIR]\n"
           "       tarnel-web --help | --version\n"
           "\n"
           "Serves the stations of this machine (one folder NAME/ in the run directory, with\n"
           "status.json and control.sock) as a web page and as Prometheus metrics (/metrics).\n"
           "  --config FILE     settings (default " +
           std::string(kDefaultWebConfig) +
           ", when it exists)\n"
           "  --listen ADDRESS:PORT   default 127.0.0.1:8600; another address than loopback\n"
           "                    needs User= and Password= in the configuration file\n"
           "  --run-dir DIR     default /run/tarnel\n";
}

std::string check_settings(const WebSettings& settings) {
    std::string reason;
    const std::optional<ListenAddress> address = parse_listen_address(settings.listen, reason);
    if (!address) {
        return "cannot listen on " + settings.listen + ": " + reason;
    }
    if (settings.user.empty() != settings.password.empty()) {
        return "User= and Password= go together: set both or neither";
    }
    if (!address->loopback && settings.password.empty()) {
        return "listening on " + settings.listen +
               " lets other machines in: it needs User= and Password= in the configuration file";
    }
    if (settings.user.find(':') != std::string::npos) {
        return "User= cannot hold a colon (HTTP basic authentication separates it from the "
               "password with one)";
    }
    return "";
}

}  // namespace tarnel::web
