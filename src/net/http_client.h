#pragma once

#include <string>

#include "net/http_reply.h"
#include "net/transport.h"

namespace tarnel {

// The pieces of the program's HTTP requests to Icecast (source and title update).

// The value of an "Authorization: Basic" header for a user name and its password.
std::string basic_credentials(const std::string& name, const std::string& secret);

// The value of a "Host" header: host and port, an IPv6 address in brackets.
std::string host_header(const std::string& host, int port_number);

// The User-Agent of these requests: the program's name, version and platform.
std::string http_user_agent();

// Receives until the reply's head is complete or cannot be one (see parse_http_reply). The whole
// head must come within net_timeouts.receive (and the connection's deadline), however its bytes
// trickle in; a close, or a head that is not complete in time, throws "Could not read from
// socket.".
HttpReply read_http_reply(Transport& connection);

}  // namespace tarnel
