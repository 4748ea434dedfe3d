#pragma once

#include <string>

namespace tarnel {

// Operator settings, process-wide. Numbers stay as the decimal text from the configuration file
// and are converted where they are used (the port by base_port_number(), the others as by atoi).
extern std::string server;
extern std::string port;
extern std::string password;
extern std::string playlist;
extern bool autoreconnect;
extern bool screenlog;
extern bool realtime;
extern int subtitle_mode;  // -1 none, 1 script, 2 debug, 3 clock, 4 tag; 0 (unset) acts as none
extern std::string sub_x;
extern std::string sub_y;
extern std::string sub_red;
extern std::string sub_green;
extern std::string sub_blue;
extern std::string logfile;  // "NULL" turns the log file off
extern std::string streamname;
extern std::string description;
extern std::string genre;
extern std::string ispublic;  // "1" or "0"
extern std::string bitrate;
extern std::string url;
extern std::string irc;
extern std::string icq;
extern std::string aim;
extern std::string status_file;  // path of the JSON status file; empty: none
// The control socket (a Unix stream socket, read at start-up only) and the as-run log (one JSON
// line per item that went on air); empty: none.
extern std::string control_socket;
extern std::string as_run_log;
// Icecast's own source protocol and TLS. An empty mount keeps the legacy protocol (password on
// port + 1, title update through /admin.cgi); a mount ("/" first) selects a PUT to that mount on
// the base port, authenticated as user. tls wraps every connection in TLS, verified against the
// system's trust store or, when tls_ca_file is not empty, the certificates of that PEM file.
extern std::string mount;
extern std::string user;
extern bool tls;
extern std::string tls_ca_file;

extern std::string config_file;

enum SubtitleMode {
    kSubtitleNone = -1,
    kSubtitleUnset = 0,
    kSubtitleScript = 1,
    kSubtitleDebug = 2,
    kSubtitleClock = 3,
    kSubtitleTag = 4
};

// The project version of the build, so the program and its package always name the same one.
constexpr const char* kVersion = TARNEL_VERSION;
constexpr const char* kPlatform = "posix";
constexpr const char* kHomePage = "https://example.org/tarnel";

// Puts every setting and config_file back to its default (the state before main runs).
void reset_settings();

}  // namespace tarnel
