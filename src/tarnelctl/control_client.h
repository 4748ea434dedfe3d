#pragma once

#include <chrono>
#include <string>

#include "tarnelctl/command_line.h"

namespace tarnel::ctl {

// How long tarnelctl waits for the station, from connecting to the end of the reply. The station
// serves requests between seconds; only a connection attempt to its server (up to about half a
// minute) keeps it from answering within a second.
constexpr std::chrono::seconds kReplyTimeout{40};

// The station's reply, or why it could not be had.
struct StationReply {
    bool reached = false;
    std::string failure;  // not reached: a message for the operator
    int status = 0;
    std::string body;
};

// Sends call over HTTP/1.1 to the control socket at path and reads the whole reply, all within
// timeout.
StationReply call_station(const std::string& path, const ControlCall& call,
                          std::chrono::milliseconds timeout = kReplyTimeout);

// The body of a reply whose head is complete: the bytes after the head, cut at its
// Content-Length when it has one. Nothing when the head is not a whole HTTP reply head.
struct ParsedReply {
    bool whole = false;  // the head is complete and the body has all its bytes
    int status = 0;
    std::string body;
};
ParsedReply parse_station_reply(const std::string& bytes, bool connection_closed);

}  // namespace tarnel::ctl
