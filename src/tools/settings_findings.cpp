#include "tools/settings_findings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "config/port_number.h"
#include "config/printable_text.h"
#include "config/settings.h"
#include "config/stdio_file.h"
#include "net/socket_exception.h"
#include "net/tls_context.h"
#include "tools/media_check.h"

namespace tarnel {
namespace {

constexpr int kMaxPort = 65535;

void add(std::vector<Finding>& findings, Severity severity, const char* problem,
         const std::string& file, const std::string& detail) {
    findings.push_back(Finding{severity, problem, file, detail});
}

// What in a mount the server does not take as part of its path, or nothing.
const char* mount_stop(const std::string& mount_name) {
    if (mount_name.find('?') != std::string::npos) {
        return "a \"?\"";
    }
    if (mount_name.find('#') != std::string::npos) {
        return "a \"#\"";
    }
    if (mount_name.find(' ') != std::string::npos) {
        return "a space";
    }
    return nullptr;
}

// Why the trust file cannot be used: it cannot be opened, or OpenSSL finds no certificate in it.
std::string ca_file_failure(const std::string& path) {
    if (!open_regular_file(path)) {
        return open_failure(path);
    }
    try {
        tls_client_context(path);
    } catch (const SocketException&) {
        return "it holds no PEM certificate";
    }
    return "";
}

// Why the log file at path cannot be written.
std::string log_failure(const std::string& path) {
    if (path.empty()) {
        return "it names no file";
    }
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const std::string directory = parent.empty() ? "." : parent.string();
    struct stat info {};
    if (stat(directory.c_str(), &info) != 0) {
        return "its directory " + directory + ": " + std::strerror(errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        return "its directory " + directory + " is not a directory";
    }
    if (lstat(path.c_str(), &info) != 0) {
        return access(directory.c_str(), W_OK) == 0
                   ? ""
                   : "its directory " + directory + ": " + std::strerror(errno);
    }
    if (S_ISLNK(info.st_mode)) {
        return "it is a symbolic link, which tarnel does not follow";
    }
    if (!S_ISREG(info.st_mode)) {
        return S_ISDIR(info.st_mode) ? "it is a directory" : "it is not a regular file";
    }
    return access(path.c_str(), W_OK) == 0 ? "" : std::strerror(errno);
}

std::string current_directory() {
    std::error_code error;
    return std::filesystem::current_path(error).string();
}

}  // namespace

void add_settings_findings(const SettingsFacts& facts, const std::string& config_path,
                           std::vector<Finding>& findings) {
    if (facts.server.empty()) {
        add(findings, Severity::kError, "server is empty", config_path,
            "Server= is empty: tarnel cannot connect");
    }
    const std::optional<int> base = port_number(facts.port);
    if (!base) {
        add(findings, Severity::kError, "port is not valid", config_path,
            "Port=" + printable_text(facts.port) +
                " is not a whole number from 1 to 65535: tarnel cannot connect (\"Could not "
                "bind to port.\")");
    } else if (*base == kMaxPort && facts.mount.empty()) {
        add(findings, Severity::kError, "port is not valid", config_path,
            "Port=65535: the legacy source connection goes to port + 1, which is no port");
    }
    if (const char* stop = mount_stop(facts.mount)) {
        add(findings, Severity::kError, "mount is not a plain path", config_path,
            "Mount=" + printable_text(facts.mount) + " holds " + stop +
                ": the server reads the mount only up to it, so the stream goes to another "
                "mount than the title updates name, and every title update fails (\"Invalid "
                "Password\")");
    }
    if (!facts.ca_file_failure.empty()) {
        add(findings, facts.tls ? Severity::kError : Severity::kWarning,
            "TLS trust file cannot be used", config_path,
            "TLSCAFile=" + printable_text(facts.tls_ca_file) + ": " + facts.ca_file_failure +
                (facts.tls ? "; every connection fails with \"TLS: the certificates of "
                             "TLSCAFile could not be read.\""
                           : " (TLS=yes is not set, so it is not used now)"));
    }
    if (!facts.log_failure.empty()) {
        add(findings, Severity::kWarning, "log file cannot be written", config_path,
            "LogFile=" + printable_text(facts.logfile) + ": " + facts.log_failure +
                "; tarnel writes no log file (its lines still reach the console)");
    }
}

SettingsFacts settings_facts(const std::string& start_directory) {
    SettingsFacts facts;
    facts.server = server;
    facts.port = port;
    facts.mount = mount;
    facts.tls = tls;
    facts.tls_ca_file = tls_ca_file;
    facts.logfile = logfile;
    if (!tls_ca_file.empty()) {
        facts.ca_file_failure = ca_file_failure(tls_ca_file);
    }
    if (logfile != "NULL") {
        const bool relative = !logfile.empty() && logfile[0] != '/';
        facts.log_failure = log_failure(relative ? start_directory + "/" + logfile : logfile);
        const std::string here = current_directory();
        if (facts.log_failure.empty() && relative && here != start_directory) {
            facts.log_failure = log_failure(logfile);
            if (!facts.log_failure.empty()) {
                facts.log_failure +=
                    " (seen from " + here + ", where the playlist's \"#cd\" leaves tarnel)";
            }
        }
    }
    return facts;
}

}  // namespace tarnel
