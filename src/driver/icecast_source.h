#pragma once

#include <memory>
#include <string>

#include "net/http_reply.h"
#include "net/title_update.h"
#include "net/transport.h"

namespace tarnel {

// Icecast's own source protocol: the stream is the body of an HTTP PUT to a mount on the base
// port, with the source's Basic credentials and the stream's details as ice- headers.

// The request head for method ("PUT", or the older "SOURCE"), with the stream's details from the
// settings; a PUT asks for "100 Continue". ice-description only when the description is not
// empty.
std::string icecast_source_request(const std::string& method, const std::string& mount_name);

// What a source request's reply means: go on streaming (100 Continue, 200), or the server does
// not know the method (405, 501). Every refusal throws SocketException with its text: 401 "Invalid
// Password", 403, any other status, a malformed reply.
enum class SourceAnswer { kAccepted, kMethodUnknown };
SourceAnswer judge_source_reply(const HttpReply& reply);

// What a reply that comes while the stream is being sent means. An interim reply (1xx, such as
// another "100 Continue") and a 200 (Icecast's acceptance after its "100 Continue", after which
// it reads on) are passed over: the function returns. Any other ends the stream by
// SocketException: 401 "Invalid Password", 403 the refused mount, a malformed reply, and
// "Unexpected reply from the server." for every other status.
void judge_reply_while_streaming(const HttpReply& reply);

// Connects to the base port by the route's transport and sends the PUT for its mount; a server
// that does not know PUT is asked once more by SOURCE on a new connection. Logs "Connection
// Success" and the summary lines, and returns the connection for streaming. Every failure throws
// SocketException.
std::unique_ptr<Transport> open_icecast_source(const ServerRoute& route);

}  // namespace tarnel
