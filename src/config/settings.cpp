#include "config/settings.h"

namespace tarnel {

std::string server;
std::string port;
std::string password;
std::string playlist;
bool autoreconnect;
bool screenlog;
bool realtime;
int subtitle_mode;
std::string sub_x;
std::string sub_y;
std::string sub_red;
std::string sub_green;
std::string sub_blue;
std::string logfile;
std::string streamname;
std::string description;
std::string genre;
std::string ispublic;
std::string bitrate;
std::string url;
std::string irc;
std::string icq;
std::string aim;
std::string status_file;
std::string control_socket;
std::string as_run_log;
std::string mount;
std::string user;
bool tls;
std::string tls_ca_file;

std::string config_file;

void reset_settings() {
    server = "127.0.0.1";
    port = "8000";
    password = "swapthis";
    playlist = "playlist.plo";
    autoreconnect = false;
    screenlog = true;
    realtime = true;
    subtitle_mode = kSubtitleUnset;
    sub_x = "0";
    sub_y = "0";
    sub_red = "255";
    sub_green = "255";
    sub_blue = "255";
    logfile = "tarnel.log";
    streamname = "Unnamed Server";
    description.clear();
    genre = "Unknown Genre";
    ispublic = "1";
    bitrate = "0";
    url = kHomePage;
    irc = "N/A";
    icq = "N/A";
    aim = "N/A";
    status_file.clear();
    control_socket.clear();
    as_run_log.clear();
    mount.clear();
    user = "source";
    tls = false;
    tls_ca_file.clear();
    config_file = "tarnel.conf";
}

namespace {
// Defaults are in force before main runs; reset_settings() is their one source.
const bool defaults_applied = (reset_settings(), true);
}  // namespace

}  // namespace tarnel
