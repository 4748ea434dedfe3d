#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnel::web {

// Where tarnel-web listens: a numeric IPv4 or IPv6 address and a port.
struct ListenAddress {
    std::string host;  // "127.0.0.1", "::1", "0.0.0.0"
    int port = 0;
    bool loopback = false;  // 127.0.0.0/8 or ::1: only this machine can connect
};

// "127.0.0.1:8600", "[::1]:8600" or "0.0.0.0:8600". Host names are refused: what the program
// listens on must not depend on a name server. On failure, reason says why.
std::optional<ListenAddress> parse_listen_address(const std::string& text, std::string& reason);

// The settings of tarnel-web, from its configuration file and command line.
struct WebSettings {
    std::string listen = "127.0.0.1:8600";
    // One folder per station: NAME/status.json and NAME/control.sock.
    std::string run_dir = "/run/tarnel";
    // HTTP basic authentication; required when listening on anything but loopback.
    std::string user;
    std::string password;
};

// The configuration file used when the command line names none; a missing one means defaults.
constexpr const char* kDefaultWebConfig = "/etc/tarnel/web.conf";

// Applies the text of a configuration file: "Key=Value" lines (Listen=, RunDir=, User=,
// Password=), the value to the end of the line; blank lines and lines starting with ';' or '#'
// are ignored. Returns one message per line that names no key ("line 3: ..."); those lines are
// skipped.
std::vector<std::string> apply_web_config(const std::string& text, WebSettings& settings);

// What the command line asks for.
struct CommandLine {
    enum class Action { kRun, kHelp, kVersion, kUsageError };
    Action action = Action::kRun;
    std::string config_file;  // empty: kDefaultWebConfig, when it exists
    std::optional<std::string> listen;
    std::optional<std::string> run_dir;
    std::string error;  // for kUsageError
};

CommandLine parse_command_line(const std::vector<std::string>& args);

std::string usage_text();

// Whether the settings can be served as they are: the listen address parses, and an address other
// than loopback comes with a user and a password. Returns an empty string, or the reason not.
std::string check_settings(const WebSettings& settings);

}  // namespace tarnel::web
