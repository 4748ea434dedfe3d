#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "net/client_socket.h"
#include "net/title_update.h"
#include "net/transport.h"

namespace tarnel {

// Real servers drop stream bytes that arrive in the same read as the header block, and refuse a
// title update that comes within a few tens of milliseconds of it; this pause after the headers
// lets the server finish the log-in before anything else is sent.
constexpr std::chrono::milliseconds kAfterHeadersPause{200};

// An open source connection as the streaming loop sees it: the stream's bytes go out on it, and
// each file's title goes to the same server by the protocol and transport that the connection
// was opened with. Move-only; destruction closes the connection.
class SourceConnection {
  public:
    SourceConnection(std::unique_ptr<Transport> transport, ServerRoute route)
        : transport_(std::move(transport)), route_(std::move(route)) {}

    // Sends every byte; throws SocketException "Could not write to socket.".
    void swrite(const char* data, size_t length) const { transport_->write_all(data, length); }
    // Logs its outcome and never throws (see update_title).
    void update_title(const std::string& title, const std::string& link) const {
        tarnel::update_title(title, link, route_);
    }
    // The update of title and link for this connection's route, to be run beside the stream.
    TitleUpdateJob title_update(const std::string& title, const std::string& link) const {
        return title_update_job(title, link, route_);
    }

    // The connection's descriptor: readable when the server has sent something or closed.
    int descriptor() const { return transport_->wait_descriptor(); }
    // Takes what the server has sent while the stream goes on, without waiting. By Icecast's
    // protocol the server may still answer the request after its "100 Continue" (a proxy's 401
    // or 500): a final reply ends the stream (see judge_reply_while_streaming) by
    // SocketException with its text; interim replies are passed over. The legacy protocol has
    // nothing to say after the log-in, so whatever comes is dropped. A close ends the stream as
    // a send into the closed connection would: "Could not write to socket.".
    void take_server_reply();

  private:
    std::unique_ptr<Transport> transport_;
    ServerRoute route_;
    std::string reply_;  // an Icecast reply head received so far
};

// The port of the source connection: the configured base port plus one, or 0 (refused by every
// connection) when Port= names no port.
int source_port();

// The header block that announces the stream, one element per line and per send; the last
// element ends with the empty line. An empty description is left out, every other line is sent
// even when its value is empty.
std::vector<std::string> source_header_lines();

// The three summary lines logged once the stream is announced, and their logging.
std::vector<std::string> source_summary_lines();
void log_source_summary();

// Whether the server's first reply accepts the password.
bool login_accepted(const std::string& reply);

// The legacy log-in on an open connection to the source port: the password, the reply, the
// header block, "Connection Success" and the summary lines, then kAfterHeadersPause. Every
// failure throws SocketException.
void legacy_login(Transport& connection);

// A plain connection to the server's source port after the legacy log-in. Returns the open
// connection for streaming; every failure throws SocketException.
ClientSocket open_source_connection();

// Opens the source connection that the settings name: the legacy protocol on port + 1 when Mount
// is empty, Icecast's on the base port otherwise; in TLS when TLS is on. Every failure throws
// SocketException.
SourceConnection open_source();

}  // namespace tarnel
