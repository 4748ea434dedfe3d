#pragma once

// Settings that tarnel takes without a word but that cannot work: a port that is no port, no
// server, a mount the server reads otherwise, a TLS trust file or a log file that cannot be used.

#include <string>
#include <vector>

#include "tools/station_report.h"

namespace tarnel {

// The settings that check looks at, and what was found on disk about the files they name.
struct SettingsFacts {
    std::string server;
    std::string port;
    std::string mount;
    bool tls = false;
    std::string tls_ca_file;
    std::string ca_file_failure;  // why TLSCAFile= cannot be used; empty when it can (or is unset)
    std::string logfile;
    std::string log_failure;  // why no log file can be written; empty when it can (or is "NULL")
};

// The findings for facts, against the configuration file config_path. Pure: no file is read.
void add_settings_findings(const SettingsFacts& facts, const std::string& config_path,
                           std::vector<Finding>& findings);

// The facts of the current settings. TLSCAFile= is loaded as tarnel loads it, from the working
// directory (where the playlist's "#cd" leaves tarnel when it connects); LogFile= is looked at
// from start_directory, where tarnel logs its first lines, and from the working directory too
// when that differs and the path is relative.
SettingsFacts settings_facts(const std::string& start_directory);

}  // namespace tarnel
