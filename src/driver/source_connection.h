#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "net/client_socket.h"

namespace tarnel {

// Real servers drop stream bytes that arrive in the same read as the header block, and refuse a
// title update that comes within a few tens of milliseconds of it; this pause after the headers
// lets the server finish the log-in before anything else is sent.
constexpr std::chrono::milliseconds kAfterHeadersPause{200};

// The port of the source connection: the configured base port (as by atoi) plus one.
int source_port();

// The header block that announces the stream, one element per line and per send; the last
// element ends with the empty line. An empty description is left out, every other line is sent
// even when its value is empty.
std::vector<std::string> source_header_lines();

// The three summary lines logged once the stream is announced.
std::vector<std::string> source_summary_lines();

// Whether the server's first reply accepts the password.
bool login_accepted(const std::string& reply);

// Connects to the server's source port, logs in with the password and announces the stream with
// the header block, logging "Connection Success" and the summary lines. Returns the open
// connection for streaming; every failure throws SocketException.
ClientSocket open_source_connection();

}  // namespace tarnel
