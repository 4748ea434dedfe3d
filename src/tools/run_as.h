#pragma once

#include <string>

namespace tarnel {

// Where the service unit tarnel@NAME runs a station: its configuration file, its working
// directory (the unit's StateDirectory, which systemd keeps under /var/lib) and its user.
struct StationPlace {
    std::string config_file;
    std::string directory;
    std::string user;
};
StationPlace station_place(const std::string& name);

// Makes this process run as the user name (its groups, group and user id, as systemd sets them
// for User=), for good. Returns an empty string, or why it could not ("no user tarnel", or the
// system's text for the failed call). Only root can change to another user.
std::string become_user(const std::string& name);

}  // namespace tarnel
