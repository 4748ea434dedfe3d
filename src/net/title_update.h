#pragma once

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

// Tells the streaming server's administration page (server, base port) which title now plays.
// The answer is never read. Logs "Title Updated (" + title + ")" or "Error Updating Title(" +
// the failure + ")"; never throws, and gives up after net_timeouts.title_update.
void update_title(std::string title, std::string link);

}  // namespace tarnel
