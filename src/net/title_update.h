#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tarnel {

// Every byte outside A-Z a-z 0-9 - . _ ~ as %XX (uppercase hex), so no value can split the query
// or end the request line.
std::string percent_encode(const std::string& value);

// The title update request, one element per send: a GET of /admin.cgi with the password, the
// title and the URL (each percent-encoded), then the User-Agent line and the empty line.
std::vector<std::string> title_update_request(const std::string& pass, const std::string& title,
                                              const std::string& link);

// Icecast's title update for a mount, sent whole: a GET of /admin/metadata with the mount and the
// title percent-encoded, the Host, the source's Basic credentials and the User-Agent.
std::string metadata_request(const std::string& host, int port_number,
                             const std::string& mount_name, const std::string& user_name,
                             const std::string& pass, const std::string& title);

// How the program reaches the server: the legacy protocol when mount is empty (source on port + 1,
// titles by /admin.cgi), otherwise Icecast's for that mount (source and titles on the base port);
// in TLS or not. A source connection keeps the route of its start, for its titles too, so a
// reloaded configuration changes it only with the next connection.
struct ServerRoute {
    std::string mount;
    bool tls = false;
};

// The route that the settings name now.
ServerRoute current_server_route();

// Everything one title update needs, taken from the settings when it is made, so that the update
// can run on a thread of its own while the main flow goes on (and may reload the settings).
struct TitleUpdateJob {
    std::string server;
    int base_port = 0;
    ServerRoute route;
    std::string user;
    std::string password;
    std::string ca_file;  // TLSCAFile
    std::string title;
    std::string link;
    std::chrono::milliseconds time_limit{0};  // for the whole update
};

// The job for title and link by route, from the settings and net_timeouts.title_update.
TitleUpdateJob title_update_job(const std::string& title, const std::string& link,
                                const ServerRoute& route);

// Carries the job out and returns the line that tells its outcome: "Title Updated (" + title +
// ")" or "Error Updating Title(" + the failure + ")". Logs nothing and never throws; it touches
// no process-wide state but the console, where the socket layer prints a failed name lookup.
std::string run_title_update(const TitleUpdateJob& job);

// Tells the streaming server (server, base port) which title now plays, by route. The legacy
// request's answer is never read; Icecast's must be a 200. Logs "Title Updated (" + title + ")"
// or "Error Updating Title(" + the failure + ")"; never throws, and gives up after
// net_timeouts.title_update.
void update_title(const std::string& title, const std::string& link, const ServerRoute& route);

// The same by the route of the settings.
void update_title(std::string title, std::string link);

}  // namespace tarnel
