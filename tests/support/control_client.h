#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "support/loopback_listener.h"

namespace tarnel::test {

// A blocking connection to the Unix stream socket at path, whose sends and receives give up after
// 5 s; an empty Descriptor when it cannot connect. With non_blocking, the connection is made
// without waiting (for floods of clients).
Descriptor connect_unix(const std::string& path, bool non_blocking = false);

// Sends bytes over connection and reads until the peer closes or timeout passes: all it got.
std::string send_and_read(const Descriptor& connection, const std::string& bytes,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// A reply of the control socket: its status (0 when none came), its JSON body (null when it is
// not JSON) and every byte of it.
struct ControlAnswer {
    int status = 0;
    nlohmann::json body;
    std::string raw;
};
ControlAnswer answer_of(const std::string& raw);

// One request to the control socket at path, as curl --unix-socket would send it.
ControlAnswer control_request(const std::string& path, const std::string& method,
                              const std::string& target, const std::string& body = "");

}  // namespace tarnel::test
